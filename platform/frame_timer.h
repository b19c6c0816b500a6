// frame_timer.h - an interval timer on the high-resolution performance counter. init reads
// the counter's frequency and a first count; each tick measures the time since the previous
// reading into elapsed (double) and elapsedF (float); seconds reads the counter as a time
// without touching the interval, for threads that keep a timeline of due times.
//
// Threads: one thread at a time per timer (the main loop's timer on the main thread, the
// step timer on whichever playback thread runs). Ownership: plain data.
#pragma once

#include <cstdint>

struct FrameTimer {
    int64_t lastCount = 0;
    double secondsPerCount = 0.0;
    double elapsed = 0.0;
    float elapsedF = 0.0f;

    // False, and the timer unchanged, when there is no high-resolution counter.
    bool init();
    void tick();
    // The counter now, in seconds since an arbitrary origin fixed for the process.
    double seconds() const;
};
