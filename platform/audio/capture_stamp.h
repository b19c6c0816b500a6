// capture_stamp.h - the time a device input gives each chunk of frames it captures.
//
// Promises: stamp takes the time the device's latest report gives the chunk's first frame (the
// moment it reached the input, on the play clock) and returns the time to write it with: the
// time the chunks before it lead to, moved towards the report as a running average over about
// a second of frames (a twentieth of a second while the first half second settles), so that
// the scatter of reports (a sound server's timing, which moves by a few milliseconds from one
// report to the next; a thread woken late) averages out, while a device clock that runs a
// little fast or slow against the play clock is followed. A report more than 10 ms off is
// taken as it is (a device that skipped or was held up); the ring marks such a jump as a gap.
//
// Threads: the input's thread only. Ownership: plain value type.
#pragma once

#include <algorithm>
#include <cstddef>

namespace audio {

class CaptureStamp {
public:
    explicit CaptureStamp(int rate) : rate_(rate) {}

    double stamp(double reported, std::size_t frames) {
        constexpr double kSettleSeconds = 0.5;
        constexpr double kSettlingAverageSeconds = 0.05;
        constexpr double kAverageSeconds = 1.0;
        constexpr double kJumpSeconds = 0.010;
        const double seconds = static_cast<double>(frames) / rate_;
        const double error = reported - next_;
        double time = reported;
        if (started_ && error < kJumpSeconds && error > -kJumpSeconds) {
            const double span = settled_ < kSettleSeconds ? kSettlingAverageSeconds : kAverageSeconds;
            time = next_ + std::min(1.0, seconds / span) * error;
            settled_ += seconds;
        } else {
            settled_ = 0;
        }
        started_ = true;
        next_ = time + seconds;
        return time;
    }
    // The next report starts afresh (frames were lost, or the device opened again).
    void restart() { started_ = false; }

private:
    int rate_;
    bool started_ = false;
    double next_ = 0;     // the time the chunks stamped lead to
    double settled_ = 0;  // seconds of frames stamped since the last fresh start
};

}  // namespace audio
