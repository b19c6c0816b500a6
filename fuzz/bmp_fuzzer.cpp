// Fuzz target: any bytes as a BMP file for the image loader. A loaded image must hold every
// pixel its size promises, so the whole image is copied once.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/scratch_file.h"
#include "gfx/surface.h"
#include "platform/headless/headless.h"

// Surfaces are DIB sections of the headless backend.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    headless::reset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The loader takes a path, so the bytes go through a file just as a real image does.
    const std::string path = fuzz_support::writeScratchFile("bmp", ".bmp", data, size);
    if (path.empty()) return 0;
    Surface image;
    const bool loaded = image.loadBitmap(path.c_str());
    std::remove(path.c_str());
    if (!loaded) return 0;
    if (image.width <= 0 || image.height <= 0 || !image.pixels) __builtin_trap();

    Surface copy;
    if (!copy.create(image.width, image.height, image.bytesPerPixel)) return 0;
    SpriteRect whole{0, 0, image.width, image.height};
    copy.copyFrom(image, 0, 0, whole);
    return 0;
}
