#include "device_gap.h"

#include <algorithm>

#include "clock.h"

namespace audio {

namespace {

constexpr double kFirstTrySeconds = 0.15;
constexpr double kMaxBackOffSeconds = 1.0;
constexpr double kMaxBehindSeconds = 0.5;

}  // namespace

DeviceGap::DeviceGap(RenderTarget target, int rate, int blockFrames)
    : target_(target),
      blockSeconds_(static_cast<double>(blockFrames) / rate),
      blockFrames_(blockFrames),
      block_(static_cast<std::size_t>(blockFrames) * 2, 0.0f) {}

void DeviceGap::begin(double now) {
    lostAt_ = now;
    firstDue_ = now;
    rendered_ = 0;
    backOff_ = kFirstTrySeconds;
    nextTry_ = now + backOff_;
}

double DeviceGap::renderDue(double now) {
    if (now - (firstDue_ + rendered_ * blockSeconds_) > kMaxBehindSeconds) {
        firstDue_ = now;
        rendered_ = 0;
    }
    for (double due; (due = firstDue_ + rendered_ * blockSeconds_) <= now; ++rendered_) {
        // As on the silent output: the block belongs to its due time; a replacement clock has
        // no known relation to the schedule, so it is read as it is.
        target_.render(target_.user, block_.data(), blockFrames_, clockIsSteady() ? due : clockNow());
    }
    return firstDue_ + rendered_ * blockSeconds_;
}

void DeviceGap::tried(double now) {
    nextTry_ = now + backOff_;
    backOff_ = std::min(2 * backOff_, kMaxBackOffSeconds);
}

}  // namespace audio
