// click_sound.h - the count-in's metronome clicks, made here rather than read from a file:
// a short sine burst that starts at full level on its first frame and dies away within
// 25 ms; the accented click (a bar's first beat) is higher and louder.
//
// Threads: any; pure function. Ownership: the caller owns the returned samples.
#pragma once

#include <cstdint>
#include <vector>

// Interleaved stereo float at rate, at most maxFrames long (at least one frame).
std::vector<float> makeClick(int32_t rate, bool accent, int64_t maxFrames);
