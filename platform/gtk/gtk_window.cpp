// Windows and events: a top-level window is a fixed-size GtkWindow whose content (menu bar,
// made by gtk_menu.cpp, plus client area) has the size the program asked for; the close box
// becomes a queued message, and PeekMessageA pumps GTK without blocking.
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/common/backend.h"
#include "platform/gtk/gtk_backend.h"
#include "platform/gtk/gtk_menu.h"
#include "platform/gtk/gtk_modal.h"
#include "platform/gtk/gtk_native.h"
// After the window system's own names, as glib defines TRUE and FALSE only when unset.
#include <glib-unix.h>

namespace platform::gtk {
namespace {

bool started = false;
bool available = false;

// GTK remarks on every dialog without a parent window; a message box without an owner is
// ordinary for this program. Everything else GTK says goes to the default handler.
void filterGtkMessages(const gchar* domain, GLogLevelFlags level, const gchar* message,
                       gpointer) {
    if (message && g_str_has_prefix(message, "GtkDialog mapped without a transient parent"))
        return;
    g_log_default_handler(domain, level, message, nullptr);
}

// The client size used when the program leaves the size to the system.
constexpr int defaultWidth = 640;
constexpr int defaultHeight = 480;

int preferredHeight(GtkWidget* widget) {
    int minimum = 0, natural = 0;
    gtk_widget_get_preferred_height(widget, &minimum, &natural);
    return std::max(minimum, natural);
}

// The window's icons, when the handles are icons of the module's resource table.
GdkPixbuf* iconPixbuf(HICON icon) {
    const ModuleResources* resources = moduleResources();
    if (!icon || !resources) return nullptr;
    const IconDesc* desc = nullptr;
    for (std::size_t i = 0; i < resources->iconCount; ++i)
        if (reinterpret_cast<HICON>(const_cast<IconDesc*>(&resources->icons[i])) == icon)
            desc = &resources->icons[i];
    if (!desc || !desc->icoBytes) return nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("ico", nullptr);
    if (!loader) return nullptr;
    GdkPixbuf* pixbuf = nullptr;
    if (gdk_pixbuf_loader_write(loader, desc->icoBytes, desc->size, nullptr) &&
        gdk_pixbuf_loader_close(loader, nullptr)) {
        pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
        if (pixbuf) g_object_ref(pixbuf);
    } else {
        gdk_pixbuf_loader_close(loader, nullptr);
    }
    g_object_unref(loader);
    return pixbuf;
}

void setIcons(GtkWindow* toplevel, const Window& window) {
    GList* list = nullptr;
    for (HICON icon : {window.icon, window.smallIcon})
        if (GdkPixbuf* pixbuf = iconPixbuf(icon)) list = g_list_append(list, pixbuf);
    if (list) gtk_window_set_icon_list(toplevel, list);
    g_list_free_full(list, g_object_unref);
}

gboolean closeBoxClicked(GtkWidget*, GdkEvent*, gpointer data) {
    // The program decides: WM_CLOSE reaches it through the queue, and DefWindowProc or the
    // program destroys the window through DestroyWindow.
    auto* native = static_cast<NativeWindow*>(data);
    if (findWindow(native->handle)) postMessage(native->handle, WM_CLOSE, 0, 0);
    return TRUE;
}

bool createToplevel(Window& window) {
    auto* native = new NativeWindow;
    native->handle = window.handle;
    window.native = native;

    GtkWidget* toplevel = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    native->toplevel = toplevel;
    gtk_window_set_title(GTK_WINDOW(toplevel), window.title.c_str());
    gtk_window_set_resizable(GTK_WINDOW(toplevel), FALSE);
    setIcons(GTK_WINDOW(toplevel), window);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(toplevel), box);
    int menuHeight = 0;
    if (window.menuBar) native->menuBar = buildMenuBar(window.menuBar);
    if (native->menuBar) {
        gtk_box_pack_start(GTK_BOX(box), native->menuBar, FALSE, FALSE, 0);
        menuHeight = preferredHeight(native->menuBar);
    }

    // The requested size is the outer size; with no frame of our own (the window manager
    // decorates outside) that is the content: menu bar plus client area.
    RECT insets = backend::frameInsets(window.style, window.exStyle);
    int width = window.width == CW_USEDEFAULT ? defaultWidth
                                              : window.width - insets.left - insets.right;
    int height = window.height == CW_USEDEFAULT
                     ? defaultHeight
                     : window.height - insets.top - insets.bottom - menuHeight;
    native->clientWidth = std::max(1, width);
    native->clientHeight = std::max(1, height);

    native->overlay = gtk_overlay_new();
    native->area = gtk_drawing_area_new();
    gtk_widget_set_size_request(native->area, native->clientWidth, native->clientHeight);
    gtk_container_add(GTK_CONTAINER(native->overlay), native->area);
    gtk_box_pack_start(GTK_BOX(box), native->overlay, FALSE, FALSE, 0);
    g_signal_connect(native->area, "draw", G_CALLBACK(drawClientArea), native);
    // The pointer's buttons are read by polling, but their events are taken too: they wake a
    // frame loop that sleeps while nothing moves on screen. The wheel comes as events only,
    // a wheel's notches and a touchpad's fine (smooth) turns alike.
    gtk_widget_add_events(native->area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                            GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK);
    g_signal_connect(native->area, "scroll-event", G_CALLBACK(wheelTurned), native);

    g_signal_connect(toplevel, "delete-event", G_CALLBACK(closeBoxClicked), native);
    g_signal_connect(toplevel, "key-press-event", G_CALLBACK(keyPressed), native);
    g_signal_connect(toplevel, "key-release-event", G_CALLBACK(keyReleased), native);
    g_signal_connect(toplevel, "focus-out-event", G_CALLBACK(focusLost), native);
    gtk_widget_show(native->area);
    gtk_widget_show(native->overlay);
    gtk_widget_show(box);
    return true;
}

}  // namespace

gboolean closeMainWindow(gpointer) {
    // A modal dialog's loop would hold the close up until the learner answers it: answer
    // every open dialog as its close box would, so the program ends now.
    endModalDialogs();
    for (Window* window : liveWindows())
        if (!window->parent && !window->destroying) {
            PostMessageA(window->handle, WM_CLOSE, 0, 0);
            break;
        }
    return G_SOURCE_CONTINUE;
}

bool ensureStarted() {
    if (started) return available;
    started = true;
    // Quiet on machines without a session bus: no accessibility bus, settings in memory.
    g_setenv("NO_AT_BRIDGE", "1", FALSE);
    g_setenv("GSETTINGS_BACKEND", "memory", FALSE);
    // Everything is drawn with cairo, so GDK needs no OpenGL: without this, opening an X11
    // display probes GL, which loads the Mesa driver and its LLVM (some 50 MB of resident
    // memory) and takes a few hundred milliseconds of start-up. A user's own GDK_GL wins.
    g_setenv("GDK_GL", "disable", FALSE);
    // The program reads numbers from its data files: keep the C locale for them.
    gtk_disable_setlocale();
    g_log_set_handler("Gtk", G_LOG_LEVEL_MESSAGE, filterGtkMessages, nullptr);
    // GTK starts without argv, so name the program here: GDK sets the window's WM_CLASS
    // from it, which ties the window to its desktop entry (StartupWMClass=tabladex).
    g_set_prgname("tabladex");
    g_set_application_name("Tabladex");
    available = gtk_init_check(nullptr, nullptr);
    if (!available) {
        // Said once, here where the reason is known: the program only learns that its
        // window could not be made.
        const char* display = g_getenv("DISPLAY");
        const char* wayland = g_getenv("WAYLAND_DISPLAY");
        if ((!display || !*display) && (!wayland || !*wayland))
            std::fprintf(stderr, "tabladex: cannot open the display (is DISPLAY set?)\n");
        else
            std::fprintf(stderr, "tabladex: cannot open the display %s\n",
                         display && *display ? display : wayland);
    }
    if (available) {
        // A session's logout (SIGTERM) or a terminal's Ctrl+C (SIGINT) closes the main window
        // as File > Exit does, so the program ends in order with exit code 0.
        for (int signal : {SIGTERM, SIGINT}) g_unix_signal_add(signal, closeMainWindow, nullptr);
    }
    return available;
}

NativeWindow* nativeOf(const Window& window) { return static_cast<NativeWindow*>(window.native); }

NativeWindow* nativeOf(HWND handle) {
    Window* window = findWindow(handle);
    return window ? nativeOf(*window) : nullptr;
}

GtkWindow* toplevelOf(HWND handle) {
    Window* window = findWindow(handle);
    while (window && window->parent) window = findWindow(window->parent);
    NativeWindow* native = window ? nativeOf(*window) : nullptr;
    return native && native->toplevel ? GTK_WINDOW(native->toplevel) : nullptr;
}

POINT widgetScreenOrigin(GtkWidget* widget) {
    GtkWidget* top = widget ? gtk_widget_get_toplevel(widget) : nullptr;
    GdkWindow* gdkWindow = top ? gtk_widget_get_window(top) : nullptr;
    if (!gdkWindow) return POINT{0, 0};
    int rootX = 0, rootY = 0, x = 0, y = 0;
    gdk_window_get_origin(gdkWindow, &rootX, &rootY);
    gtk_widget_translate_coordinates(widget, top, 0, 0, &x, &y);
    return POINT{rootX + x, rootY + y};
}

}  // namespace platform::gtk

namespace platform::backend {

using platform::gtk::NativeWindow;
using platform::gtk::nativeOf;

// The window manager draws the frame outside the content, so the outer size the program
// computes is the content size.
RECT frameInsets(DWORD, DWORD) { return RECT{0, 0, 0, 0}; }

int menuBarHeight() {
    static int height = -1;
    if (height >= 0) return height;
    if (!gtk::ensureStarted()) return 0;
    GtkWidget* bar = gtk_menu_bar_new();
    g_object_ref_sink(bar);
    GtkWidget* item = gtk_menu_item_new_with_mnemonic("_File");
    gtk_menu_shell_append(GTK_MENU_SHELL(bar), item);
    gtk_widget_show_all(bar);
    height = gtk::preferredHeight(bar);
    gtk_widget_destroy(bar);
    g_object_unref(bar);
    return height;
}

bool createWindow(Window& window) {
    if (!gtk::ensureStarted()) return false;
    if (window.parent) return window.dialog && gtk::createPanel(window);
    gtk::clearModalEnding();  // a new main window's dialogs run again
    return gtk::createToplevel(window);
}

void destroyWindow(Window& window) {
    NativeWindow* native = nativeOf(window);
    if (!native) return;
    if (native->panel) gtk::destroyPanel(*native);
    if (native->toplevel) gtk_widget_destroy(native->toplevel);
    if (native->frame) cairo_surface_destroy(native->frame);
    delete native;
    window.native = nullptr;
}

void showWindow(Window& window, bool visible) {
    NativeWindow* native = nativeOf(window);
    if (!native) return;
    GtkWidget* widget = native->toplevel ? native->toplevel : native->panel;
    if (!widget) return;
    if (visible)
        gtk_widget_show(widget);
    else
        gtk_widget_hide(widget);
}

void pumpEvents() {
    if (!gtk::started || !gtk::available) return;
    // Bounded, so a stream of events cannot hold the frame loop.
    for (int i = 0; i < 1000 && gtk_events_pending(); ++i) gtk_main_iteration_do(FALSE);
}

bool waitForEvents(DWORD milliseconds) {
    if (!gtk::started || !gtk::available) {
        g_usleep(gulong(milliseconds) * 1000);
        return false;
    }
    if (gtk_events_pending()) return true;
    // One blocking iteration of the main context: it returns when an event or other source
    // is dispatched, or when this time-out fires.
    bool timedOut = false;
    guint timeout = 0;
    if (milliseconds != INFINITE)
        timeout = g_timeout_add(milliseconds, [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        }, &timedOut);
    g_main_context_iteration(nullptr, TRUE);
    if (timeout && !timedOut) g_source_remove(timeout);
    return !timedOut;
}

POINT clientOrigin(const Window& window) {
    NativeWindow* native = nativeOf(window);
    if (!native) return POINT{0, 0};
    return gtk::widgetScreenOrigin(native->toplevel ? native->area : native->panelBody);
}

POINT clientSize(const Window& window) {
    NativeWindow* native = nativeOf(window);
    if (!native) return POINT{0, 0};
    if (native->toplevel) return POINT{native->clientWidth, native->clientHeight};
    return POINT{native->bodyWidth, native->bodyHeight};
}

}  // namespace platform::backend

namespace gtkbackend {

using platform::gtk::NativeWindow;
using platform::gtk::nativeOf;

GtkWindow* toplevel(HWND window) {
    NativeWindow* native = nativeOf(window);
    return native && native->toplevel ? GTK_WINDOW(native->toplevel) : nullptr;
}

GtkWidget* menuBar(HWND window) {
    NativeWindow* native = nativeOf(window);
    return native ? native->menuBar : nullptr;
}

GtkWidget* clientArea(HWND window) {
    NativeWindow* native = nativeOf(window);
    return native ? native->area : nullptr;
}

GtkWidget* panel(HWND dialog) {
    NativeWindow* native = nativeOf(dialog);
    return native ? native->panel : nullptr;
}

unsigned long drawCount(HWND window) {
    NativeWindow* native = nativeOf(window);
    return native ? native->drawCount : 0;
}

bool pumpUntil(const std::function<bool()>& pred, int timeoutMs) {
    gint64 end = g_get_monotonic_time() + gint64(timeoutMs) * 1000;
    while (!pred()) {
        if (g_get_monotonic_time() > end) return false;
        if (gtk_events_pending())
            gtk_main_iteration_do(FALSE);
        else
            g_usleep(1000);
    }
    return true;
}

}  // namespace gtkbackend
