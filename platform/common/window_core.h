// window_core.h - the window system shared by every backend on platforms without Win32:
// window classes, window objects and handles, per-window data, the message queue,
// SendMessage, DispatchMessage, DefWindowProc, DestroyWindow and the dialog manager's
// bookkeeping. Backends (platform/headless, platform/gtk) add only the native parts through
// the hooks of backend.h.
//
// Threads: main thread only, like the windows themselves.
// Ownership: the core owns every Window; handles are ids, so a destroyed window's handle
// is simply unknown afterwards and never dangles.
#pragma once

#ifndef _WIN32

#include <cstdint>
#include <string>
#include <vector>

#include "platform/module_resources.h"
#include "platform/win_api.h"

namespace platform {

struct WindowClass {
    std::string name;
    UINT style = 0;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    HICON icon = nullptr;
    HICON smallIcon = nullptr;
    int menuId = 0;  // from lpszMenuName as an integer resource
};

struct Window {
    HWND handle = nullptr;
    HWND parent = nullptr;
    std::string className;
    std::string title;
    DWORD style = 0;
    DWORD exStyle = 0;
    WNDPROC proc = nullptr;     // class procedure of an ordinary window
    DLGPROC dialogProc = nullptr;  // dialog procedure of a dialog
    const DialogDesc* dialog = nullptr;
    const MenuDesc* menu = nullptr;
    HMENU menuBar = nullptr;    // made from menu before the native side (menus.h)
    HICON icon = nullptr;
    HICON smallIcon = nullptr;
    int x = 0, y = 0;           // requested position (CW_USEDEFAULT allowed)
    int width = 0, height = 0;  // requested outer size
    LONG_PTR userData = 0;
    bool visible = false;
    bool destroying = false;
    HDC dc = nullptr;           // the class-owned device context, made on first GetDC
    void* native = nullptr;     // the backend's own object
};

// Finds a live window; null for an unknown or destroyed handle.
Window* findWindow(HWND handle);
// Every live window, in creation order.
std::vector<Window*> liveWindows();
// The window whose DC this is, or null when dc is not a window DC.
Window* windowOfDc(HDC dc);

// Appends to the thread's message queue.
void postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// True when a WM_QUIT is queued or was taken already (tests use it).
bool quitPosted();

// Resets the whole window system (tests only: between test cases).
void resetWindowCore();

}  // namespace platform

#endif
