// surface.h - an image in pixel memory that the program owns and draws into by itself: a
// DIB section with its own memory device context, rows stored bottom-up, 3 or 4 bytes per
// pixel (blue, green, red[, unused]). Also the rectangle every drawing call uses.
//
// Positions and rectangles given to drawing calls are in screen orientation (x right, y
// down from the top-left corner); the bottom-up storage is hidden inside copyFrom.
//
// Threads: main thread only. Ownership: a Surface owns its device context and DIB section
// and gives them back in its destructor; it is never copied.
#pragma once

#include <cstdint>

#include "platform/win_api.h"

// A rectangle: right and bottom exclusive for copies, all four bounds inclusive for the
// hit test of the on-screen controls.
struct SpriteRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

struct Surface {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bytesPerPixel = 0;
    int32_t stride = 0;
    HDC memoryDc = nullptr;
    uint8_t* pixels = nullptr;
    HBITMAP dibSection = nullptr;
    HGDIOBJ previousBitmap = nullptr;

    Surface() = default;
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
    ~Surface();

    // Makes zeroed (black) pixel memory of width x height with 3 or 4 bytes per pixel,
    // releasing any earlier image first. False when the size or depth cannot be made; the
    // four numbers stay stored and there are no pixels.
    bool create(int32_t width, int32_t height, int32_t bytesPerPixel);
    // Loads an uncompressed bottom-up 24- or 32-bit BMP file. Rejects (false, no crash, no
    // huge allocation) files that are missing, not BMP, of another depth, of an absurd or
    // non-positive size, or whose pixel data would lie beyond the file. A short file loads
    // with its unread rows black.
    bool loadBitmap(const char* path);
    // Every pixel becomes the colour; the unused fourth byte is left as it is.
    void fill(uint8_t blue, uint8_t green, uint8_t red);
    // Copies rect of source to (x, y) here, clipped against this surface and against the
    // source image; rect receives the clipped rectangle. Nothing is copied between surfaces
    // of different bytes per pixel, so no caller can read outside an image.
    void copyFrom(const Surface& source, int32_t x, int32_t y, SpriteRect& rect);
    // Gives the DIB section back before a re-creation; used by create.
    void reset();

    // The first byte of the row shown y rows below the top.
    uint8_t* rowShown(int32_t y) const { return pixels + static_cast<intptr_t>(height - 1 - y) * stride; }
};
