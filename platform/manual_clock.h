// manual_clock.h - lets tests drive the performance counter (and so every FrameTimer) by
// hand instead of the steady clock. While the manual clock is in use, Sleep adds its time to
// the clock instead of waiting.
//
// Threads: any thread. Not available on Windows builds (tests only run elsewhere).
#pragma once

namespace platform {

void useManualClock(bool on);
bool manualClockInUse();
void advanceManualClock(double seconds);
double manualClockSeconds();

}  // namespace platform
