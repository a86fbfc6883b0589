// The rest of what the windows ask of the system: the default beep, a
// caption flash, opening a link, message boxes and the program's folder.
#pragma once

#include <string>

#include "win_types.h"

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr int SW_SHOWNORMAL = 1;

// The system's default beep (type 0). Any thread.
BOOL MessageBeep(UINT type);

// Flashes the window's caption once (invert: toggles between the usual and
// the flashed look; without invert the usual look comes back). The flashed
// look is the caption's text between two arrows, since desktops draw
// captions themselves; a hidden window gets its usual caption back and 0.
// Returns whether the caption was flashed before the call. Main thread.
BOOL FlashWindow(HWND window, BOOL invert);

// Opens file (a web or mailto: link) with the desktop's default program.
// Returns a value above 32 on success, as the Windows call does. Main thread.
std::intptr_t ShellExecuteA(HWND owner, const char* operation, const char* file,
                            const char* parameters, const char* directory, int show);

// From now on message boxes are not shown but written to standard error,
// one line each, and answered OK at once: for a shutdown that the system
// asked for, where nobody may be there to press OK. Main thread.
void WriteMessageBoxesToStandardError();

// A modal message box with an OK button; caption null gives the program's
// default caption ("Error" for MB_ICONERROR). Texts are windows-1251 bytes
// (or UTF-8), shown by the program's text rule. Main thread.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

// The folder of the program's executable, with its trailing separator.
std::string ProgramFolder();

// Moves a top-level window, frame included, to the centre of its screen's
// free area. Main thread.
void CentreOnScreen(QWidget* window);
