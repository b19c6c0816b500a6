// frame_clock.h - maps clock time to output frames for an output that renders blocks on
// its own thread.
//
// Promises: a delay-locked loop filters the times at which blocks are rendered, so the
// mapping follows the output's real rate and phase while callback jitter is smoothed
// away. frameAt(t) is the (fractional) frame that is rendered at time t. The loop starts
// with a wide bandwidth to lock quickly and narrows as it settles. Errors beyond a driver's
// jitter are kept out of the loop, so the burst of requests that follows a stall leaves the
// map where it was, while such an error that lasts (a dropout, a device that skipped ahead)
// moves it at once. A jump far beyond any stall (a paused or restarted device) resets it, and
// so does an output that opens a new device (restart).
//
// Threads: the audio thread only (update and frameAt run inside the mixer's render).
// Ownership: plain value type.
#pragma once

#include <cstdint>

namespace audio {

class FrameClock {
public:
    explicit FrameClock(int sampleRate = 48000);

    // Called at the start of every block: now is the clock time, blockStart the first
    // frame of the block about to be rendered.
    void update(double now, std::int64_t blockStart);
    // A new device from the next update on: the map starts again from that block, at the
    // nominal rate and the wide bandwidth, as at the first block.
    void restart();
    bool started() const { return started_; }
    double frameAt(double t) const;
    // Current estimate of the output's rate in frames per second of the clock.
    double framesPerSecond() const { return 1.0 / period_; }

private:
    double nominalPeriod_;
    double period_;          // estimated seconds per frame
    double blockTime_ = 0;   // filtered time of the block starting at blockFrame_
    std::int64_t blockFrame_ = 0;
    std::int64_t lockedFrames_ = 0;  // frames rendered since the last reset
    bool started_ = false;
    // An error beyond the jitter limit, while it lasts: since when, which way, and the
    // earliest request's error.
    bool shifting_ = false;
    bool shiftLate_ = false;
    double shiftSince_ = 0;
    double shiftError_ = 0;
};

}  // namespace audio
