// The count-in's clicks.
#include "rhythm/click_sound.h"

#include <algorithm>
#include <cmath>
#include <numbers>

std::vector<float> makeClick(int32_t rate, bool accent, int64_t maxFrames) {
    // A woodblock-like pitch that stays below half the lowest rate the renderer takes.
    const double frequency = accent ? 2000.0 : 1500.0;
    const double level = accent ? 0.5 : 0.35;
    const double decaySeconds = 0.005;
    const int64_t frames = std::clamp<int64_t>(std::llround(0.025 * rate), 1, std::max<int64_t>(maxFrames, 1));
    std::vector<float> click(static_cast<std::size_t>(frames) * 2);
    for (int64_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        // A cosine starts at its peak, so the click's first frame is its onset.
        const double value = level * std::exp(-t / decaySeconds) * std::cos(2 * std::numbers::pi * frequency * t);
        click[2 * i] = click[2 * i + 1] = static_cast<float>(value);
    }
    return click;
}
