// Surface: DIB sections and the BMP loader.
#include "gfx/surface.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Sizes beyond any screen or sprite sheet: a header asking for more is corrupt.
constexpr int32_t maxBitmapSide = 8192;

uint32_t readU32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}
uint16_t readU16(const uint8_t* bytes) { return uint16_t(bytes[0] | bytes[1] << 8); }

}  // namespace

Surface::~Surface() {
    if (previousBitmap) {
        SelectObject(memoryDc, previousBitmap);
        DeleteDC(memoryDc);
    }
    if (dibSection) DeleteObject(dibSection);
}

void Surface::reset() {
    if (!previousBitmap) return;
    if (!SelectObject(memoryDc, previousBitmap)) return;
    if (!DeleteObject(dibSection)) return;
    if (!DeleteDC(memoryDc)) return;
    width = height = bytesPerPixel = stride = 0;
    memoryDc = nullptr;
    pixels = nullptr;
    dibSection = nullptr;
    previousBitmap = nullptr;
}

bool Surface::create(int32_t newWidth, int32_t newHeight, int32_t newBytesPerPixel) {
    reset();
    width = newWidth;
    height = newHeight;
    bytesPerPixel = newBytesPerPixel;
    stride = static_cast<int32_t>((int64_t(width) * bytesPerPixel + 3) & ~int64_t(3));
    if (bytesPerPixel != 3 && bytesPerPixel != 4) return false;

    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = 40;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(8 * bytesPerPixel);
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height);

    // A negative height would make a top-down section, which the copy does not expect.
    if (width <= 0 || height <= 0) return false;
    memoryDc = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    dibSection = CreateDIBSection(memoryDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dibSection) {
        DeleteDC(memoryDc);
        memoryDc = nullptr;
        return false;
    }
    pixels = static_cast<uint8_t*>(bits);
    previousBitmap = SelectObject(memoryDc, dibSection);
    return previousBitmap != nullptr;
}

void Surface::fill(uint8_t blue, uint8_t green, uint8_t red) {
    if (!pixels || height <= 0) return;
    uint8_t* row0 = pixels;
    for (int32_t x = 0; x < width; ++x) {
        uint8_t* pixel = row0 + x * bytesPerPixel;
        pixel[0] = blue;
        pixel[1] = green;
        pixel[2] = red;
    }
    for (int32_t row = 1; row < height; ++row)
        std::memcpy(pixels + static_cast<intptr_t>(row) * stride, row0, static_cast<size_t>(stride));
}

bool Surface::loadBitmap(const char* path) {
    if (!path) return false;
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    uint8_t header[54];
    bool ok = std::fread(header, 1, sizeof header, file) == sizeof header &&
              header[0] == 0x42 && header[1] == 0x4D;
    if (!ok) {
        std::fclose(file);
        return false;
    }
    uint32_t pixelOffset = readU32(header + 10);
    int32_t fileWidth = static_cast<int32_t>(readU32(header + 14 + 4));
    int32_t fileHeight = static_cast<int32_t>(readU32(header + 14 + 8));
    uint16_t bitCount = readU16(header + 14 + 14);

    // Reject what no sound image has: non-positive or absurd sizes (which could also ask
    // for an enormous allocation) and a pixel offset beyond the end of the file.
    std::fseek(file, 0, SEEK_END);
    long fileSize = std::ftell(file);
    if (fileWidth <= 0 || fileHeight <= 0 || fileWidth > maxBitmapSide ||
        fileHeight > maxBitmapSide || fileSize < 0 || pixelOffset > static_cast<uint64_t>(fileSize) ||
        !create(fileWidth, fileHeight, bitCount / 8)) {
        std::fclose(file);
        return false;
    }
    std::fseek(file, static_cast<long>(pixelOffset), SEEK_SET);
    for (int32_t row = 0; row < height; ++row) {
        // A short file leaves the rows it does not hold black.
        if (std::fread(pixels + static_cast<intptr_t>(row) * stride, 1, static_cast<size_t>(stride),
                       file) != static_cast<size_t>(stride))
            break;
    }
    std::fclose(file);
    return true;
}

namespace {

int32_t clampTo32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

void Surface::copyFrom(const Surface& source, int32_t x, int32_t y, SpriteRect& rect) {
    // Pixels of another depth would be misread: such a copy is refused.
    if (bytesPerPixel != source.bytesPerPixel) return;
    const int32_t destWidth = width;
    const int32_t destHeight = height;
    if (x >= destWidth || y >= destHeight) return;
    // Sizes in 64 bits: a rectangle may span more than a 32-bit difference.
    const int64_t rows = int64_t(rect.bottom) - rect.top;
    if (y + rows <= 0) return;
    const int64_t columns = int64_t(rect.right) - rect.left;
    if (x + columns <= 0) return;
    if (x + columns > destWidth) rect.right = clampTo32(int64_t(rect.left) + (destWidth - x));
    if (y + rows > destHeight) rect.bottom = clampTo32(int64_t(rect.top) + (destHeight - y));
    if (x < 0) {
        rect.left = clampTo32(int64_t(rect.left) - x);
        x = 0;
    }
    if (y < 0) {
        rect.top = clampTo32(int64_t(rect.top) - y);
        y = 0;
    }
    // The rectangle is clipped to the source too, so nothing outside its pixels is read.
    if (rect.left < 0) {
        const int64_t shifted = int64_t(x) - rect.left;
        if (shifted >= destWidth) return;
        x = static_cast<int32_t>(shifted);
        rect.left = 0;
    }
    if (rect.top < 0) {
        const int64_t shifted = int64_t(y) - rect.top;
        if (shifted >= destHeight) return;
        y = static_cast<int32_t>(shifted);
        rect.top = 0;
    }
    if (rect.right > source.width) rect.right = source.width;
    if (rect.bottom > source.height) rect.bottom = source.height;
    if (!pixels || !source.pixels || rect.right <= rect.left || rect.bottom <= rect.top) return;
    const size_t rowBytes = static_cast<size_t>(rect.right - rect.left) * bytesPerPixel;
    const uint8_t* from = source.rowShown(rect.top) + static_cast<intptr_t>(rect.left) * bytesPerPixel;
    uint8_t* to = rowShown(y) + static_cast<intptr_t>(x) * bytesPerPixel;
    for (int32_t k = rect.top; k < rect.bottom; ++k) {
        std::memcpy(to, from, rowBytes);
        from -= source.stride;
        to -= stride;
    }
}
