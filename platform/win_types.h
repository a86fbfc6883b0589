// The handful of Windows types the program's windows are written with.
#pragma once

#include <cstdint>

using BOOL = int;
using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

class QWidget;
// A window that can receive messages: see window_messages.h.
struct WindowHandle;
using HWND = WindowHandle*;

constexpr UINT WM_USER = 0x0400;
