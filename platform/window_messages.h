// Synchronous window messages between the program's threads.
//
// A window registers itself on the main (user-interface) thread with the
// function that handles its messages. SendMessageA called on the main thread
// handles the message at once; called from any other thread it hands the
// message to the main thread's event loop and waits until it has been
// handled, so a text passed by pointer in lParam needs to live only for the
// call. Once the window begins to close, every waiting and every later send
// to it returns 0 at once, and a message that was handed over but not yet
// handled is dropped unhandled, so shutdown never waits for a thread that
// waits for the window.
#pragma once

#include <functional>

#include "win_types.h"

using MessageHandler = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;

// Main thread only. widget may be null (a window with no widget of its own).
HWND RegisterWindow(QWidget* widget, MessageHandler handler);
// Main thread only: from now on sends to the window return 0 without being
// handled. Waiting senders are released at once.
void BeginClosing(HWND window);
// Main thread only: forgets the window (after BeginClosing). Its handle must
// not be used again; sends that still arrive with it return 0.
void UnregisterWindow(HWND window);

// Any thread.
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The widget a window was registered with, or null.
QWidget* WidgetOf(HWND window);

// Any thread: how many senders on other threads are blocked right now in
// SendMessageA, waiting for the main thread to handle their message to the
// window. A sender counts from the moment it has handed its message over
// and gone to sleep until the moment it is released, so a test can tell
// that a send is really waiting before it goes on.
int WaitingSends(HWND window);
