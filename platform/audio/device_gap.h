// device_gap.h - what a device output does while its device (or sound server) is away: the
// mix goes on, on the steady clock, into nothing, and the device is tried again with a
// back-off. Also the counters that tell the program how the device has fared.
//
// Promises: renderDue renders, into a buffer of its own, every block due since begin, each
// stamped with its due time, as the silent output does: requests made meanwhile start and end
// on their frames, voices ring out in time, and nothing piles up to sound in a burst when a
// device is back. A thread that falls more than half a second behind skips ahead (the frame
// clock takes the jump as a restart). Tries are due 150 ms after the loss, then after a
// back-off that doubles up to one second: a returning device is heard within about a second,
// and an absent one costs a few attempts a second at most.
//
// Threads: DeviceGap on the output's own thread only (the one thread that renders), after
// construction on the main thread, which allocates its buffer. DeviceHealth is written by the
// output's thread and read from any thread.
// Ownership: DeviceGap owns its buffer; it does not own the render target.
#pragma once

#include <atomic>
#include <vector>

#include "output.h"

namespace audio {

class DeviceGap {
public:
    DeviceGap(RenderTarget target, int rate, int blockFrames);

    // The device went away at now (steady seconds): blocks are due from now on.
    void begin(double now);
    // Renders every block due by now; returns the steady time the next one is due.
    double renderDue(double now);
    // The time (steady seconds) the next try at the device is due, and the back-off after one
    // that failed at now.
    double nextTry() const { return nextTry_; }
    void tried(double now);
    // Seconds since the device went away.
    double awayFor(double now) const { return now - lostAt_; }

private:
    RenderTarget target_;
    double blockSeconds_;
    int blockFrames_;
    std::vector<float> block_;
    double lostAt_ = 0;
    double firstDue_ = 0;
    long long rendered_ = 0;  // blocks rendered since firstDue_
    double backOff_ = 0;
    double nextTry_ = 0;
};

// How a device output's device has fared since it opened.
class DeviceHealth {
public:
    void lost() {
        playing_.store(false, std::memory_order_relaxed);
        losses_.fetch_add(1, std::memory_order_relaxed);
    }
    void restored(bool fallback = false) {
        if (fallback) fallback_.store(true, std::memory_order_relaxed);
        recoveries_.fetch_add(1, std::memory_order_relaxed);
        playing_.store(true, std::memory_order_release);
    }
    DeviceStatus status() const {
        DeviceStatus s;
        s.playing = playing_.load(std::memory_order_acquire);
        s.losses = losses_.load(std::memory_order_relaxed);
        s.recoveries = recoveries_.load(std::memory_order_relaxed);
        s.fallback = fallback_.load(std::memory_order_relaxed);
        return s;
    }

private:
    std::atomic<bool> playing_{true};
    std::atomic<unsigned> losses_{0};
    std::atomic<unsigned> recoveries_{0};
    std::atomic<bool> fallback_{false};
};

}  // namespace audio
