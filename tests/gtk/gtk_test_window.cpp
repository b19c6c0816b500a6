// The desktop backend tests' shared window, resources and message loop.
#include "gtk_test_window.h"

#include <cstring>

#include "platform/common/window_core.h"
#include "platform/module_resources.h"

namespace gtktest {
namespace {

using platform::DialogControlDesc;
using platform::DialogControlKind;
using platform::MenuItemDesc;
using platform::MenuItemKind;

const MenuItemDesc menuItems[] = {
    {MenuItemKind::PopupBegin, "&File", 0},
    {MenuItemKind::Item, "&Open Rhythm File", openCommand},
    {MenuItemKind::Separator, nullptr, 0},
    {MenuItemKind::Item, "E&xit", exitCommand},
    {MenuItemKind::PopupEnd, nullptr, 0},
    {MenuItemKind::PopupBegin, "&View", 0},
    {MenuItemKind::PopupBegin, "Sound &Delay", 0},
    {MenuItemKind::Item, "Off", delayOffCommand},
    {MenuItemKind::Item, "Short", delayShortCommand},
    {MenuItemKind::PopupEnd, nullptr, 0},
    {MenuItemKind::PopupEnd, nullptr, 0},
    {MenuItemKind::PopupBegin, "Help", 0},
    {MenuItemKind::Item, "About Rock && Roll", aboutCommand},
    {MenuItemKind::PopupEnd, nullptr, 0},
};

const DialogControlDesc aboutControls[] = {
    {DialogControlKind::LeftText, "First text of the panel", -1, 12, 9, 264, 40},
    {DialogControlKind::DefPushButton, "Close", closeButton, 103, 150, 65, 19},
    {DialogControlKind::LeftText, "Second text, lower down", -1, 12, 74, 264, 50},
};

const DialogControlDesc smallControls[] = {
    {DialogControlKind::PushButton, "Close", closeButton, 10, 20, 50, 14},
};

const platform::MenuDesc menus[] = {
    {menuId, menuItems, sizeof menuItems / sizeof menuItems[0]},
};

const platform::DialogDesc dialogs[] = {
    {aboutId, 0, 0, 278, 176, "About the Test", "MS Shell Dlg", 8, aboutControls, 3},
    {smallPanelId, 0, 0, 80, 40, "Small", "MS Shell Dlg", 8, smallControls, 1},
};

// A 32-bit .ico file of one square image of one colour.
std::vector<unsigned char> icoFile(int size, uint32_t bgra) {
    std::vector<unsigned char> bytes;
    auto put16 = [&](uint16_t v) { bytes.push_back(v & 0xFF), bytes.push_back(v >> 8); };
    auto put32 = [&](uint32_t v) { put16(v & 0xFFFF), put16(v >> 16); };
    int maskRow = (size + 31) / 32 * 4;
    uint32_t imageBytes = 40 + size * size * 4 + maskRow * size;
    put16(0), put16(1), put16(1);  // icon directory with one entry
    bytes.push_back(static_cast<unsigned char>(size));
    bytes.push_back(static_cast<unsigned char>(size));
    bytes.push_back(0), bytes.push_back(0);
    put16(1), put16(32), put32(imageBytes), put32(22);
    put32(40), put32(size), put32(size * 2), put16(1), put16(32);  // BITMAPINFOHEADER
    for (int i = 0; i < 6; ++i) put32(0);
    for (int i = 0; i < size * size; ++i) put32(bgra);
    bytes.insert(bytes.end(), static_cast<size_t>(maskRow) * size, 0);
    return bytes;
}

const std::vector<unsigned char>& bigIcon() {
    static const std::vector<unsigned char> bytes = icoFile(32, 0xFF2080C0);
    return bytes;
}
const std::vector<unsigned char>& smallIcon() {
    static const std::vector<unsigned char> bytes = icoFile(16, 0xFFC08020);
    return bytes;
}

const platform::ModuleResources& resources() {
    static const platform::IconDesc icons[] = {
        {iconId, bigIcon().data(), bigIcon().size()},
        {smallIconId, smallIcon().data(), smallIcon().size()},
    };
    static const platform::ModuleResources table = {menus, 1, dialogs, 2, icons, 2};
    return table;
}

const DWORD windowStyle = WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU;
const char* const className = "GtkTestWindow";

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    seen().push_back(Seen{window, message, wParam, lParam});
    switch (message) {
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE) SendMessageA(window, WM_CLOSE, 0, 0);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

const char* const windowTitle = "Viri Brenmoor Tabladex - BETA v.92";
const char* const aboutCaption = "About the Test";

std::vector<Seen>& seen() {
    static std::vector<Seen> messages;
    return messages;
}

bool sawMessage(HWND window, UINT message, WPARAM wParam) {
    for (const Seen& entry : seen())
        if (entry.window == window && entry.message == message && entry.wParam == wParam)
            return true;
    return false;
}

INT_PTR CALLBACK panelProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    seen().push_back(Seen{dialog, message, wParam});
    if (message == WM_COMMAND && LOWORD(wParam) == closeButton) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

int runLoop(int timeoutMs) {
    gint64 end = g_get_monotonic_time() + gint64(timeoutMs) * 1000;
    MSG msg;
    while (g_get_monotonic_time() < end) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        } else {
            g_usleep(1000);
        }
    }
    return -1;
}

bool dispatchUntil(const std::function<bool()>& pred, int timeoutMs) {
    gint64 end = g_get_monotonic_time() + gint64(timeoutMs) * 1000;
    MSG msg;
    while (!pred()) {
        if (g_get_monotonic_time() > end) return false;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        else
            g_usleep(1000);
    }
    return true;
}

void GtkWindowTest::SetUp() {
    seen().clear();
    platform::setModuleResources(&resources());
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(iconId));
    windowClass.hIconSm = LoadIconA(nullptr, MAKEINTRESOURCEA(smallIconId));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(menuId);
    windowClass.lpszClassName = className;
    ASSERT_NE(RegisterClassExA(&windowClass), 0);
}

void GtkWindowTest::TearDown() {
    platform::resetWindowCore();
    // Let GTK finish unmapping before the next test makes its window.
    gtkbackend::pumpUntil([] { return !gtk_events_pending(); }, 1000);
}

HWND GtkWindowTest::makeMainWindow() {
    RECT rect{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&rect, windowStyle, FALSE, WS_EX_APPWINDOW);
    window = CreateWindowExA(WS_EX_APPWINDOW, className, windowTitle, windowStyle,
                             CW_USEDEFAULT, CW_USEDEFAULT, rect.right - rect.left,
                             rect.bottom - rect.top, nullptr, nullptr, nullptr, nullptr);
    if (!window) return nullptr;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    GtkWidget* area = gtkbackend::clientArea(window);
    if (!gtkbackend::pumpUntil([&] { return gtk_widget_get_mapped(area) && gtkbackend::drawCount(window) > 0; }))
        return nullptr;
    return window;
}

}  // namespace gtktest
