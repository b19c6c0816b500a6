// Presentation: a frame is copied once into a cairo image of the client area's size (rows
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
    cairo_surface_t*& frame = native->frame;
    if (frame && (cairo_image_surface_get_width(frame) != shownWidth ||
                  cairo_image_surface_get_height(frame) != shownHeight)) {
        cairo_surface_destroy(frame);
        frame = nullptr;
    }
    if (!frame) frame = cairo_image_surface_create(CAIRO_FORMAT_RGB24, shownWidth, shownHeight);
    if (cairo_surface_status(frame) != CAIRO_STATUS_SUCCESS) return;

    cairo_surface_flush(frame);
    uint8_t* out = cairo_image_surface_get_data(frame);
    int outStride = cairo_image_surface_get_stride(frame);
    std::size_t rowBytes = static_cast<std::size_t>(shownWidth) * 4;
    // The top shown row is the last stored row of the bottom-up image.
    for (int y = 0; y < shownHeight; ++y)
        std::memcpy(out + static_cast<std::size_t>(y) * outStride,
                    pixels + static_cast<std::size_t>(height - 1 - y) * stride, rowBytes);
    cairo_surface_mark_dirty(frame);
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
