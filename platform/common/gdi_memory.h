// gdi_memory.h - device contexts and DIB sections as plain memory, shared by the backends.
// The calls themselves are declared in win_api.h; this header gives the window system a way
// to make a window's device context and to read a DC's selected bitmap.
//
// Threads: main thread only. Ownership: DCs and bitmaps belong to their creator until
// DeleteDC / DeleteObject; a window's DC belongs to the window.
#pragma once

#ifndef _WIN32

#include <cstdint>

#include "platform/win_api.h"

namespace platform {

struct BitmapView {
    uint8_t* pixels = nullptr;  // stored row 0 first
    int width = 0;
    int height = 0;             // rows, always positive
    int bytesPerPixel = 0;
    int stride = 0;
    bool bottomUp = true;       // stored row 0 is the bottom row
};

// The DC that a window draws through (made once, owned by the window).
HDC makeWindowDc(HWND window);
void releaseWindowDc(HDC dc);
// The bitmap currently selected into a memory DC; false when there is none.
bool selectedBitmap(HDC dc, BitmapView& view);
// How many DCs and bitmaps are alive (tests check for leaks).
int liveGdiObjects();

}  // namespace platform

#endif
