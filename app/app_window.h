// app_window.h - the window framework: the one main window with its class, device context,
// frame pacing and back buffer; the per-frame input snapshot; the window procedure.
//
// The program has exactly one AppWindow (appWindow), made before the entry runs and
// destroyed at process end. create makes the window, its timer and its back buffer; each
// frame, frameDue decides whether a frame is due (taking the input snapshot when it is),
// clearBackBuffer blackens the back buffer and present copies it into the window.
//
// Threads: main thread only. Ownership: the AppWindow owns the back buffer, the timer and
// the last About panel; the window itself is destroyed by closing it.
#pragma once

#include <cstdint>

#include "platform/frame_timer.h"
#include "gfx/surface.h"
#include "platform/win_api.h"

struct WindowDesc {
    const char* title = nullptr;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t x = -1;  // negative: the platform places the window
    int32_t y = -1;
    uint32_t menuId = 0;
};

class AppWindow {
public:
    HINSTANCE instance = nullptr;
    HWND window = nullptr;
    HWND aboutDialog = nullptr;
    HDC windowDC = nullptr;
    RECT windowRect{0, 0, 0, 0};
    uint32_t style = 0;
    uint32_t exStyle = 0;
    uint32_t menuId = 0;
    float frameInterval = 0.0f;
    float frameTime = 0.0f;
    Surface* backBuffer = nullptr;
    FrameTimer* timer = nullptr;
    // Set when the window system asks for the window to be painted again (WM_PAINT): the
    // next frame is presented even if it shows what the last one showed.
    bool repaintNeeded = true;
    // Called as the window is destroyed, before the quit is posted (the program stops its
    // playback there).
    void (*onDestroy)() = nullptr;

    AppWindow() = default;
    AppWindow(const AppWindow&) = delete;
    AppWindow& operator=(const AppWindow&) = delete;
    virtual bool create(HINSTANCE instance, const WindowDesc& description);
    virtual LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    virtual ~AppWindow();

    bool registerWindowClass();
    bool createBackBuffer();
    void setFrameRate(uint32_t framesPerSecond);
    // Whether a frame is due: a frame interval has passed since the last one, or `now` asks
    // for one at once (the next frame of the grid then follows a whole interval later).
    bool frameDue(bool now = false);
    // Whole milliseconds until frameDue can next report a frame (at least 1), for the loop
    // to wait that long when no message is waiting.
    DWORD millisecondsToFrame() const;
    void clearBackBuffer();
    void present();
};

// The per-frame input: key and button states by virtual-key code, and the cursor in
// screen coordinates. Refreshed by frameDue on each due frame.
//
// The left button is read once a frame, so a click whose press and release both fall
// between two frames (a touchpad tap, an assistive tool) would never be seen: the window
// procedure latches each press the window receives (WM_LBUTTONDOWN), and the next snapshot
// reads the button as down even if it is already up again. That frame then sees the press
// and the one after it the release, as for a press held over one frame. A press still held
// at the snapshot reads as down anyway, and a press message that arrives after a snapshot
// which already read the button down adds nothing, so a press is seen once, never twice.
struct InputSnapshot {
    uint8_t keyDown[256] = {};
    POINT cursorPos{0, 0};
    bool leftPressLatched = false;  // a press since the last snapshot

    void takeSnapshot();
    // The cursor in the given window's client coordinates (cursorPos is not changed).
    POINT cursorInClient(HWND window) const;
};

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Process-wide framework state.
extern AppWindow appWindow;
extern InputSnapshot inputSnapshot;
extern float frameAccumulator;
extern int32_t classRegistrationCount;

