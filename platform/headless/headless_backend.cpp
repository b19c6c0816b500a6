// The headless backend: windows without a display. Input comes from the test controls of
// headless.h, frames and message boxes are recorded for the tests to read back.
#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>

#include "platform/common/backend.h"
#include "platform/common/open_file_rules.h"
#include "platform/headless/headless.h"

namespace {

struct State {
    POINT cursor{0, 0};
    bool keys[256] = {};
    std::vector<headless::MessageBoxShown> boxes;
    std::deque<int> boxAnswers;
    std::function<void(const headless::MessageBoxShown&)> boxHook;
    std::deque<std::string> openAnswers;
    std::vector<headless::OpenFileAsked> openRequests;
    headless::Frame last;
    int frames = 0;
    std::function<void(const headless::Frame&)> presentHook;
    int waits = 0;
    std::function<void(DWORD)> waitHook;
};

// Never destroyed, like the window system it serves (windows may go during exit).
State& state() {
    static auto* instance = new State;
    return *instance;
}

constexpr RECT frame{3, 26, 3, 3};

// Dialog units to pixels for the platform's 8-point dialog font (a 6 x 13 average cell).
int dialogUnitsX(int units) { return units * 6 / 4; }
int dialogUnitsY(int units) { return units * 13 / 8; }

// ShellExecuteA's record, apart from the window state.
struct ShellState {
    std::vector<headless::ShellRequest> requests;
    bool failing = false;
};

ShellState& shellState() {
    static auto* instance = new ShellState;
    return *instance;
}

}  // namespace

HINSTANCE ShellExecuteA(HWND owner, LPCSTR operation, LPCSTR file, LPCSTR, LPCSTR,
                        int showCommand) {
    shellState().requests.push_back(
        headless::ShellRequest{owner, operation ? operation : "", file ? file : "", showCommand});
    std::error_code error;
    INT_PTR result = 42;
    if (shellState().failing)
        result = SE_ERR_NOASSOC;
    else if (!file || !std::filesystem::exists(file, error))
        result = ERROR_FILE_NOT_FOUND;
    return reinterpret_cast<HINSTANCE>(result);
}

namespace platform::backend {

RECT frameInsets(DWORD, DWORD) { return frame; }
int menuBarHeight() { return headless::menuBarHeight; }

bool createWindow(Window&) { return true; }
void destroyWindow(Window&) {}
void showWindow(Window&, bool) {}
void pumpEvents() {}
// Nothing to draw: the marks are the menus' own state, read back with GetMenuState.
void menuItemMarked(Menu&, std::size_t) {}

bool waitForEvents(DWORD milliseconds) {
    // Nothing native arrives here: the wait is the time passing (on the manual clock, the
    // clock moves by it). The hook may post messages, as input arriving meanwhile would.
    ++state().waits;
    Sleep(milliseconds == INFINITE ? 0 : milliseconds);
    if (state().waitHook) state().waitHook(milliseconds);
    return false;
}

POINT clientOrigin(const Window& window) {
    if (window.parent) {
        const Window* parent = findWindow(window.parent);
        POINT origin = parent ? clientOrigin(*parent) : POINT{0, 0};
        return POINT{origin.x + dialogUnitsX(window.x), origin.y + dialogUnitsY(window.y)};
    }
    return POINT{headless::clientOriginX, headless::clientOriginY};
}

POINT clientSize(const Window& window) {
    if (window.dialog) return POINT{dialogUnitsX(window.width), dialogUnitsY(window.height)};
    int menu = window.menu ? headless::menuBarHeight : 0;
    return POINT{std::max(0, window.width - frame.left - frame.right),
                 std::max(0, window.height - frame.top - frame.bottom - menu)};
}

void present(Window& window, const uint8_t* pixels, int width, int height, int stride) {
    POINT client = clientSize(window);
    headless::Frame& out = state().last;
    out.window = window.handle;
    out.width = std::min<int>(width, client.x);
    out.height = std::min<int>(height, client.y);
    out.pixels.resize(static_cast<size_t>(out.width) * out.height);
    // Rows are stored top row first; a 4-byte BGRX pixel read as a little-endian word is
    // 0xXXRRGGBB, which Frame::at masks.
    for (int y = 0; y < out.height; ++y) {
        const uint8_t* row = pixels + static_cast<size_t>(height - 1 - y) * stride;
        std::memcpy(out.pixels.data() + static_cast<size_t>(y) * out.width, row,
                    static_cast<size_t>(out.width) * 4);
    }
    ++state().frames;
    if (state().presentHook) state().presentHook(out);
}

SHORT asyncKeyState(int virtualKey) {
    return state().keys[virtualKey] ? static_cast<SHORT>(0x8000) : 0;
}

POINT cursorPos() { return state().cursor; }

int messageBox(HWND owner, const char* text, const char* caption, UINT type) {
    headless::MessageBoxShown shown{owner, text, caption, type};
    state().boxes.push_back(shown);
    if (state().boxHook) state().boxHook(shown);
    if (state().boxAnswers.empty()) return IDOK;
    int answer = state().boxAnswers.front();
    state().boxAnswers.pop_front();
    return answer;
}

bool chooseOpenFile(const OPENFILENAMEA& ofn, std::string& chosen) {
    headless::OpenFileAsked asked;
    asked.title = ofn.lpstrTitle ? ofn.lpstrTitle : "";
    asked.initialDir = ofn.lpstrInitialDir ? ofn.lpstrInitialDir : "";
    for (const FileFilter& filter : openFileFilters(ofn))
        asked.filterDescriptions.push_back(filter.description);
    asked.defaultExtension = ofn.lpstrDefExt ? ofn.lpstrDefExt : "";
    asked.flags = ofn.Flags;
    asked.maxFile = ofn.nMaxFile;
    asked.owner = ofn.hwndOwner;
    state().openRequests.push_back(asked);
    if (state().openAnswers.empty()) return false;
    chosen = state().openAnswers.front();
    state().openAnswers.pop_front();
    return !chosen.empty();
}

}  // namespace platform::backend

namespace headless {

int waitCount() { return state().waits; }
void onWait(std::function<void(DWORD)> hook) { state().waitHook = std::move(hook); }

void reset() {
    platform::resetWindowCore();
    state() = State{};
    shellState() = ShellState{};
}

void setCursorScreen(int x, int y) { state().cursor = POINT{x, y}; }

void setCursorClient(HWND window, int x, int y) {
    const platform::Window* found = platform::findWindow(window);
    POINT origin = found ? platform::backend::clientOrigin(*found) : POINT{0, 0};
    state().cursor = POINT{origin.x + x, origin.y + y};
}

void setLeftButton(bool down) { state().keys[VK_LBUTTON] = down; }

bool pressLeftButton(HWND window) {
    const platform::Window* found = platform::findWindow(window);
    if (!found) return false;
    const POINT origin = platform::backend::clientOrigin(*found);
    state().keys[VK_LBUTTON] = true;
    const LPARAM at = static_cast<LPARAM>(((state().cursor.y - origin.y) & 0xFFFF) << 16 |
                                          ((state().cursor.x - origin.x) & 0xFFFF));
    return PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, at) == TRUE;
}

bool turnWheel(HWND window, int delta) {
    if (!platform::findWindow(window)) return false;
    const POINT at = state().cursor;
    const LPARAM screen = static_cast<LPARAM>(DWORD(at.y & 0xFFFF) << 16 | DWORD(at.x & 0xFFFF));
    const WPARAM keys = state().keys[VK_LBUTTON] ? MK_LBUTTON : 0;
    return PostMessageA(window, WM_MOUSEWHEEL, MAKEWPARAM(keys, delta), screen) == TRUE;
}

void setKeyDown(int virtualKey, bool down) {
    if (virtualKey >= 0 && virtualKey < 256) state().keys[virtualKey] = down;
}

bool pressKey(HWND window, int virtualKey) {
    return PostMessageA(window, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 1) == TRUE;
}

bool chooseMenuItem(HWND window, int commandId) {
    const platform::Window* found = platform::findWindow(window);
    if (!found || !found->menu) return false;
    for (size_t i = 0; i < found->menu->count; ++i) {
        const platform::MenuItemDesc& item = found->menu->items[i];
        if (item.kind == platform::MenuItemKind::Item && item.id == commandId)
            return PostMessageA(window, WM_COMMAND, MAKEWPARAM(commandId, 0), 0) == TRUE;
    }
    return false;
}

bool clickCloseBox(HWND window) { return PostMessageA(window, WM_CLOSE, 0, 0) == TRUE; }

bool clickDialogButton(HWND dialog, int controlId) {
    const platform::Window* found = platform::findWindow(dialog);
    if (!found || !found->dialog || !found->visible) return false;
    for (size_t i = 0; i < found->dialog->count; ++i)
        if (found->dialog->controls[i].id == controlId)
            return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED), 0) == TRUE;
    return false;
}

std::vector<MenuEntry> menuOf(HWND window) {
    std::vector<MenuEntry> entries;
    const platform::Window* found = platform::findWindow(window);
    if (!found || !found->menu) return entries;
    for (size_t i = 0; i < found->menu->count; ++i) {
        const platform::MenuItemDesc& item = found->menu->items[i];
        entries.push_back(MenuEntry{item.text ? item.text : "", item.id});
    }
    return entries;
}

const std::vector<MessageBoxShown>& messageBoxes() { return state().boxes; }
void clearMessageBoxes() { state().boxes.clear(); }
void answerNextMessageBox(int answer) { state().boxAnswers.push_back(answer); }
void onMessageBox(std::function<void(const MessageBoxShown&)> hook) {
    state().boxHook = std::move(hook);
}

void answerNextOpenFile(const std::string& path) { state().openAnswers.push_back(path); }
const std::vector<OpenFileAsked>& openFileRequests() { return state().openRequests; }
void clearOpenFileRequests() { state().openRequests.clear(); }

int presentedFrameCount() { return state().frames; }
const Frame& lastFrame() { return state().last; }
void onPresent(std::function<void(const Frame&)> hook) { state().presentHook = std::move(hook); }

PanelState panelState(HWND dialog) {
    PanelState panel;
    const platform::Window* found = platform::findWindow(dialog);
    if (!found || !found->dialog) return panel;
    panel.exists = true;
    panel.visible = found->visible;
    panel.x = dialogUnitsX(found->x);
    panel.y = dialogUnitsY(found->y);
    POINT size = platform::backend::clientSize(*found);
    panel.width = size.x;
    panel.height = size.y;
    panel.caption = found->title;
    return panel;
}

}  // namespace headless

namespace headless {

const std::vector<ShellRequest>& shellRequests() { return shellState().requests; }
void failShellExecute(bool failing) { shellState().failing = failing; }

}  // namespace headless
