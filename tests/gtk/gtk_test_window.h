// gtk_test_window.h - what the desktop backend's tests share: a resource table of their own
// (menu 101, dialog panels 102 and 103, icons 107 and 108), a window class whose procedure
// records every message and behaves like the program's (Escape closes, WM_DESTROY quits),
// the program's way of making its 600 x 480 window, and a message loop with a time limit.
//
// Threads: main thread only. Ownership: the fixture destroys every window it made.
#pragma once

#include "platform/win_api.h"
#include "platform/gtk/gtk_backend.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace gtktest {

constexpr int menuId = 101;
constexpr int aboutId = 102;
constexpr int smallPanelId = 103;
constexpr int iconId = 107;
constexpr int smallIconId = 108;
constexpr int openCommand = 40001;
constexpr int exitCommand = 40003;
constexpr int aboutCommand = 40004;
constexpr int delayOffCommand = 40020;  // View > Sound Delay, a popup inside a popup
constexpr int delayShortCommand = 40021;
constexpr int closeButton = 1003;
constexpr int clientWidth = 600;
constexpr int clientHeight = 480;
extern const char* const windowTitle;
extern const char* const aboutCaption;

struct Seen {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam = 0;
};

// Every message the test window and panels received, in order.
std::vector<Seen>& seen();
bool sawMessage(HWND window, UINT message, WPARAM wParam);

// The dialog procedure of the test panels: Close hides the panel with EndDialog.
INT_PTR CALLBACK panelProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the message loop until WM_QUIT (returning its exit code) or timeoutMs (returning -1).
int runLoop(int timeoutMs = 5000);
// Dispatches queued messages until pred() holds or timeoutMs passes.
bool dispatchUntil(const std::function<bool()>& pred, int timeoutMs = 5000);

class GtkWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Makes, shows and waits for the main window as the program does; null on failure.
    HWND makeMainWindow();
    HWND window = nullptr;
};

}  // namespace gtktest
