// The main window on a real X display: its title, geometry, menu bar and icons; frames read
// back from the screen; menu items, keys, the close box and the wheel as messages; the pointer.
#include "gtk_test_window.h"

#include <string>

#include "x_input.h"

namespace gtktest {
namespace {

using gtkbackend::clientArea;
using gtkbackend::menuBar;
using gtkbackend::pumpUntil;
using gtkbackend::toplevel;

GtkWidget* menuItemLabelled(GtkWidget* shell, const std::string& label) {
    GtkWidget* found = nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(shell));
    for (GList* at = children; at && !found; at = at->next) {
        if (!GTK_IS_MENU_ITEM(at->data)) continue;
        GtkMenuItem* item = GTK_MENU_ITEM(at->data);
        const char* text = gtk_menu_item_get_label(item);
        if (text && label == text) found = GTK_WIDGET(item);
        else if (GtkWidget* sub = gtk_menu_item_get_submenu(item)) found = menuItemLabelled(sub, label);
    }
    g_list_free(children);
    return found;
}

// Keys go to the focused window, as for a user.
bool focusMainWindow(HWND window) {
    GtkWindow* top = toplevel(window);
    gtk_window_present(top);
    return pumpUntil([&] { return gtk_window_is_active(top); });
}

TEST_F(GtkWindowTest, HasTitleFixedSizeAndClientAreaBelowTheMenuBar) {
    ASSERT_NE(makeMainWindow(), nullptr);
    GtkWindow* top = toplevel(window);
    EXPECT_STREQ(gtk_window_get_title(top), windowTitle);
    EXPECT_FALSE(gtk_window_get_resizable(top));

    GtkAllocation bar, area;
    gtk_widget_get_allocation(menuBar(window), &bar);
    gtk_widget_get_allocation(clientArea(window), &area);
    EXPECT_GT(bar.height, 10);
    // Content = menu bar + client area = the size asked for; the client area lies below.
    int width = 0, height = 0;
    gtk_window_get_size(top, &width, &height);
    EXPECT_EQ(width, clientWidth);
    EXPECT_EQ(height, clientHeight);
    EXPECT_EQ(area.width, clientWidth);
    EXPECT_EQ(area.height, clientHeight - bar.height);
    EXPECT_EQ(area.y, bar.y + bar.height);

    RECT client{};
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right, clientWidth);
    EXPECT_EQ(client.bottom, clientHeight - bar.height);
    // AdjustWindowRectEx: no frame of our own, and the real menu bar's height.
    RECT outer{0, 0, 600, 480};
    AdjustWindowRectEx(&outer, WS_CAPTION | WS_SYSMENU, TRUE, 0);
    EXPECT_EQ(outer.left, 0);
    EXPECT_EQ(outer.right, 600);
    EXPECT_EQ(outer.bottom, 480);
    EXPECT_EQ(outer.top, -bar.height);
}

TEST_F(GtkWindowTest, CarriesBothIconsAndTheMenuWithMnemonics) {
    ASSERT_NE(makeMainWindow(), nullptr);
    GList* icons = gtk_window_get_icon_list(toplevel(window));
    ASSERT_EQ(g_list_length(icons), 2u);
    EXPECT_EQ(gdk_pixbuf_get_width(GDK_PIXBUF(icons->data)), 32);
    EXPECT_EQ(gdk_pixbuf_get_width(GDK_PIXBUF(icons->next->data)), 16);
    g_list_free(icons);

    GtkWidget* bar = menuBar(window);
    EXPECT_NE(menuItemLabelled(bar, "_File"), nullptr);
    EXPECT_NE(menuItemLabelled(bar, "Help"), nullptr);
    EXPECT_NE(menuItemLabelled(bar, "_Open Rhythm File"), nullptr);
    EXPECT_NE(menuItemLabelled(bar, "E_xit"), nullptr);
    EXPECT_NE(menuItemLabelled(bar, "About Rock & Roll"), nullptr);
}

TEST_F(GtkWindowTest, PresentedFrameIsWhatTheScreenShows) {
    ASSERT_NE(makeMainWindow(), nullptr);
    HDC windowDc = GetDC(window);
    HDC memory = CreateCompatibleDC(windowDc);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = clientWidth;
    info.bmiHeader.biHeight = clientHeight;  // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    SelectObject(memory, bitmap);
    auto* pixels = static_cast<uint8_t*>(bits);
    // Every pixel differs from its neighbours, and the rows say which way up they are.
    for (int stored = 0; stored < clientHeight; ++stored)
        for (int x = 0; x < clientWidth; ++x) {
            uint8_t* p = pixels + (stored * clientWidth + x) * 4;
            p[0] = uint8_t(x * 7 + stored);  // blue
            p[1] = uint8_t(stored);          // green
            p[2] = uint8_t(x);               // red
            p[3] = 0;
        }
    unsigned long before = gtkbackend::drawCount(window);
    ASSERT_TRUE(BitBlt(windowDc, 0, 0, clientWidth, clientHeight, memory, 0, 0, SRCCOPY));
    ASSERT_TRUE(pumpUntil([&] { return gtkbackend::drawCount(window) > before; }));
    pumpUntil([] { return !gtk_events_pending(); }, 500);

    int width = 0, height = 0;
    std::vector<uint32_t> shown;
    ASSERT_TRUE(gtkbackend::readClientPixels(window, width, height, shown));
    RECT client{};
    GetClientRect(window, &client);
    ASSERT_EQ(width, client.right);
    ASSERT_EQ(height, client.bottom);
    int mismatches = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = pixels + ((clientHeight - 1 - y) * clientWidth + x) * 4;
            uint32_t expected = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
            if (shown[y * width + x] != expected && mismatches++ < 5)
                ADD_FAILURE() << "pixel " << x << "," << y << " shows " << std::hex
                              << shown[y * width + x] << " for " << expected;
        }
    EXPECT_EQ(mismatches, 0);

    DeleteDC(memory);
    DeleteObject(bitmap);
}

TEST_F(GtkWindowTest, MenuItemReachesTheWindowProcedureAsCommand) {
    ASSERT_NE(makeMainWindow(), nullptr);
    GtkWidget* item = menuItemLabelled(menuBar(window), "_Open Rhythm File");
    ASSERT_NE(item, nullptr);
    gtk_menu_item_activate(GTK_MENU_ITEM(item));
    EXPECT_TRUE(dispatchUntil([&] { return sawMessage(window, WM_COMMAND, MAKEWPARAM(openCommand, 0)); }));
    EXPECT_FALSE(sawMessage(window, WM_COMMAND, MAKEWPARAM(exitCommand, 0)));
}

TEST_F(GtkWindowTest, RadioMarkShowsAndActivatingTheItemLeavesItToTheProgram) {
    ASSERT_NE(makeMainWindow(), nullptr);
    EXPECT_FALSE(GTK_IS_CHECK_MENU_ITEM(menuItemLabelled(menuBar(window), "Short")));
    ASSERT_TRUE(CheckMenuRadioItem(GetMenu(window), delayOffCommand, delayShortCommand,
                                   delayShortCommand, MF_BYCOMMAND));
    GtkWidget* off = menuItemLabelled(menuBar(window), "Off");
    GtkWidget* chosen = menuItemLabelled(menuBar(window), "Short");
    ASSERT_TRUE(GTK_IS_CHECK_MENU_ITEM(off) && GTK_IS_CHECK_MENU_ITEM(chosen));
    EXPECT_TRUE(gtk_check_menu_item_get_draw_as_radio(GTK_CHECK_MENU_ITEM(off)));
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(chosen)));
    EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(off)));
    GList* order = gtk_container_get_children(GTK_CONTAINER(gtk_widget_get_parent(chosen)));
    EXPECT_TRUE(g_list_index(order, off) == 0 && g_list_index(order, chosen) == 1);
    g_list_free(order);
    gtk_menu_item_activate(GTK_MENU_ITEM(chosen));
    gtk_menu_item_activate(GTK_MENU_ITEM(off));
    EXPECT_TRUE(dispatchUntil([&] {
        return sawMessage(window, WM_COMMAND, MAKEWPARAM(delayShortCommand, 0)) &&
               sawMessage(window, WM_COMMAND, MAKEWPARAM(delayOffCommand, 0));
    }));
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(chosen)));
    EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(off)));
    EXPECT_EQ(GetMenuState(GetMenu(window), delayShortCommand, MF_BYCOMMAND) & MF_CHECKED,
              UINT(MF_CHECKED));
    // The program moves the mark: it shows, and no command comes of it.
    CheckMenuRadioItem(GetMenu(window), delayOffCommand, delayShortCommand, delayOffCommand,
                       MF_BYCOMMAND);
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(off)));
    EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(chosen)));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, window, WM_COMMAND, WM_COMMAND, PM_NOREMOVE));
}

TEST_F(GtkWindowTest, EscapeEndsTheLoopWithExitCodeZero) {
    ASSERT_NE(makeMainWindow(), nullptr);
    ASSERT_TRUE(focusMainWindow(window));
    setKey(GDK_KEY_Escape, true);
    setKey(GDK_KEY_Escape, false);
    EXPECT_EQ(runLoop(), 0);
    EXPECT_TRUE(sawMessage(window, WM_KEYDOWN, VK_ESCAPE));
    EXPECT_TRUE(sawMessage(window, WM_DESTROY, 0));
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(GtkWindowTest, CloseBoxEndsTheLoopWithExitCodeZero) {
    ASSERT_NE(makeMainWindow(), nullptr);
    // What the window manager's close box does: a delete event for the window.
    gtk_window_close(toplevel(window));
    EXPECT_EQ(runLoop(), 0);
    EXPECT_TRUE(sawMessage(window, WM_CLOSE, 0));
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(GtkWindowTest, TerminationSignalsEndTheLoopLikeExit) {
    for (int signal : {SIGTERM, SIGINT}) {
        ASSERT_NE(makeMainWindow(), nullptr);
        ASSERT_EQ(raise(signal), 0);
        EXPECT_EQ(runLoop(), 0) << signal;
        EXPECT_TRUE(sawMessage(window, WM_CLOSE, 0)) << signal;
        EXPECT_FALSE(IsWindow(window)) << signal;
    }
}

TEST_F(GtkWindowTest, KeysArriveAsVirtualKeysAndAreHeldWhileDown) {
    ASSERT_NE(makeMainWindow(), nullptr);
    ASSERT_TRUE(focusMainWindow(window));
    const struct {
        guint keyval;
        int virtualKey;
    } keys[] = {{GDK_KEY_a, 'A'}, {GDK_KEY_7, '7'}, {GDK_KEY_space, VK_SPACE}, {GDK_KEY_Return, VK_RETURN}};
    for (const auto& key : keys) {
        SCOPED_TRACE(key.virtualKey);
        setKey(key.keyval, true);
        EXPECT_TRUE(dispatchUntil([&] { return sawMessage(window, WM_KEYDOWN, WPARAM(key.virtualKey)); }));
        EXPECT_TRUE(GetAsyncKeyState(key.virtualKey) & 0x8000);
        setKey(key.keyval, false);
        EXPECT_TRUE(pumpUntil([&] { return !(GetAsyncKeyState(key.virtualKey) & 0x8000); }));
    }
    EXPECT_TRUE(IsWindow(window));  // only Escape closes
}

TEST_F(GtkWindowTest, PointerPositionAndLeftButtonComeFromTheDevice) {
    ASSERT_NE(makeMainWindow(), nullptr);
    GdkDisplay* display = gdk_display_get_default();
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
    int originX = 0, originY = 0;
    gdk_window_get_origin(gtk_widget_get_window(GTK_WIDGET(toplevel(window))), &originX, &originY);
    GtkAllocation bar;
    gtk_widget_get_allocation(menuBar(window), &bar);
    // The client area starts right below the menu bar.
    int clientX = originX, clientY = originY + bar.height;

    gdk_device_warp(pointer, gdk_screen_get_default(), clientX + 37, clientY + 21);
    gdk_display_sync(display);
    POINT point{};
    ASSERT_TRUE(GetCursorPos(&point));
    EXPECT_EQ(point.x, clientX + 37);
    EXPECT_EQ(point.y, clientY + 21);
    ASSERT_TRUE(ScreenToClient(window, &point));
    EXPECT_EQ(point.x, 37);
    EXPECT_EQ(point.y, 21);

    // Press inside the window, release far outside it: the state follows the device.
    EXPECT_FALSE(GetAsyncKeyState(VK_LBUTTON) & 0x8000);
    setLeftButton(true);
    EXPECT_TRUE(GetAsyncKeyState(VK_LBUTTON) & 0x8000);
    gdk_device_warp(pointer, gdk_screen_get_default(), 1010, 760);
    setLeftButton(false);
    EXPECT_FALSE(GetAsyncKeyState(VK_LBUTTON) & 0x8000);
    pumpUntil([] { return !gtk_events_pending(); }, 500);
}

TEST_F(GtkWindowTest, TheWheelArrivesAsMouseWheelWithItsTurnAndTheCursorOnTheScreen) {
    ASSERT_NE(makeMainWindow(), nullptr);
    GdkWindow* area = gtk_widget_get_window(clientArea(window));
    int x = 0, y = 0;
    gdk_window_get_origin(area, &x, &y);
    x += 37, y += 21;
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    gdk_device_warp(gdk_seat_get_pointer(seat), gdk_screen_get_default(), x, y);
    // A touchpad's smooth turns as GDK gives them (in notches, down positive; the last three,
    // too small alone, make one unit), then a wheel's notches through the X server (buttons
    // 4 and 5, which reach the client area only if it asked for them).
    for (double deltaY : {-0.25, 1.0, 0.004, 0.004, 0.004}) {
        GdkEventScroll scroll{GDK_SCROLL, area, TRUE, 0, 37, 21, 0, GDK_SCROLL_SMOOTH, nullptr,
                              double(x), double(y), 0.0, deltaY, FALSE};
        gtk_main_do_event(reinterpret_cast<GdkEvent*>(&scroll));
    }
    clickButton(4);
    clickButton(5);
    std::vector<int> turns;
    ASSERT_TRUE(dispatchUntil([&] {
        turns.clear();
        for (const Seen& entry : seen())
            if (entry.message == WM_MOUSEWHEEL && entry.lParam == LPARAM(y << 16 | x))
                turns.push_back(GET_WHEEL_DELTA_WPARAM(entry.wParam));
        return turns.size() == 5;
    }));
    EXPECT_EQ(turns, (std::vector<int>{30, -120, -1, 120, -120}));
}

}  // namespace
}  // namespace gtktest
