// Presentation: a frame is copied once into a cairo surface of the client area's size (rows
// flipped from bottom-up; CAIRO_FORMAT_RGB24 is B, G, R, X in memory on little-endian
// machines, the layout of the back buffer) and painted by the drawing area's draw handler.
// Dialog panels lie above the drawing area in the overlay, so frames never cover them.
//
// TABLADEX_TRACE_FIRST_FRAME=1 prints one line on stderr when the first frame is painted,
// with the wall-clock time in microseconds, for the start-up benchmark (bench/startup).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/common/backend.h"
#include "platform/gtk/gtk_backend.h"
#include "platform/gtk/gtk_native.h"

static_assert(G_BYTE_ORDER == G_LITTLE_ENDIAN, "the frame copy assumes BGRX pixels in memory");

namespace platform::gtk {

namespace {

void traceFirstFrame() {
    static bool traced = false;
    if (traced) return;
    traced = true;
    const char* trace = std::getenv("TABLADEX_TRACE_FIRST_FRAME");
    if (trace && std::strcmp(trace, "1") == 0)
        std::fprintf(stderr, "tabladex: first frame painted at %lld us\n",
                     static_cast<long long>(g_get_real_time()));
}

}  // namespace

gboolean drawClientArea(GtkWidget*, cairo_t* cr, gpointer data) {
    auto* native = static_cast<NativeWindow*>(data);
    ++native->drawCount;
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    if (native->frame) {
        cairo_set_source_surface(cr, native->frame, 0, 0);
        cairo_paint(cr);
        traceFirstFrame();
    }
    return TRUE;
}

}  // namespace platform::gtk

namespace platform::backend {

void present(Window& window, const uint8_t* pixels, int width, int height, int stride) {
    gtk::NativeWindow* native = gtk::nativeOf(window);
    if (!native || !native->area || !pixels || width <= 0 || height <= 0) return;
    int shownWidth = std::min(width, native->clientWidth);
    int shownHeight = std::min(height, native->clientHeight);
    // The frame is kept where the window's own pixels are (in the X server, on X11) once
    // the window exists, so that the program holds no second copy of the back buffer and a
    // repaint is a copy inside the server; before that, in an image of our own.
    GdkWindow* target = gtk_widget_get_window(native->area);
    cairo_surface_t*& frame = native->frame;
    if (frame && (native->frameWidth != shownWidth || native->frameHeight != shownHeight ||
                  (target && cairo_surface_get_type(frame) == CAIRO_SURFACE_TYPE_IMAGE))) {
        cairo_surface_destroy(frame);
        frame = nullptr;
    }
    if (!frame) {
        frame = target ? gdk_window_create_similar_surface(target, CAIRO_CONTENT_COLOR, shownWidth,
                                                           shownHeight)
                       : cairo_image_surface_create(CAIRO_FORMAT_RGB24, shownWidth, shownHeight);
        native->frameWidth = shownWidth;
        native->frameHeight = shownHeight;
    }
    if (cairo_surface_status(frame) != CAIRO_STATUS_SUCCESS) return;

    // The back buffer as it is stored, bottom row first, painted through a flip: shown row
    // y is stored row height - 1 - y. Nearest-pixel sampling keeps the copy exact.
    cairo_surface_t* rows = cairo_image_surface_create_for_data(
        const_cast<uint8_t*>(pixels), CAIRO_FORMAT_RGB24, shownWidth, height, stride);
    cairo_t* cr = cairo_create(frame);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, rows, 0, 0);
    cairo_pattern_t* source = cairo_get_source(cr);
    cairo_matrix_t flip;
    cairo_matrix_init(&flip, 1, 0, 0, -1, 0, height);
    cairo_pattern_set_matrix(source, &flip);
    cairo_pattern_set_filter(source, CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr, 0, 0, shownWidth, shownHeight);
    cairo_fill(cr);
    cairo_destroy(cr);
    // The back buffer changes after this call: nothing may keep reading it.
    cairo_surface_finish(rows);
    cairo_surface_destroy(rows);
    gtk_widget_queue_draw(native->area);
}

}  // namespace platform::backend

namespace gtkbackend {

bool readClientPixels(HWND window, int& width, int& height, std::vector<uint32_t>& pixels) {
    platform::gtk::NativeWindow* native = platform::gtk::nativeOf(window);
    if (!native || !native->area || !gtk_widget_get_mapped(native->area)) return false;
    // The area may sit in a child window of the overlay: read from the top-level window.
    GtkWidget* top = gtk_widget_get_toplevel(native->area);
    GdkWindow* gdkWindow = gtk_widget_get_window(top);
    int x = 0, y = 0;
    if (!gdkWindow || !gtk_widget_translate_coordinates(native->area, top, 0, 0, &x, &y))
        return false;
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(gdkWindow, x, y,
                                                 gtk_widget_get_allocated_width(native->area),
                                                 gtk_widget_get_allocated_height(native->area));
    if (!shot) return false;
    width = gdk_pixbuf_get_width(shot);
    height = gdk_pixbuf_get_height(shot);
    int channels = gdk_pixbuf_get_n_channels(shot);
    int rowStride = gdk_pixbuf_get_rowstride(shot);
    const guchar* data = gdk_pixbuf_get_pixels(shot);
    pixels.assign(static_cast<std::size_t>(width) * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const guchar* p = data + static_cast<std::size_t>(y) * rowStride + x * channels;
            pixels[static_cast<std::size_t>(y) * width + x] =
                uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        }
    g_object_unref(shot);
    return true;
}

}  // namespace gtkbackend
