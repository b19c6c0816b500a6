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

StrokeFeatures StrokeFeatureMeter::measure(const float* window, std::size_t count) {
    const std::size_t n = window_;
    count = std::min(count, n);
    // The attack is at the start and must keep its weight, so only the window's last quarter
    // fades out (to keep the cut at its end from spreading over the spectrum).
    const std::size_t fadeFrom = n - n / 4;
    const double pi = std::acos(-1.0);
    double firstHalf = 0, secondHalf = 0;
    std::fill(frame_.begin(), frame_.begin() + fft_->size(), 0.f);
    for (std::size_t i = 0; i < count; ++i) {
        const float x = window[i];
        (i < n / 2 ? firstHalf : secondHalf) += double(x) * x;
        float gain = 1.f;
        if (i >= fadeFrom) gain = float(0.5 + 0.5 * std::cos(pi * double(i - fadeFrom) / double(n - fadeFrom)));
        frame_[i] = x * gain;
    }
    fft_->power(frame_.data(), power_.data());

    const std::size_t bins = fft_->size() / 2 + 1;
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
