// av_sync_screen.h - what the X server shows of the tutor's window: rectangles of the root
// window taken through shared memory (XShm; plain XGetImage where the server lacks it), and
// the place of the window's client area, found by matching the screen's background image.
//
// A grab is answered by the server from its own framebuffer, so a pixel in a grab is a
// pixel the server had when it served the request: the moment a change becomes visible is
// bracketed by the grab that first sees it and the one before.
//
// Threads: one thread per Display connection; a ScreenRegion is used by the thread that
// made it. Ownership: a ScreenRegion owns its image and shared memory segment; the Display
// belongs to the caller and must outlive the regions made on it.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <cstdint>
#include <string>
#include <vector>

// A picture in 0x00RRGGBB pixels, rows from the top.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// Loads an uncompressed bottom-up 24- or 32-bit BMP file; false when it is not one.
bool loadBmp(const std::string& path, Picture* picture);

class ScreenRegion {
public:
    ScreenRegion() = default;
    ScreenRegion(const ScreenRegion&) = delete;
    ScreenRegion& operator=(const ScreenRegion&) = delete;
    ~ScreenRegion();

    // A region of width x height at (x, y) of the root window; false when the server's
    // screen is not 24- or 32-bit TrueColor or the image cannot be made.
    bool create(Display* display, int x, int y, int width, int height);
    // Takes the region's pixels now (one round trip to the server).
    bool grab();
    uint32_t at(int x, int y) const;
    void copyTo(Picture* picture) const;
    // Pixels differing from the picture (same size) in the sub-rectangle given, looking at
    // every step-th pixel of every step-th row.
    int differing(const Picture& reference, int left, int top, int width, int height, int step = 1) const;
    int width() const { return width_; }
    int height() const { return height_; }
    bool shared() const { return shared_; }
    // Gives the image and the segment back (also done by the destructor and by create);
    // call it before the Display closes.
    void release();

private:

    Display* display_ = nullptr;
    XImage* image_ = nullptr;
    bool shared_ = false;    // grabs go through the shared segment
    bool attached_ = false;  // the server has attached the segment
    XShmSegmentInfo shm_{};
    int x_ = 0;
    int y_ = 0;
    int width_ = 0;
    int height_ = 0;
};

// The root-window position of the top-left corner of the window's client area (where the
// program's 600 x 480 back buffer lands), found by matching the background image, which the
// screen draws at (0, 13) of the back buffer. Searches the window's rectangle on the root
// and a margin around it; false when no place matches at least 90 % of the samples.
bool findClientOrigin(Display* display, Window window, const Picture& background, int* x, int* y,
                      std::string* error);
