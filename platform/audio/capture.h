// capture.h - where captured frames come from: the platform's default input, writing into a
// capture ring (capture_ring.h) on a thread of its own.
//
// Promises: from start() until stop() returns, the input writes what its device captures into
// the ring, mono float at the rate it was opened with, each write stamped with the time (on
// the play clock, clockNow) at which its first frame reached the input; it never waits for the
// reader, and keeps its CaptureStatus: a device that goes away stops the writes and turns
// capturing false (nothing blocks, nothing is reopened), as stop() does. stop() is idempotent
// and the destructor stops.
//
// Threads: open, start, stop and the destructor on the main thread; the status may be read
// from any thread. The input is the ring's producer from open until stop() returns.
// Ownership: the caller owns the Input, the ring and the status, which outlive it.
#pragma once

#include <atomic>
#include <memory>

#include "audio.h"
#include "capture_ring.h"

namespace audio {

struct CaptureStatus {
    std::atomic<bool> capturing{false};  // a device captures now
    // Seconds from a sound reaching the input to its frames being written, as the device last
    // reported it (negative for a monitor whose frames are taken before they are heard).
    std::atomic<double> latency{0.0};
};

// Where an input writes: its ring, its status and the rate of both.
struct CaptureTarget {
    CaptureRing* ring = nullptr;
    CaptureStatus* status = nullptr;
    int rate = 0;
};

class Input {
public:
    virtual ~Input() = default;
    virtual Result start() = 0;
    virtual void stop() = 0;
};

// The platform's default input (see startCapture in audio.h for which); null when none opens.
std::unique_ptr<Input> openDeviceInput(CaptureTarget target);

#ifndef _WIN32
// The sound server's default source; null when no server answers (none is ever started).
std::unique_ptr<Input> openPulseInput(CaptureTarget target);
// SDL2's default capture device; null when it has none.
std::unique_ptr<Input> openSdlInput(CaptureTarget target);
#endif

}  // namespace audio
