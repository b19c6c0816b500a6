// The window system shared by the backends: classes, windows, the message queue and the
// dialog manager's bookkeeping, with the semantics the program relies on from Windows.
#ifndef _WIN32

#include "platform/common/window_core.h"

#include <cstring>
#include <deque>
#include <map>
#include <memory>

#include "platform/common/backend.h"
#include "platform/common/gdi_memory.h"
#include "platform/common/menus.h"

namespace platform {
namespace {

constexpr UINT WM_NCCREATE_ = 0x0081;
constexpr UINT WM_NCDESTROY_ = 0x0082;

struct Core {
    std::map<std::string, WindowClass> classes;
    std::map<uintptr_t, std::unique_ptr<Window>> windows;  // ordered by creation
    std::deque<MSG> queue;
    uintptr_t nextHandle = 0x10000;
    bool quit = false;
};

// Never destroyed: the process-wide window object closes its last panel during exit,
// after function-local statics would already be gone.
Core& core() {
    static auto* instance = new Core;
    return *instance;
}

uintptr_t key(HWND handle) { return reinterpret_cast<uintptr_t>(handle); }

LRESULT callWindow(Window& window, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND handle = window.handle;
    if (window.dialogProc) {
        // A dialog's window procedure: the dialog procedure first, the default dialog
        // handling (which does nothing the program needs) when it declines.
        INT_PTR handled = window.dialogProc(handle, message, wParam, lParam);
        return handled;
    }
    if (window.proc) return window.proc(handle, message, wParam, lParam);
    return DefWindowProcA(handle, message, wParam, lParam);
}

HWND newHandle() { return reinterpret_cast<HWND>(core().nextHandle++); }

// Takes a new window into the table and makes its native side; null (and the window gone)
// when the backend cannot make it.
Window* adopt(std::unique_ptr<Window> window) {
    Window& made = *window;
    HWND handle = window->handle;
    core().windows[key(handle)] = std::move(window);
    if (!backend::createWindow(made)) {
        destroyMenu(made.menuBar);
        core().windows.erase(key(handle));
        return nullptr;
    }
    return &made;
}

}  // namespace

Window* findWindow(HWND handle) {
    auto found = core().windows.find(key(handle));
    return found == core().windows.end() ? nullptr : found->second.get();
}

std::vector<Window*> liveWindows() {
    std::vector<Window*> result;
    for (auto& [id, window] : core().windows) result.push_back(window.get());
    return result;
}

Window* windowOfDc(HDC dc) {
    if (!dc) return nullptr;
    for (auto& [id, window] : core().windows)
        if (window->dc == dc) return window.get();
    return nullptr;
}

void postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    core().queue.push_back(msg);
}

bool quitPosted() {
    if (core().quit) return true;
    for (const MSG& msg : core().queue)
        if (msg.message == WM_QUIT) return true;
    return false;
}

void resetWindowCore() {
    std::vector<HWND> handles;
    for (auto& [id, window] : core().windows)
        if (!window->parent) handles.push_back(window->handle);
    for (HWND handle : handles) DestroyWindow(handle);
    core().classes.clear();
    core().windows.clear();
    resetMenus();
    core().queue.clear();
    core().quit = false;
}

}  // namespace platform

using platform::Window;
using platform::core;
using platform::findWindow;

ATOM RegisterClassExA(const WNDCLASSEXA* wndClass) {
    if (!wndClass || wndClass->cbSize != sizeof(WNDCLASSEXA) || !wndClass->lpszClassName ||
        !wndClass->lpfnWndProc)
        return 0;
    std::string name = wndClass->lpszClassName;
    if (core().classes.count(name)) return 0;  // already registered
    platform::WindowClass entry;
    entry.name = name;
    entry.style = wndClass->style;
    entry.proc = wndClass->lpfnWndProc;
    entry.instance = wndClass->hInstance;
    entry.icon = wndClass->hIcon;
    entry.smallIcon = wndClass->hIconSm;
    if (wndClass->lpszMenuName && IS_INTRESOURCE(wndClass->lpszMenuName))
        entry.menuId = static_cast<int>(reinterpret_cast<uintptr_t>(wndClass->lpszMenuName));
    core().classes[name] = entry;
    return static_cast<ATOM>(core().classes.size());
}

HICON LoadIconA(HINSTANCE, LPCSTR name) {
    if (!IS_INTRESOURCE(name)) return nullptr;
    const platform::IconDesc* icon =
        platform::findIcon(static_cast<int>(reinterpret_cast<uintptr_t>(name)));
    return icon ? reinterpret_cast<HICON>(const_cast<platform::IconDesc*>(icon)) : nullptr;
}

HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int, int, UINT) {
    static int standardArrow;
    if (type == IMAGE_CURSOR && !instance && name == IDC_ARROW) return &standardArrow;
    if (type == IMAGE_ICON) return LoadIconA(instance, name);
    return nullptr;
}

BOOL AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD exStyle) {
    if (!rect) return FALSE;
    RECT insets = platform::backend::frameInsets(style, exStyle);
    rect->left -= insets.left;
    rect->top -= insets.top;
    rect->right += insets.right;
    rect->bottom += insets.bottom;
    if (menu) rect->top -= platform::backend::menuBarHeight();
    return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU, HINSTANCE instance,
                     LPVOID param) {
    if (!className) return nullptr;
    auto found = core().classes.find(className);
    if (found == core().classes.end()) return nullptr;
    const platform::WindowClass& windowClass = found->second;

    auto window = std::make_unique<Window>();
    window->handle = platform::newHandle();
    window->parent = parent;
    window->className = className;
    window->title = windowName ? windowName : "";
    window->style = style;
    window->exStyle = exStyle;
    window->proc = windowClass.proc;
    window->icon = windowClass.icon;
    window->smallIcon = windowClass.smallIcon;
    window->menu = windowClass.menuId ? platform::findMenu(windowClass.menuId) : nullptr;
    if (window->menu) window->menuBar = platform::createMenuBar(*window->menu, window->handle);
    window->x = x;
    window->y = y;
    window->width = width;
    window->height = height;
    HWND handle = window->handle;
    if (!platform::adopt(std::move(window))) return nullptr;

    CREATESTRUCTA create{};
    create.lpCreateParams = param;
    create.hInstance = instance;
    create.hwndParent = parent;
    create.cx = width;
    create.cy = height;
    create.x = x;
    create.y = y;
    create.style = static_cast<LONG>(style);
    create.lpszName = windowName;
    create.lpszClass = className;
    create.dwExStyle = exStyle;
    LPARAM createParam = reinterpret_cast<LPARAM>(&create);
    if (!SendMessageA(handle, platform::WM_NCCREATE_, 0, createParam) ||
        SendMessageA(handle, WM_CREATE, 0, createParam) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    if (style & WS_VISIBLE) ShowWindow(handle, SW_SHOW);
    return handle;
}

BOOL IsWindow(HWND window) { return findWindow(window) != nullptr; }

BOOL DestroyWindow(HWND handle) {
    Window* window = findWindow(handle);
    if (!window || window->destroying) return FALSE;
    window->destroying = true;
    if (window->visible) {
        window->visible = false;
        platform::backend::showWindow(*window, false);
    }
    SendMessageA(handle, WM_DESTROY, 0, 0);
    // Child windows go after their parent has been told, as on Windows.
    std::vector<HWND> children;
    for (auto& [id, other] : core().windows)
        if (other->parent == handle) children.push_back(other->handle);
    for (HWND child : children) DestroyWindow(child);
    SendMessageA(handle, platform::WM_NCDESTROY_, 0, 0);
    window = findWindow(handle);
    if (window) {
        platform::backend::destroyWindow(*window);
        // The window's menu goes with it, as on Windows; after the native side that drew it.
        platform::destroyMenu(window->menuBar);
        if (window->dc) platform::releaseWindowDc(window->dc);
        core().windows.erase(platform::key(handle));
    }
    return TRUE;
}

BOOL ShowWindow(HWND handle, int command) {
    Window* window = findWindow(handle);
    if (!window) return FALSE;
    bool wasVisible = window->visible;
    bool visible = command != SW_HIDE;
    if (visible != wasVisible) {
        window->visible = visible;
        platform::backend::showWindow(*window, visible);
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND handle) {
    Window* window = findWindow(handle);
    return window && window->visible;
}

HDC GetDC(HWND handle) {
    Window* window = findWindow(handle);
    if (!window) return nullptr;
    // Every window of this program's class owns its DC: made once, kept for its life.
    if (!window->dc) window->dc = platform::makeWindowDc(handle);
    return window->dc;
}

int ReleaseDC(HWND handle, HDC dc) {
    Window* window = findWindow(handle);
    return window && window->dc == dc ? 1 : 0;
}

BOOL UpdateWindow(HWND handle) { return findWindow(handle) ? TRUE : FALSE; }

LONG_PTR SetWindowLongPtrA(HWND handle, int index, LONG_PTR value) {
    Window* window = findWindow(handle);
    if (!window || index != GWLP_USERDATA) return 0;
    LONG_PTR previous = window->userData;
    window->userData = value;
    return previous;
}

LONG_PTR GetWindowLongPtrA(HWND handle, int index) {
    Window* window = findWindow(handle);
    if (!window || index != GWLP_USERDATA) return 0;
    return window->userData;
}

LRESULT DefWindowProcA(HWND handle, UINT message, WPARAM, LPARAM) {
    switch (message) {
        case platform::WM_NCCREATE_:
            return TRUE;
        case WM_CLOSE:
            DestroyWindow(handle);
            return 0;
        default:
            return 0;
    }
}

LRESULT SendMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = findWindow(handle);
    if (!window) return 0;
    return platform::callWindow(*window, message, wParam, lParam);
}

BOOL PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (handle && !findWindow(handle)) return FALSE;
    platform::postMessage(handle, message, wParam, lParam);
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    platform::postMessage(nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}

BOOL PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
    if (!msg) return FALSE;
    platform::backend::pumpEvents();
    auto& queue = core().queue;
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (window && it->hwnd != window) continue;
        if ((filterMin || filterMax) && (it->message < filterMin || it->message > filterMax))
            continue;
        *msg = *it;
        if (remove & PM_REMOVE) {
            if (it->message == WM_QUIT) core().quit = true;
            queue.erase(it);
        }
        return TRUE;
    }
    return FALSE;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE*, BOOL, DWORD milliseconds, DWORD) {
    if (count != 0) return WAIT_FAILED;
    if (!core().queue.empty()) return WAIT_OBJECT_0;
    const bool arrived = platform::backend::waitForEvents(milliseconds);
    return arrived || !core().queue.empty() ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg || !msg->hwnd) return 0;
    return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

SHORT GetAsyncKeyState(int virtualKey) {
    if (virtualKey < 0 || virtualKey > 255) return 0;
    return platform::backend::asyncKeyState(virtualKey);
}

BOOL GetCursorPos(LPPOINT point) {
    if (!point) return FALSE;
    *point = platform::backend::cursorPos();
    return TRUE;
}

BOOL ScreenToClient(HWND handle, LPPOINT point) {
    Window* window = findWindow(handle);
    if (!window || !point) return FALSE;
    POINT origin = platform::backend::clientOrigin(*window);
    point->x -= origin.x;
    point->y -= origin.y;
    return TRUE;
}

BOOL GetClientRect(HWND handle, LPRECT rect) {
    Window* window = findWindow(handle);
    if (!window || !rect) return FALSE;
    POINT size = platform::backend::clientSize(*window);
    *rect = RECT{0, 0, size.x, size.y};
    return TRUE;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    return platform::backend::messageBox(owner, text ? text : "", caption ? caption : "Error",
                                         type);
}

HWND CreateDialogParamA(HINSTANCE, LPCSTR templateName, HWND parent, DLGPROC dialogProc,
                        LPARAM initParam) {
    if (!IS_INTRESOURCE(templateName) || !dialogProc) return nullptr;
    const platform::DialogDesc* dialog =
        platform::findDialog(static_cast<int>(reinterpret_cast<uintptr_t>(templateName)));
    if (!dialog) return nullptr;
    if (parent && !findWindow(parent)) return nullptr;

    auto window = std::make_unique<Window>();
    window->handle = platform::newHandle();
    window->parent = parent;
    window->className = "#32770";  // the default dialog class
    window->title = dialog->caption ? dialog->caption : "";
    window->style = WS_CHILD | WS_VISIBLE | WS_CAPTION;
    window->dialogProc = dialogProc;
    window->dialog = dialog;
    window->x = dialog->x;
    window->y = dialog->y;
    window->width = dialog->width;
    window->height = dialog->height;
    HWND handle = window->handle;
    Window* made = platform::adopt(std::move(window));
    if (!made) return nullptr;
    const DWORD style = made->style;
    SendMessageA(handle, WM_INITDIALOG, 0, initParam);
    if (findWindow(handle) && (style & WS_VISIBLE)) ShowWindow(handle, SW_SHOW);
    return findWindow(handle) ? handle : nullptr;
}

BOOL EndDialog(HWND dialog, INT_PTR) {
    Window* window = findWindow(dialog);
    if (!window || !window->dialog) return FALSE;
    // A modeless panel is only hidden; its window lives until it is destroyed.
    ShowWindow(dialog, SW_HIDE);
    return TRUE;
}

#endif  // _WIN32
