// Input: the pointer's global position and left button come from the seat's pointer device
// (so a button released outside the window reads as released); keys are tracked from the
// window's key events, which also become WM_KEYDOWN with the Windows virtual-key code. A
// press of the left button on a client area also becomes WM_LBUTTONDOWN, as on Windows, so
// that a click too short for any frame's reading of the button still reaches the program.
// The wheel turned over a client area becomes WM_MOUSEWHEEL, as on Windows.
#include <algorithm>
#include <array>
#include <cmath>

#include "platform/common/backend.h"
#include "platform/gtk/gtk_native.h"

#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

namespace platform::gtk {
namespace {

std::array<bool, 256> keysDown{};

GdkDevice* pointerDevice() {
    GdkDisplay* display = gdk_display_get_default();
    GdkSeat* seat = display ? gdk_display_get_default_seat(display) : nullptr;
    return seat ? gdk_seat_get_pointer(seat) : nullptr;
}

struct PointerState {
    int x = 0;
    int y = 0;
    GdkModifierType buttons = GdkModifierType(0);
};

// The pointer's screen position and buttons, from one query of the device. Every frame
// reads the left button, the right button and the position one after another, and on X11
// each query is a round trip to the server (about half of what an idle frame costs), so one
// answer serves all three: it is reused while it is under a millisecond old and nothing has
// been sent to the server since. Any request of ours in between (a test's XTest press, say)
// makes the next read ask again; input the server sees within that millisecond is no more
// stale than it would be had the reads come a moment earlier. Other displays always ask.
PointerState queryPointer() {
    static PointerState last;
    static gint64 askedAt = -1;
    static unsigned long nextRequestAfter = 0;
    GdkDevice* pointer = pointerDevice();
    GdkScreen* screen = gdk_screen_get_default();
    GdkWindow* root = screen ? gdk_screen_get_root_window(screen) : nullptr;
    if (!pointer || !root) return PointerState{};
#ifdef GDK_WINDOWING_X11
    GdkDisplay* display = gdk_device_get_display(pointer);
    Display* xdisplay = GDK_IS_X11_DISPLAY(display) ? GDK_DISPLAY_XDISPLAY(display) : nullptr;
    const gint64 now = g_get_monotonic_time();
    if (xdisplay && askedAt >= 0 && now - askedAt < 1000 && XNextRequest(xdisplay) == nextRequestAfter)
        return last;
#endif
    PointerState state;
    gdk_window_get_device_position(root, pointer, &state.x, &state.y, &state.buttons);
#ifdef GDK_WINDOWING_X11
    if (xdisplay) {
        last = state;
        askedAt = now;
        nextRequestAfter = XNextRequest(xdisplay);
    }
#endif
    return state;
}

// Every widget's button-press-event passes here; a first-button press on a window's client
// area is posted to that window with its client position. Watching through an emission hook
// keeps the whole of the input here, beside the polled state it completes.
gboolean buttonPressed(GSignalInvocationHint*, guint count, const GValue* values, gpointer) {
    if (count < 2 || !G_VALUE_HOLDS_OBJECT(&values[0])) return TRUE;
    auto* widget = static_cast<GtkWidget*>(g_value_get_object(&values[0]));
    const auto* event = static_cast<const GdkEventButton*>(g_value_get_boxed(&values[1]));
    // A double click's second press comes as a plain press first, then as GDK_2BUTTON_PRESS.
    if (!widget || !event || event->type != GDK_BUTTON_PRESS || event->button != 1) return TRUE;
    for (Window* window : liveWindows()) {
        const NativeWindow* native = nativeOf(*window);
        if (!native || native->area != widget) continue;
        const LPARAM at = static_cast<LPARAM>((int(event->y) & 0xFFFF) << 16 | (int(event->x) & 0xFFFF));
        postMessage(native->handle, WM_LBUTTONDOWN, MK_LBUTTON, at);
        break;
    }
    return TRUE;  // keep watching
}

// Installed once, on the first reading of the input (GTK is up by then).
void watchButtonPresses() {
    static bool watching = false;
    if (watching) return;
    watching = true;
    g_type_class_ref(GTK_TYPE_WIDGET);  // the signal exists once the class does
    const guint signal = g_signal_lookup("button-press-event", GTK_TYPE_WIDGET);
    if (signal) g_signal_add_emission_hook(signal, 0, buttonPressed, nullptr, nullptr);
}

}  // namespace

int virtualKeyOf(guint keyval) {
    guint upper = gdk_keyval_to_upper(keyval);
    if (upper >= GDK_KEY_A && upper <= GDK_KEY_Z) return int('A' + (upper - GDK_KEY_A));
    if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return int('0' + (keyval - GDK_KEY_0));
    if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return 0x60 + int(keyval - GDK_KEY_KP_0);
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F24) return 0x70 + int(keyval - GDK_KEY_F1);
    switch (keyval) {
        case GDK_KEY_Escape: return VK_ESCAPE;
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter: return VK_RETURN;
        case GDK_KEY_space: return VK_SPACE;
        case GDK_KEY_BackSpace: return 0x08;
        case GDK_KEY_Tab:
        case GDK_KEY_ISO_Left_Tab: return 0x09;
        case GDK_KEY_Shift_L:
        case GDK_KEY_Shift_R: return 0x10;
        case GDK_KEY_Control_L:
        case GDK_KEY_Control_R: return 0x11;
        case GDK_KEY_Alt_L:
        case GDK_KEY_Alt_R: return 0x12;
        case GDK_KEY_Pause: return 0x13;
        case GDK_KEY_Page_Up: return 0x21;
        case GDK_KEY_Page_Down: return 0x22;
        case GDK_KEY_End: return 0x23;
        case GDK_KEY_Home: return 0x24;
        case GDK_KEY_Left: return 0x25;
        case GDK_KEY_Up: return 0x26;
        case GDK_KEY_Right: return 0x27;
        case GDK_KEY_Down: return 0x28;
        case GDK_KEY_Insert: return 0x2D;
        case GDK_KEY_Delete: return 0x2E;
        default: return 0;
    }
}

gboolean keyPressed(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* native = static_cast<NativeWindow*>(data);
    int virtualKey = virtualKeyOf(event->keyval);
    if (virtualKey) {
        keysDown[virtualKey] = true;
        if (findWindow(native->handle))
            postMessage(native->handle, WM_KEYDOWN, WPARAM(virtualKey), 1);
    }
    // GTK goes on with the event, so menu mnemonics and F10 keep working.
    return FALSE;
}

gboolean wheelTurned(GtkWidget*, GdkEventScroll* event, gpointer data) {
    auto* native = static_cast<NativeWindow*>(data);
    // In Windows units, positive away from the user: a wheel's notch is WHEEL_DELTA; a smooth
    // scroll counts notches with down positive, and what it leaves below one unit is carried
    // to the next, so a slow touchpad still turns the wheel.
    double units = 0.0;
    switch (event->direction) {
        case GDK_SCROLL_UP: units = WHEEL_DELTA; break;
        case GDK_SCROLL_DOWN: units = -WHEEL_DELTA; break;
        case GDK_SCROLL_SMOOTH: units = native->wheelCarried - event->delta_y * WHEEL_DELTA; break;
        default: return FALSE;  // sideways (WM_MOUSEHWHEEL) is nothing the program takes
    }
    const double whole = std::clamp(std::trunc(units), -32768.0, 32767.0);
    native->wheelCarried = event->direction == GDK_SCROLL_SMOOTH ? units - whole : 0.0;
    if (whole == 0.0 || !findWindow(native->handle)) return TRUE;
    const WPARAM keys = (event->state & GDK_BUTTON1_MASK) ? MK_LBUTTON : 0;
    const int x = static_cast<int>(std::floor(event->x_root));
    const int y = static_cast<int>(std::floor(event->y_root));
    const LPARAM at = static_cast<LPARAM>(DWORD(y & 0xFFFF) << 16 | DWORD(x & 0xFFFF));
    postMessage(native->handle, WM_MOUSEWHEEL, MAKEWPARAM(keys, static_cast<int>(whole)), at);
    return TRUE;
}

gboolean keyReleased(GtkWidget*, GdkEventKey* event, gpointer) {
    int virtualKey = virtualKeyOf(event->keyval);
    if (virtualKey) keysDown[virtualKey] = false;
    return FALSE;
}

gboolean focusLost(GtkWidget*, GdkEventFocus*, gpointer) {
    // Releases that happen elsewhere never reach the window.
    keysDown.fill(false);
    return FALSE;
}

}  // namespace platform::gtk

namespace platform::backend {

SHORT asyncKeyState(int virtualKey) {
    if (!gtk::ensureStarted() || virtualKey < 0 || virtualKey > 255) return 0;
    gtk::watchButtonPresses();
    bool down = false;
    if (virtualKey == VK_LBUTTON)
        down = gtk::queryPointer().buttons & GDK_BUTTON1_MASK;
    else if (virtualKey == VK_RBUTTON)
        down = gtk::queryPointer().buttons & GDK_BUTTON3_MASK;
    else
        down = gtk::keysDown[virtualKey];
    return down ? static_cast<SHORT>(0x8000) : 0;
}

POINT cursorPos() {
    if (!gtk::ensureStarted()) return POINT{0, 0};
    const gtk::PointerState pointer = gtk::queryPointer();
    return POINT{pointer.x, pointer.y};
}

}  // namespace platform::backend
