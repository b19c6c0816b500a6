// frame_cost: what one frame of the tutor's drawing costs against the bytes it moves.
//
// A frame here is what the main loop does every 1/45 s: clear the back buffer, copy the
// 600 x 480 background, a dozen sprites (metronome, title, notation, knobs, label, digits,
// glyphs) and present the back buffer into the (headless) window. The bound is a memset of
// the back buffer plus memcpy of the same bytes the frame copies, timed in the same run.
// Prints per-frame medians and `RESULT frame_us=... bound_us=... ratio=...`.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/app_window.h"
#include "app/module_resources_table.h"
#include "app/resource_ids.h"
#include "gfx/surface.h"
#include "platform/headless/headless.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Sprite {
    Surface* image;
    int x, y;
};

double medianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void paint(Surface& surface, uint8_t seed) {
    for (int32_t i = 0; i < surface.stride * surface.height; ++i)
        surface.pixels[i] = static_cast<uint8_t>(seed + i * 7);
}

}  // namespace

int main(int argc, char** argv) {
    int frames = argc > 1 ? std::atoi(argv[1]) : 3000;
    platform::setModuleResources(&tabladexResources());
    WindowDesc description;
    description.title = "frame cost";
    description.style = WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU;
    description.width = 600;
    description.height = 480;
    description.menuId = IDR_MAINMENU;
    if (!appWindow.create(GetModuleHandleA(nullptr), description)) return 1;
    Surface& back = *appWindow.backBuffer;

    Surface background, metronome, title, notation, knob, label, digits, glyphs;
    background.create(600, 480, 4);
    metronome.create(150, 150, 4);
    title.create(330, 30, 4);
    notation.create(560, 40, 4);
    knob.create(30, 10, 4);
    label.create(170, 16, 4);
    digits.create(150, 15, 4);
    glyphs.create(180, 40, 4);
    for (Surface* s : {&background, &metronome, &title, &notation, &knob, &label, &digits, &glyphs})
        paint(*s, static_cast<uint8_t>(s->width));

    const Sprite sprites[] = {
        {&metronome, 225, 80}, {&title, 7, 39},  {&notation, 10, 290}, {&glyphs, 10, 290},
        {&knob, 439, 168},     {&knob, 528, 97}, {&label, 73, 232},    {&digits, 250, 235},
        {&digits, 265, 235},   {&digits, 280, 235}, {&glyphs, 30, 310}, {&title, 7, 80},
    };
    // Bytes the frame copies: the visible background rows, the sprites, the presented frame.
    size_t copied = size_t(600) * 467 * 4 + size_t(600) * (480 - headless::menuBarHeight) * 4;
    for (const Sprite& s : sprites) copied += size_t(s.image->width) * s.image->height * 4;
    const size_t cleared = size_t(back.stride) * back.height;
    std::vector<uint8_t> from(copied), to(copied);
    std::memset(from.data(), 0x5a, copied);

    std::vector<double> frameTimes, boundTimes;
    frameTimes.reserve(frames);
    boundTimes.reserve(frames);
    std::vector<uint8_t> clearTarget(cleared);
    for (int i = 0; i < frames; ++i) {
        auto start = Clock::now();
        appWindow.clearBackBuffer();
        SpriteRect whole{0, 0, background.width, background.height};
        back.copyFrom(background, 0, 13, whole);
        for (const Sprite& s : sprites) {
            SpriteRect rect{0, 0, s.image->width, s.image->height};
            back.copyFrom(*s.image, s.x, s.y, rect);
        }
        appWindow.present();
        auto middle = Clock::now();
        std::memset(clearTarget.data(), i & 0xff, cleared);
        std::memcpy(to.data(), from.data(), copied);
        auto end = Clock::now();
        frameTimes.push_back(std::chrono::duration<double, std::micro>(middle - start).count());
        boundTimes.push_back(std::chrono::duration<double, std::micro>(end - middle).count());
    }
    // Keep the bound's work observable.
    volatile uint8_t sink = to[copied / 2] ^ clearTarget[cleared / 3];
    (void)sink;

    double frameUs = medianOf(frameTimes);
    double boundUs = medianOf(boundTimes);
    std::printf("frames: %d, bytes cleared per frame: %zu, bytes copied per frame: %zu\n", frames,
                cleared, copied);
    std::printf("presented frames: %d\n", headless::presentedFrameCount());
    std::printf("median frame: %.1f us, median memset+memcpy bound: %.1f us\n", frameUs, boundUs);
    std::printf("RESULT frame_us=%.1f bound_us=%.1f ratio=%.2f\n", frameUs, boundUs,
                frameUs / boundUs);
    return 0;
}
