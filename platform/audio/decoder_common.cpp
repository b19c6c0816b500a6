#include "decoder.h"

#include <cmath>

namespace audio {

namespace {

// A float file may hold values that are no sound at all (NaN, infinities); they would spread
// through every mix they take part in, so they become silence. Large finite values are
// left to the mixer's limiter.
float audible(float sample) { return std::isfinite(sample) ? sample : 0.0f; }

}  // namespace

void toStereo(const float* in, std::size_t frames, int channels, float* out) {
    for (std::size_t i = 0; i < frames; ++i) {
        const float left = audible(in[i * channels]);
        const float right = channels > 1 ? audible(in[i * channels + 1]) : left;
        out[2 * i] = left;
        out[2 * i + 1] = right;
    }
}

std::vector<float> resampleLinear(const std::vector<float>& stereo, std::size_t frames,
                                  int inRate, int outRate, std::size_t* outFrames) {
    const double step = static_cast<double>(inRate) / outRate;
    const auto count = static_cast<std::size_t>(std::llround(frames / step));
    std::vector<float> out(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        const double position = i * step;
        const auto index = static_cast<std::size_t>(position);
        const float frac = static_cast<float>(position - index);
        for (int side = 0; side < 2; ++side) {
            const float a = index < frames ? stereo[2 * index + side] : 0.0f;
            const float b = index + 1 < frames ? stereo[2 * (index + 1) + side] : 0.0f;
            out[2 * i + side] = a + (b - a) * frac;
        }
    }
    *outFrames = count;
    return out;
}

}  // namespace audio
