// headless.h - the test backend's controls. The headless backend serves every window call
// without a display, with the same messages and dispatch as the desktop backend; tests use
// this header to set the pointer, post keys, menu commands, clicks and wheel turns, script
// the answers of message boxes and open-file dialogs, and read back what the program
// presented and showed.
//
// Geometry: a top-level window's client area has its top-left corner at screen (100, 80);
// the frame is 3 pixels on the left, right and bottom and 26 on top (caption), and the menu
// bar is 20 pixels high.
//
// Threads: main thread only (the test's thread).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/win_api.h"

namespace headless {

constexpr int clientOriginX = 100;
constexpr int clientOriginY = 80;
constexpr int menuBarHeight = 20;

// Destroys every window, empties the queue and forgets all input, scripts and records.
void reset();

// Pointer and keys, as GetAsyncKeyState and GetCursorPos will report them.
void setCursorScreen(int x, int y);
void setCursorClient(HWND window, int x, int y);
void setLeftButton(bool down);
// A press of the left button at the cursor, as the window receives it: the button reads down
// and WM_LBUTTONDOWN is queued with the cursor's client position. setLeftButton(false)
// releases it. False when the window does not exist.
bool pressLeftButton(HWND window);
// A turn of the mouse wheel at the cursor, as the window receives it: WM_MOUSEWHEEL queued
// with delta (WHEEL_DELTA a notch, positive away from the user) in the high word of wParam
// and the cursor's SCREEN position in lParam. False when the window does not exist.
bool turnWheel(HWND window, int delta);
void setKeyDown(int virtualKey, bool down);

// User actions, queued as the messages the window would receive. False when the target
// does not exist (or the menu has no such item).
bool pressKey(HWND window, int virtualKey);
bool chooseMenuItem(HWND window, int commandId);
bool clickCloseBox(HWND window);
bool clickDialogButton(HWND dialog, int controlId);

// The menu bar a window was created with: the items' texts and ids in order ("" and 0 for
// separators and popup ends; popups have id 0 and their text).
struct MenuEntry {
    std::string text;
    int id;
};
std::vector<MenuEntry> menuOf(HWND window);

// Message boxes: every box shown, and the answers the next boxes give (IDOK when none).
struct MessageBoxShown {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};
const std::vector<MessageBoxShown>& messageBoxes();
void clearMessageBoxes();
void answerNextMessageBox(int answer);
// Called while a box is up (the box is modal: the caller is blocked meanwhile).
void onMessageBox(std::function<void(const MessageBoxShown&)> hook);

// Open-file dialogs: the answers the next dialogs give (a path as the user would type or
// pick it; "" cancels; cancel when none is scripted), and every request seen.
void answerNextOpenFile(const std::string& path);
struct OpenFileAsked {
    std::string title;
    std::string initialDir;
    std::vector<std::string> filterDescriptions;
    std::string defaultExtension;
    DWORD flags;
    DWORD maxFile;
    HWND owner;
};
const std::vector<OpenFileAsked>& openFileRequests();
void clearOpenFileRequests();

// Frames presented to a window: the client area's pixels, top row first; at() gives
// 0xRRGGBB.
struct Frame {
    HWND window = nullptr;
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF; }
};
int presentedFrameCount();
const Frame& lastFrame();
// Called with every presented frame (keep it cheap).
void onPresent(std::function<void(const Frame&)> hook);

// Waits of the message loop (MsgWaitForMultipleObjects with nothing queued): how many, and
// a hook called after each with its time-out (it may post messages).
int waitCount();
void onWait(std::function<void(DWORD)> hook);

// Dialog panels: where a panel lies in its parent's client area, in pixels, and whether
// it is shown.
struct PanelState {
    bool exists = false;
    bool visible = false;
    int x = 0, y = 0, width = 0, height = 0;
    std::string caption;
};
PanelState panelState(HWND dialog);

// ShellExecuteA: every request seen; while failing is set, requests fail with
// SE_ERR_NOASSOC (else they succeed when the file exists, and fail with
// ERROR_FILE_NOT_FOUND when it does not).
struct ShellRequest {
    HWND owner;
    std::string operation;
    std::string file;
    int showCommand;
};
const std::vector<ShellRequest>& shellRequests();
void failShellExecute(bool failing);

}  // namespace headless
