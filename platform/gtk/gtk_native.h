// gtk_native.h - what the desktop backend's files share: the GTK objects behind a window or
// a dialog panel, start-up of the toolkit, and geometry helpers.
//
// A top-level window is a GtkWindow holding a vertical box: the menu bar, then an overlay
// whose main child is the drawing area (the client area) and whose overlay children are
// the dialog panels. A dialog panel is a box placed in its parent's overlay.
//
// Threads: main thread only. Ownership: each Window's NativeWindow is made by createWindow
// and freed by destroyWindow; the GTK widgets belong to their top-level window (or, for a
// panel, to the parent's overlay) and are destroyed with the NativeWindow.
#pragma once

// win_api.h first: its TRUE and FALSE are the ones GLib then keeps.
#include "platform/common/window_core.h"

#include <gtk/gtk.h>

namespace platform::gtk {

struct NativeWindow {
    HWND handle = nullptr;
    // Top-level windows.
    GtkWidget* toplevel = nullptr;
    GtkWidget* menuBar = nullptr;
    GtkWidget* overlay = nullptr;
    GtkWidget* area = nullptr;
    int clientWidth = 0;
    int clientHeight = 0;
    cairo_surface_t* frame = nullptr;  // the last presented image, clipped to the client area
    int frameWidth = 0;                // its size
    int frameHeight = 0;
    unsigned long drawCount = 0;       // how often the client area was painted
    double wheelCarried = 0.0;         // smooth scrolling below one wheel unit, not yet sent
    // Dialog panels.
    GtkWidget* panel = nullptr;
    GtkWidget* panelCaption = nullptr;
    GtkWidget* panelBody = nullptr;  // the fixed container the controls sit in
    int panelX = 0, panelY = 0;      // pixels in the parent's client area
    int bodyWidth = 0, bodyHeight = 0;
};

// Starts GTK once (quietly: no accessibility bus, in-memory settings, the C locale kept).
// False when there is no display.
bool ensureStarted();

NativeWindow* nativeOf(const Window& window);
NativeWindow* nativeOf(HWND handle);

// The GtkWindow a window belongs to (its own, or its parent's for a panel); null if none.
GtkWindow* toplevelOf(HWND handle);

// Screen position of a widget's top-left corner; {0, 0} when it is not realized.
POINT widgetScreenOrigin(GtkWidget* widget);

// Dialog panels (gtk_dialog_panel.cpp).
bool createPanel(Window& window);
void destroyPanel(NativeWindow& native);

// Dialog-unit base of the platform's dialog font, as Windows computes it: the average
// width of the Latin letters and the font's line height.
struct DialogBase {
    int x = 0;
    int y = 0;
};
DialogBase dialogBase(GtkWidget* widget);
inline int dialogUnitsToX(int units, DialogBase base) { return units * base.x / 4; }
inline int dialogUnitsToY(int units, DialogBase base) { return units * base.y / 8; }

// Presentation (gtk_present.cpp): paints the last frame into the drawing area.
gboolean drawClientArea(GtkWidget* area, cairo_t* cr, gpointer native);

// Input (gtk_input.cpp): key events become WM_KEYDOWN and tracked key state, scroll events
// WM_MOUSEWHEEL.
gboolean keyPressed(GtkWidget* widget, GdkEventKey* event, gpointer native);
gboolean keyReleased(GtkWidget* widget, GdkEventKey* event, gpointer native);
gboolean focusLost(GtkWidget* widget, GdkEventFocus* event, gpointer native);
// The client area's scroll events become WM_MOUSEWHEEL, posted as Windows sends it.
gboolean wheelTurned(GtkWidget* widget, GdkEventScroll* event, gpointer native);
// The Windows virtual-key code of a GDK key value; 0 when it has none.
int virtualKeyOf(guint keyval);

}  // namespace platform::gtk
