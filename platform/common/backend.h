// backend.h - what a backend adds to the shared window system: the native window, menu bar
// and menu marks, presentation of frames, pointer state, message boxes, the open-file dialog
// and dialog panels. Exactly one backend is linked into a program (headless for tests, gtk
// for the desktop); each defines every function here.
//
// Threads: main thread only.
// Ownership: a backend owns what it stores in Window::native and frees it in destroyWindow.
#pragma once

#ifndef _WIN32

#include "platform/common/menus.h"
#include "platform/common/window_core.h"

namespace platform::backend {

// The frame around a client area: how far the outer window extends beyond the client
// rectangle on each side, for a window without a menu bar (what AdjustWindowRectEx adds).
RECT frameInsets(DWORD style, DWORD exStyle);

// Height of a menu bar that the client area loses.
int menuBarHeight();

// Native window for a top-level window or a dialog panel (window.parent set). False when
// the native side cannot be made.
bool createWindow(Window& window);
void destroyWindow(Window& window);
void showWindow(Window& window, bool visible);

// Lets native events become queued messages. Never blocks.
void pumpEvents();
// Blocks until a native event is pending or milliseconds have passed; dispatches what
// arrived, so that pumpEvents finds it. True when something arrived.
bool waitForEvents(DWORD milliseconds);

// Shows a bottom-up, 4-byte-per-pixel image at the top-left of the window's client area;
// what lies outside the client area is clipped.
void present(Window& window, const uint8_t* pixels, int width, int height, int stride);

// Screen position of the client area's top-left corner.
POINT clientOrigin(const Window& window);
// Client area size in pixels.
POINT clientSize(const Window& window);

SHORT asyncKeyState(int virtualKey);
POINT cursorPos();

// The program has set the mark of menu.items[position] (its state, marked, radioGroup):
// show it. Called once per item that a CheckMenuItem or CheckMenuRadioItem reaches.
void menuItemMarked(Menu& menu, std::size_t position);

int messageBox(HWND owner, const char* text, const char* caption, UINT type);
// Asks for a file; the chosen full path (empty on cancel). The shared code applies the
// record's rules (default extension, existence, buffer size) to it.
bool chooseOpenFile(const OPENFILENAMEA& ofn, std::string& chosen);

}  // namespace platform::backend

#endif
