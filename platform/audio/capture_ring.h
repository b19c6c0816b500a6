// capture_ring.h - captured mono frames on their way from the input's thread to the reader,
// each with the time at which it reached the input.
//
// Promises: frames come out in the order they went in, with the time they were written with
// (a frame's time is the time of the write it came in, plus its place in that write over the
// rate). Neither side blocks, allocates or locks. A write that finds the ring full keeps what
// fits and drops the rest; the next frames kept come out after a gap. The times are kept as
// anchors (a frame index and its time), one at the first write and one wherever a write's time
// strays from where the frames before it lead by more than half a frame: a device's clock that
// drifts from the play clock costs an anchor now and then; one that strays by more than a
// millisecond (a jump, frames lost) is a gap. A read stops short of the next anchor, so out[0]
// always carries its own anchor's time.
//
// Threads: write and lose from one producer thread at a time (the input's thread, or the main
// thread between two inputs; a hand-over needs a happens-before edge, such as joining the old
// thread and starting the new one); read from one consumer thread at a time.
// Ownership: the ring owns its storage, allocated by the constructor (main thread).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "spsc_queue.h"

namespace audio {

class CaptureRing {
public:
    // Room for at least capacityFrames frames (rounded up to a power of two). Throws
    // std::bad_alloc when the storage cannot be had.
    CaptureRing(int rate, std::size_t capacityFrames);

    int rate() const { return rate_; }
    std::size_t capacity() const { return mask_ + 1; }

    // Producer: frames of mono float whose first reached the input at time.
    void write(const float* mono, std::size_t frames, double time);
    // Producer: frames were lost (a hole in the device's stream, a new device): the next
    // frames written come out after a gap.
    void lose() { lost_ = true; }

    // Consumer: moves up to maxFrames frames into out; see readCapture in audio.h.
    std::size_t read(float* out, std::size_t maxFrames, double* firstFrameTime, bool* gap);

private:
    struct Anchor {
        std::uint64_t frame = 0;  // the frame's index since the ring was made
        double time = 0;
        bool gap = false;  // frames before it were lost
    };

    int rate_;
    std::size_t mask_;
    std::unique_ptr<float[]> samples_;
    // An anchor for every 5 ms of a full ring: only a device whose time jumps about all the
    // time fills it, and then its frames are dropped as a full ring's are.
    SpscQueue<Anchor, 1024> anchors_;
    alignas(64) std::atomic<std::uint64_t> written_{0};  // frames written; the producer's
    alignas(64) std::atomic<std::uint64_t> read_{0};     // frames read; the consumer's
    // Producer only.
    bool started_ = false;
    bool lost_ = false;
    double nextTime_ = 0;  // where the frames written lead: the time of the next frame
    // Consumer only: the anchor of the next frame to read.
    Anchor current_{};
};

}  // namespace audio
