// Memory device contexts and DIB sections as plain memory, with the Windows rules the
// program relies on: a new DIB section is zeroed, a bitmap is selected into at most one DC,
// a selected bitmap cannot be deleted, and BitBlt to a window's DC presents the pixels.
#ifndef _WIN32

#include "platform/common/gdi_memory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/common/backend.h"
#include "platform/common/window_core.h"

namespace platform {
namespace {

struct Bitmap {
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0;
    int stride = 0;
    bool bottomUp = true;
    uint8_t* pixels = nullptr;
    bool stock = false;
    void* selectedInto = nullptr;
};

struct DeviceContext {
    HWND window = nullptr;  // set for a window's DC
    Bitmap* selected = nullptr;
};

// The 1 x 1 bitmap that a new memory DC holds before anything is selected into it.
Bitmap stockBitmap{1, 1, 1, 4, true, nullptr, true, nullptr};

// Never destroyed: the process-wide window object gives its back buffer back during exit,
// after function-local statics would already be gone.
std::set<void*>& liveObjects() {
    static auto* objects = new std::set<void*>;
    return *objects;
}

bool isLive(void* object) { return object && liveObjects().count(object); }

// Largest pixel memory one DIB section may take: far beyond any screen, small enough that
// a corrupt header cannot ask for an absurd allocation.
constexpr int64_t maxDibBytes = int64_t(1) << 30;

}  // namespace

HDC makeWindowDc(HWND window) {
    auto* dc = new DeviceContext;
    dc->window = window;
    liveObjects().insert(dc);
    return reinterpret_cast<HDC>(dc);
}

void releaseWindowDc(HDC handle) {
    auto* dc = reinterpret_cast<DeviceContext*>(handle);
    if (!isLive(dc) || !dc->window) return;
    liveObjects().erase(dc);
    delete dc;
}

bool selectedBitmap(HDC handle, BitmapView& view) {
    auto* dc = reinterpret_cast<DeviceContext*>(handle);
    if (!isLive(dc) || !dc->selected || dc->selected->stock) return false;
    const Bitmap& bitmap = *dc->selected;
    view = BitmapView{bitmap.pixels, bitmap.width, bitmap.height, bitmap.bytesPerPixel,
                      bitmap.stride, bitmap.bottomUp};
    return true;
}

int liveGdiObjects() { return static_cast<int>(liveObjects().size()); }

}  // namespace platform

using platform::Bitmap;
using platform::DeviceContext;

HDC CreateCompatibleDC(HDC) {
    auto* dc = new DeviceContext;
    dc->selected = &platform::stockBitmap;
    platform::liveObjects().insert(dc);
    return reinterpret_cast<HDC>(dc);
}

BOOL DeleteDC(HDC handle) {
    auto* dc = reinterpret_cast<DeviceContext*>(handle);
    if (!platform::isLive(dc) || dc->window) return FALSE;
    if (dc->selected && !dc->selected->stock) dc->selected->selectedInto = nullptr;
    platform::liveObjects().erase(dc);
    delete dc;
    return TRUE;
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD) {
    if (bits) *bits = nullptr;
    if (!info || usage != DIB_RGB_COLORS || section) return nullptr;
    const BITMAPINFOHEADER& header = info->bmiHeader;
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 ||
        header.biCompression != BI_RGB)
        return nullptr;
    if (header.biBitCount != 24 && header.biBitCount != 32) return nullptr;
    if (header.biWidth <= 0 || header.biHeight == 0 || header.biHeight == INT32_MIN)
        return nullptr;
    int64_t width = header.biWidth;
    int64_t height = header.biHeight < 0 ? -int64_t(header.biHeight) : header.biHeight;
    int64_t bytesPerPixel = header.biBitCount / 8;
    int64_t stride = (width * bytesPerPixel + 3) & ~int64_t(3);
    if (stride * height > platform::maxDibBytes) return nullptr;

    auto* pixels = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(stride * height), 1));
    if (!pixels) return nullptr;
    auto* bitmap = new Bitmap;
    bitmap->width = static_cast<int>(width);
    bitmap->height = static_cast<int>(height);
    bitmap->bytesPerPixel = static_cast<int>(bytesPerPixel);
    bitmap->stride = static_cast<int>(stride);
    bitmap->bottomUp = header.biHeight > 0;
    bitmap->pixels = pixels;
    platform::liveObjects().insert(bitmap);
    if (bits) *bits = pixels;
    return reinterpret_cast<HBITMAP>(bitmap);
}

HGDIOBJ SelectObject(HDC handle, HGDIOBJ object) {
    auto* dc = reinterpret_cast<DeviceContext*>(handle);
    if (!platform::isLive(dc) || dc->window) return nullptr;
    auto* bitmap = static_cast<Bitmap*>(object);
    if (bitmap != &platform::stockBitmap && !platform::isLive(bitmap)) return nullptr;
    if (!bitmap->stock && bitmap->selectedInto && bitmap->selectedInto != dc) return nullptr;
    Bitmap* previous = dc->selected;
    if (previous && !previous->stock) previous->selectedInto = nullptr;
    dc->selected = bitmap;
    if (!bitmap->stock) bitmap->selectedInto = dc;
    return previous;
}

BOOL DeleteObject(HGDIOBJ object) {
    auto* bitmap = static_cast<Bitmap*>(object);
    if (bitmap == &platform::stockBitmap) return TRUE;
    if (!platform::isLive(bitmap) || bitmap->selectedInto) return FALSE;
    platform::liveObjects().erase(bitmap);
    std::free(bitmap->pixels);
    delete bitmap;
    return TRUE;
}

BOOL BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int sourceX,
            int sourceY, DWORD rop) {
    if (rop != SRCCOPY) return FALSE;
    platform::BitmapView from;
    if (!platform::selectedBitmap(source, from)) return FALSE;
    // Clip the source rectangle to the source bitmap.
    if (sourceX < 0) { x -= sourceX; width += sourceX; sourceX = 0; }
    if (sourceY < 0) { y -= sourceY; height += sourceY; sourceY = 0; }
    width = std::min(width, from.width - sourceX);
    height = std::min(height, from.height - sourceY);
    if (width <= 0 || height <= 0) return TRUE;

    auto* dc = reinterpret_cast<DeviceContext*>(destination);
    if (!platform::isLive(dc)) return FALSE;
    auto rowAt = [](const platform::BitmapView& view, int shownRow) {
        int stored = view.bottomUp ? view.height - 1 - shownRow : shownRow;
        return view.pixels + static_cast<size_t>(stored) * view.stride;
    };

    if (dc->window) {
        platform::Window* window = platform::findWindow(dc->window);
        if (!window || from.bytesPerPixel != 4 || !from.bottomUp) return FALSE;
        // The backends present whole bottom-up images at the client origin; a copy of a
        // sub-rectangle or to another position goes through a temporary image.
        if (x == 0 && y == 0 && sourceX == 0 && sourceY == 0 && height == from.height) {
            platform::backend::present(*window, from.pixels, width, height, from.stride);
            return TRUE;
        }
        return FALSE;
    }

    platform::BitmapView to;
    if (!platform::selectedBitmap(destination, to) || to.bytesPerPixel != from.bytesPerPixel)
        return FALSE;
    // Clip to the destination.
    if (x < 0) { sourceX -= x; width += x; x = 0; }
    if (y < 0) { sourceY -= y; height += y; y = 0; }
    width = std::min(width, to.width - x);
    height = std::min(height, to.height - y);
    if (width <= 0 || height <= 0) return TRUE;
    size_t rowBytes = static_cast<size_t>(width) * from.bytesPerPixel;
    for (int row = 0; row < height; ++row) {
        std::memmove(rowAt(to, y + row) + static_cast<size_t>(x) * to.bytesPerPixel,
                     rowAt(from, sourceY + row) + static_cast<size_t>(sourceX) * from.bytesPerPixel,
                     rowBytes);
    }
    return TRUE;
}

#endif  // _WIN32
