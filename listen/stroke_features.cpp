#include "listen/stroke_features.h"

#include <algorithm>
#include <cmath>

#include "listen/fft.h"

namespace {

constexpr float bandEdges[] = {200.f, 600.f, 1500.f, 4000.f};  // hertz; five bands
constexpr float lowestBels = -6.f;

std::size_t fftSizeFor(std::size_t window) {
    std::size_t size = 64;
    while (size < window) size *= 2;
    return size;
}

float bels(double ratio) {
    return ratio > 0 ? std::max(lowestBels, float(std::log10(ratio))) : lowestBels;
}

}  // namespace

StrokeFeatureMeter::StrokeFeatureMeter(int rate)
    : rate_(rate),
      window_(std::size_t(std::lround(strokeWindowSeconds * rate))),
      fft_(std::make_unique<RealFft>(std::min<std::size_t>(fftSizeFor(window_), 4096))) {
    window_ = std::min(window_, fft_->size());
}

StrokeFeatureMeter::~StrokeFeatureMeter() = default;
StrokeFeatureMeter::StrokeFeatureMeter(StrokeFeatureMeter&&) noexcept = default;
StrokeFeatureMeter& StrokeFeatureMeter::operator=(StrokeFeatureMeter&&) noexcept = default;

void StrokeFeatureMeter::spectrum(const float* samples, std::size_t count, float* power,
                                  double& firstHalf, double& secondHalf) {
    const std::size_t n = window_;
    count = std::min(count, n);
    // The attack is at the start and must keep its weight, so only the window's last quarter
    // fades out (to keep the cut at its end from spreading over the spectrum).
    const std::size_t fadeFrom = n - n / 4;
    const double pi = std::acos(-1.0);
    firstHalf = secondHalf = 0;
    std::fill(frame_.begin(), frame_.begin() + fft_->size(), 0.f);
    for (std::size_t i = 0; i < count; ++i) {
        const float x = samples[i];
        (i < n / 2 ? firstHalf : secondHalf) += double(x) * x;
        float gain = 1.f;
        if (i >= fadeFrom) gain = float(0.5 + 0.5 * std::cos(pi * double(i - fadeFrom) / double(n - fadeFrom)));
        frame_[i] = x * gain;
    }
    fft_->power(frame_.data(), power);
}

StrokeFeatures StrokeFeatureMeter::measure(const float* window, std::size_t count,
                                           const float* before, std::size_t beforeCount) {
    double firstHalf = 0, secondHalf = 0, beforeFirst = 0, beforeSecond = 0;
    spectrum(window, count, power_.data(), firstHalf, secondHalf);
    const std::size_t bins = fft_->size() / 2 + 1;
    // What sounded before the onset is taken off; a little of each bin is always kept, as
    // the sound before was only an estimate of what goes on under the stroke.
    constexpr float kept = 0.03f;
    if (before && beforeCount > 0) {
        const std::size_t used = std::min(beforeCount, window_);
        spectrum(before + (beforeCount - used), used, powerBefore_.data(), beforeFirst, beforeSecond);
        const float scale = float(window_) / float(used);
        for (std::size_t b = 0; b < bins; ++b)
            power_[b] = std::max(power_[b] - scale * powerBefore_[b], kept * power_[b]);
        const double perHalf = (beforeFirst + beforeSecond) * scale / 2;
        firstHalf = std::max(firstHalf - perHalf, double(kept) * firstHalf);
        secondHalf = std::max(secondHalf - perHalf, double(kept) * secondHalf);
    }

    const double binHz = double(rate_) / double(fft_->size());
    double band[5] = {0, 0, 0, 0, 0};
    double total = 0, weighted = 0;
    for (std::size_t b = 1; b < bins; ++b) {
        const double hz = double(b) * binHz;
        const double p = power_[b];
        int which = 0;
        while (which < 4 && hz >= bandEdges[which]) ++which;
        band[which] += p;
        total += p;
        weighted += p * hz;
    }

    StrokeFeatures features{};
    for (int i = 0; i < 5; ++i) features[i] = total > 0 ? bels(band[i] / total) : lowestBels;
    features[5] = float(std::log2(std::max(20.0, total > 0 ? weighted / total : 20.0)));
    features[6] = firstHalf > 0 ? bels(secondHalf / firstHalf) : lowestBels;
    return features;
}
