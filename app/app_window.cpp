// The window framework: class registration, window creation, the window procedure, frame
// pacing, the back buffer and the input snapshot.
#include "app/app_window.h"

#include <cmath>

#include "app/menu_commands.h"
#include "app/resource_ids.h"
#include "tutor/mouse_wheel.h"
#include "tutor/tutor_app.h"

AppWindow appWindow;
InputSnapshot inputSnapshot;
float frameAccumulator = 0.0f;
int32_t classRegistrationCount = 0;

namespace {
const char* const className = "DefaultWindow";
// The part of a wheel turn over a slider that is not yet a whole notch (the one window's).
WheelRest wheelRest;
}

bool AppWindow::registerWindowClass() {
    // The class is registered once per process; a failed attempt is not repeated.
    if (classRegistrationCount++ != 0) return true;
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(WNDCLASSEXA);
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
    windowClass.lpfnWndProc = windowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
    windowClass.hCursor = static_cast<HCURSOR>(
        LoadImageA(nullptr, MAKEINTRESOURCEA(32512), IMAGE_CURSOR, 0, 0, LR_SHARED));
    windowClass.hbrBackground = nullptr;
    windowClass.lpszMenuName = MAKEINTRESOURCEA(menuId);
    windowClass.lpszClassName = className;
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP_SMALL));
    return RegisterClassExA(&windowClass) != 0;
}

bool AppWindow::create(HINSTANCE newInstance, const WindowDesc& description) {
    if (instance || !newInstance) return false;
    instance = newInstance;
    style = description.style;
    exStyle = description.exStyle;
    menuId = description.menuId;

    // The failures inside this block are raised as bare texts and end up here: create
    // reports false and keeps whatever it had made.
    try {
        if (!registerWindowClass()) throw "Couldn't register WNDCLASSEX";
        windowRect = RECT{0, 0, description.width, description.height};
        int x = description.x < 0 ? CW_USEDEFAULT : description.x;
        int y = description.y < 0 ? CW_USEDEFAULT : description.y;
        AdjustWindowRectEx(&windowRect, style, FALSE, exStyle);
        window = CreateWindowExA(exStyle, className, description.title, style, x, y,
                                 windowRect.right - windowRect.left,
                                 windowRect.bottom - windowRect.top, nullptr, nullptr, instance,
                                 this);
        if (!window) throw "Couldn't create the window";
        windowDC = GetDC(window);
        if (!windowDC) throw "Couldn't get HDC";
    } catch (const char*) {
        return false;
    }

    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    frameInterval = 1.0f / 60.0f;
    timer = new FrameTimer();
    if (!timer->init()) return false;
    return createBackBuffer();
}

bool AppWindow::createBackBuffer() {
    if (!backBuffer) backBuffer = new Surface();
    return backBuffer->create(windowRect.right, windowRect.bottom, 4);
}

void AppWindow::setFrameRate(uint32_t framesPerSecond) {
    frameInterval = static_cast<float>(1.0 / framesPerSecond);
}

bool AppWindow::frameDue(bool now) {
    timer->tick();
    frameAccumulator += timer->elapsedF;
    if (frameAccumulator > frameInterval || now) {
        frameTime = frameAccumulator;
        frameAccumulator = 0.0f;
        inputSnapshot.takeSnapshot();
        return true;
    }
    return false;
}

DWORD AppWindow::millisecondsToFrame() const {
    const double remaining = static_cast<double>(frameInterval) - frameAccumulator;
    const double milliseconds = std::ceil(remaining * 1000.0);
    return milliseconds < 1.0 ? 1 : static_cast<DWORD>(milliseconds);
}

void AppWindow::clearBackBuffer() { backBuffer->fill(0, 0, 0); }

void AppWindow::present() {
    BitBlt(windowDC, 0, 0, windowRect.right, windowRect.bottom, backBuffer->memoryDc, 0, 0,
           SRCCOPY);
}

LRESULT AppWindow::handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            if (onDestroy) onDestroy();
            Sleep(30);
            PostQuitMessage(0);
            return 0;
        case WM_ACTIVATE:
            return 0;
        case WM_PAINT:
            repaintNeeded = true;
            return DefWindowProcA(hwnd, message, wParam, lParam);
        case WM_LBUTTONDOWN:
            inputSnapshot.leftPressLatched = true;
            return 0;
        case WM_MOUSEWHEEL: {
            // The cursor comes in screen coordinates, as two signed words (a monitor left of
            // or above the primary one has negative ones).
            POINT at{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
            if (tutorApp && ScreenToClient(hwnd, &at) &&
                turnWheel(*tutorApp, wheelRest, at, GET_WHEEL_DELTA_WPARAM(wParam)))
                return 0;
            return DefWindowProcA(hwnd, message, wParam, lParam);
        }
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE) SendMessageA(hwnd, WM_CLOSE, 0, 0);
            return 0;
        case WM_COMMAND: {
            int id = LOWORD(wParam);
            if (id >= ID_COMMAND_FIRST && id <= ID_COMMAND_LAST) runMenuCommand(id);
            return DefWindowProcA(hwnd, message, wParam, lParam);
        }
        default:
            return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

AppWindow::~AppWindow() {
    if (backBuffer) {
        delete backBuffer;
        backBuffer = nullptr;
    }
    if (timer) {
        delete timer;
        timer = nullptr;
    }
    if (aboutDialog) DestroyWindow(aboutDialog);
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        // The AppWindow pointer goes in the pointer-sized user data, so it survives 64-bit.
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return 0;
    }
    auto* owner = reinterpret_cast<AppWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (owner) return owner->handleMessage(hwnd, message, wParam, lParam);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void InputSnapshot::takeSnapshot() {
    // A press whose message came after the last snapshot had already read the button down
    // (the state is read from the device, the message waits in the queue) was seen then.
    const bool pressUnseen = leftPressLatched && !keyDown[VK_LBUTTON];
    for (int code = 0; code < 256; ++code)
        keyDown[code] = (GetAsyncKeyState(code) & 0x8000) ? 1 : 0;
    if (pressUnseen) keyDown[VK_LBUTTON] = 1;
    leftPressLatched = false;
    GetCursorPos(&cursorPos);
}

POINT InputSnapshot::cursorInClient(HWND hwnd) const {
    POINT point = cursorPos;
    ScreenToClient(hwnd, &point);
    return point;
}
