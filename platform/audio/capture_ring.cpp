#include "capture_ring.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace audio {

namespace {
constexpr double kJumpSeconds = 0.001;  // a time that strays further is a gap

std::size_t roundUpToPowerOfTwo(std::size_t n) {
    std::size_t size = 1;
    while (size < n) size <<= 1;
    return size;
}
}  // namespace

CaptureRing::CaptureRing(int rate, std::size_t capacityFrames)
    : rate_(rate),
      mask_(roundUpToPowerOfTwo(std::max<std::size_t>(capacityFrames, 2)) - 1),
      samples_(new float[mask_ + 1]()) {}

void CaptureRing::write(const float* mono, std::size_t frames, double time) {
    if (frames == 0) return;
    const std::uint64_t start = written_.load(std::memory_order_relaxed);
    const std::size_t room = capacity() - static_cast<std::size_t>(start - read_.load(std::memory_order_acquire));
    if (room == 0) {
        lost_ = true;
        return;
    }
    const double stray = std::abs(time - nextTime_);
    if (!started_ || lost_ || stray > 0.5 / rate_) {
        const bool gap = started_ && (lost_ || stray > kJumpSeconds);
        if (!anchors_.push(Anchor{start, time, gap})) {
            lost_ = true;
            return;
        }
        started_ = true;
        lost_ = false;
    } else {
        time = nextTime_;  // the anchor before leads here: no drift to mark
    }
    const std::size_t kept = std::min(frames, room);
    const std::size_t at = static_cast<std::size_t>(start) & mask_;
    const std::size_t first = std::min(kept, capacity() - at);
    std::memcpy(&samples_[at], mono, first * sizeof(float));
    std::memcpy(&samples_[0], mono + first, (kept - first) * sizeof(float));
    written_.store(start + kept, std::memory_order_release);
    nextTime_ = time + static_cast<double>(kept) / rate_;
    if (kept < frames) lost_ = true;
}

std::size_t CaptureRing::read(float* out, std::size_t maxFrames, double* firstFrameTime, bool* gap) {
    if (gap) *gap = false;
    const std::uint64_t end = written_.load(std::memory_order_acquire);
    const std::uint64_t start = read_.load(std::memory_order_relaxed);
    // An anchor is pushed before its frames are published: one at end has no frames yet.
    Anchor next;
    const bool reading = out && maxFrames > 0;
    while (reading && anchors_.peek(&next) && next.frame <= start && next.frame < end) {
        anchors_.pop(&next);
        current_ = next;
        if (next.gap && gap) *gap = true;
    }
    std::uint64_t stop = end;
    if (anchors_.peek(&next) && next.frame < stop) stop = next.frame;
    const std::size_t frames = reading ? static_cast<std::size_t>(std::min<std::uint64_t>(stop - start, maxFrames)) : 0;
    if (firstFrameTime) *firstFrameTime = current_.time + static_cast<double>(start - current_.frame) / rate_;
    if (frames == 0) return 0;
    const std::size_t at = static_cast<std::size_t>(start) & mask_;
    const std::size_t first = std::min(frames, capacity() - at);
    std::memcpy(out, &samples_[at], first * sizeof(float));
    std::memcpy(out + first, &samples_[0], (frames - first) * sizeof(float));
    read_.store(start + frames, std::memory_order_release);
    return frames;
}

}  // namespace audio
