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

// An output asks for a block late (its thread was scheduled late; a driver hands buffers
// back on ticks of its own), and one that stalled asks for every block it missed at once:
// requests from far too late down to on time, all at one moment. An error beyond this
// limit is therefore kept out of the loop, so a burst after a stall leaves the map where it
// was. Only if such an error lasts (the device lost sound in a dropout, or skipped ahead)
// does the map move, at once, to the earliest request seen while it lasted (requests come
// late, not early).
constexpr double kJitterLimit = 0.012;
constexpr double kShiftSeconds = 0.06;  // an error beyond the limit this long is a shift
constexpr double kResetSeconds = 0.5;   // an error this large is a pause or a restart
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
        shifting_ = false;
        return;
    }
    const double frames = static_cast<double>(blockStart - blockFrame_);
    const double predicted = blockTime_ + frames * period_;
    const double measured = now - predicted;  // lateness of this request, plus drift
    blockFrame_ = blockStart;
    if (std::fabs(measured) > kResetSeconds) {
        blockTime_ = now;
        lockedFrames_ = 0;
        shifting_ = false;
        return;
    }
    if (std::fabs(measured) > kJitterLimit) {
        const bool late = measured > 0;
        if (!shifting_ || shiftLate_ != late) {
            shifting_ = true;
            shiftLate_ = late;
            shiftSince_ = now;
            shiftError_ = measured;
        }
        shiftError_ = std::min(shiftError_, measured);  // the earliest request is the surest
        if (now - shiftSince_ >= kShiftSeconds) {
            blockTime_ = predicted + shiftError_;
            shifting_ = false;
        } else {
            blockTime_ = predicted;
        }
        return;
    }
    shifting_ = false;
    const double error = measured;
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

void FrameClock::restart() {
    started_ = false;
    period_ = nominalPeriod_;
}

double FrameClock::frameAt(double t) const {
    return static_cast<double>(blockFrame_) + (t - blockTime_) / period_;
}

}  // namespace audio
