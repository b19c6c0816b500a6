#include "frame_clock.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace audio {

namespace {

// Bandwidth of the loop in Hz: wide for the first half second to pull in the output's
// real rate, then narrow so jitter of single callbacks barely moves the mapping.
double bandwidthFor(double lockedSeconds) {
    if (lockedSeconds < 0.5) return 2.0;
    if (lockedSeconds < 2.0) return 0.5;
    return 0.15;
}

constexpr double kResetSeconds = 0.1;    // a phase error this large is a stall, not jitter
constexpr double kMaxRateDeviation = 0.2;  // the estimated rate stays within 20 % of nominal

}  // namespace

FrameClock::FrameClock(int sampleRate)
    : nominalPeriod_(1.0 / sampleRate), period_(1.0 / sampleRate) {}

void FrameClock::update(double now, std::int64_t blockStart) {
    if (!started_ || blockStart <= blockFrame_) {
        started_ = true;
        blockTime_ = now;
        blockFrame_ = blockStart;
        lockedFrames_ = 0;
        return;
    }
    const double frames = static_cast<double>(blockStart - blockFrame_);
    const double predicted = blockTime_ + frames * period_;
    const double error = now - predicted;  // callback jitter plus drift
    blockFrame_ = blockStart;
    if (std::fabs(error) > kResetSeconds) {
        blockTime_ = now;
        lockedFrames_ = 0;
        return;
    }
    lockedFrames_ += static_cast<std::int64_t>(frames);
    const double lockedSeconds = lockedFrames_ * nominalPeriod_;
    const double omega = 2.0 * std::numbers::pi * bandwidthFor(lockedSeconds) * frames * period_;
    const double b = std::sqrt(2.0) * omega;
    const double c = omega * omega;
    blockTime_ = predicted + b * error;
    period_ += c * error / frames;
    period_ = std::clamp(period_, nominalPeriod_ * (1.0 - kMaxRateDeviation),
                         nominalPeriod_ * (1.0 + kMaxRateDeviation));
}

double FrameClock::frameAt(double t) const {
    return static_cast<double>(blockFrame_) + (t - blockTime_) / period_;
}

}  // namespace audio
