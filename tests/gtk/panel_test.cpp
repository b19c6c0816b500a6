// Dialog panels on a real X display: the About panel at the client area's top-left, sized
// from dialog units, with its texts and Close button; frames do not cover it; a second
// panel lies above the first.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "gtk_test_window.h"

namespace gtktest {
namespace {

using gtkbackend::clientArea;
using gtkbackend::panel;
using gtkbackend::pumpUntil;

void collect(GtkWidget* widget, GType type, std::vector<GtkWidget*>& found) {
    if (G_TYPE_CHECK_INSTANCE_TYPE(widget, type)) found.push_back(widget);
    if (!GTK_IS_CONTAINER(widget)) return;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* at = children; at; at = at->next) collect(GTK_WIDGET(at->data), type, found);
    g_list_free(children);
}

GtkWidget* buttonLabelled(GtkWidget* root, const char* label) {
    std::vector<GtkWidget*> buttons;
    collect(root, GTK_TYPE_BUTTON, buttons);
    for (GtkWidget* button : buttons)
        if (g_strcmp0(gtk_button_get_label(GTK_BUTTON(button)), label) == 0) return button;
    return nullptr;
}

// Presents one colour over the whole client area and waits until it is on screen.
void presentColour(HWND window, uint32_t rgb) {
    std::vector<uint32_t> pixels(clientWidth * clientHeight, rgb);  // B, G, R, X in memory
    unsigned long before = gtkbackend::drawCount(window);
    HDC memory = CreateCompatibleDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), clientWidth, clientHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::memcpy(bits, pixels.data(), pixels.size() * 4);
    SelectObject(memory, bitmap);
    BitBlt(GetDC(window), 0, 0, clientWidth, clientHeight, memory, 0, 0, SRCCOPY);
    DeleteDC(memory);
    DeleteObject(bitmap);
    pumpUntil([&] { return gtkbackend::drawCount(window) > before; });
    pumpUntil([] { return !gtk_events_pending(); }, 500);
}

class PanelTest : public GtkWindowTest {
protected:
    HWND openPanel(int id) {
        HWND dialog = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(id), window, panelProc, 0);
        if (!dialog) return nullptr;
        // Shown, then laid out: the overlay allocates it in the next frame.
        pumpUntil([&] {
            return gtk_widget_get_mapped(panel(dialog)) &&
                   gtk_widget_get_allocated_width(panel(dialog)) > 1;
        });
        pumpUntil([] { return !gtk_events_pending(); }, 500);
        return dialog;
    }
};

TEST_F(PanelTest, AboutPanelLiesAtTheTopLeftWithItsTextsAndHidesOnClose) {
    ASSERT_NE(makeMainWindow(), nullptr);
    HWND about = openPanel(aboutId);
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(sawMessage(about, WM_INITDIALOG, 0));
    GtkWidget* widget = panel(about);
    ASSERT_TRUE(gtk_widget_get_mapped(widget));
    EXPECT_TRUE(IsWindowVisible(about));

    int x = -1, y = -1;
    ASSERT_TRUE(gtk_widget_translate_coordinates(widget, clientArea(window), 0, 0, &x, &y));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    // Sized from dialog units: 278 x 176 units is wider than tall, well inside the client.
    RECT body{};
    ASSERT_TRUE(GetClientRect(about, &body));
    EXPECT_GT(body.right, body.bottom);
    EXPECT_GT(body.right, 278);  // more than a pixel per horizontal unit with any real font
    EXPECT_LT(body.right, clientWidth);
    EXPECT_GE(gtk_widget_get_allocated_width(widget), body.right);
    EXPECT_GE(gtk_widget_get_allocated_height(widget), body.bottom);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_LE(gtk_widget_get_allocated_height(widget), client.bottom);  // caption included
    // The body's client origin is below the caption, inside the window's client area.
    POINT origin{0, 0};
    POINT windowOrigin{0, 0};
    ScreenToClient(about, &origin);
    ScreenToClient(window, &windowOrigin);
    EXPECT_NEAR(origin.x, windowOrigin.x, 2);  // at most a border's width in
    EXPECT_LT(origin.y, windowOrigin.y - 10);    // below the caption

    std::vector<GtkWidget*> labels;
    collect(widget, GTK_TYPE_LABEL, labels);
    std::vector<std::string> texts;
    for (GtkWidget* label : labels) texts.push_back(gtk_label_get_text(GTK_LABEL(label)));
    EXPECT_NE(std::find(texts.begin(), texts.end(), aboutCaption), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "First text of the panel"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Second text, lower down"), texts.end());

    GtkWidget* close = buttonLabelled(widget, "Close");
    ASSERT_NE(close, nullptr);
    gtk_button_clicked(GTK_BUTTON(close));
    EXPECT_TRUE(dispatchUntil([&] { return !IsWindowVisible(about); }));
    EXPECT_TRUE(sawMessage(about, WM_COMMAND, MAKEWPARAM(closeButton, BN_CLICKED)));
    EXPECT_FALSE(gtk_widget_get_visible(widget));
    EXPECT_TRUE(IsWindow(about));  // hidden, not destroyed

    ASSERT_TRUE(DestroyWindow(about));
    EXPECT_TRUE(sawMessage(about, WM_DESTROY, 0));
    EXPECT_EQ(panel(about), nullptr);
}

TEST_F(PanelTest, PresentedFramesDoNotPaintOverThePanel) {
    ASSERT_NE(makeMainWindow(), nullptr);
    HWND about = openPanel(aboutId);
    ASSERT_NE(about, nullptr);
    presentColour(window, 0x00FF0000);  // red
    int width = 0, height = 0;
    std::vector<uint32_t> shown;
    ASSERT_TRUE(gtkbackend::readClientPixels(window, width, height, shown));
    RECT body{};
    GetClientRect(about, &body);
    // Inside the panel (just above its bottom edge, clear of text) and beside it.
    EXPECT_NE(shown[(body.bottom - 4) * width + 4], 0xFF0000u);
    EXPECT_EQ(shown[(body.bottom - 4) * width + body.right + 10], 0xFF0000u);
    EXPECT_EQ(shown[(height - 2) * width + 2], 0xFF0000u);

    // Hidden, the panel no longer covers the frame.
    EndDialog(about, 0);
    presentColour(window, 0x0000FF00);
    ASSERT_TRUE(gtkbackend::readClientPixels(window, width, height, shown));
    EXPECT_EQ(shown[(body.bottom - 4) * width + 4], 0x00FF00u);
}

TEST_F(PanelTest, SecondPanelLiesOnTopOfTheFirst) {
    ASSERT_NE(makeMainWindow(), nullptr);
    HWND first = openPanel(aboutId);
    HWND second = openPanel(smallPanelId);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    GdkWindow* firstWindow = gtk_widget_get_window(panel(first));
    GdkWindow* secondWindow = gtk_widget_get_window(panel(second));
    ASSERT_NE(firstWindow, secondWindow);
    GList* stack = gdk_window_peek_children(gdk_window_get_parent(secondWindow));
    // GDK lists siblings topmost first.
    EXPECT_LT(g_list_index(stack, secondWindow), g_list_index(stack, firstWindow));
}

}  // namespace
}  // namespace gtktest
