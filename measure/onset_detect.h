// onset_detect.h - finds where sounds start in a rendered stream.
//
// Promises: findOnsets returns, in increasing order, the frame of every sample whose level
// (the larger |value| of left and right) exceeds options.threshold after at least
// options.minSilenceSeconds of frames at or below it. The start of the buffer counts as
// silence. Meant for test sounds with a sharp attack (a click or a short burst), where the
// first loud sample is the start.
//
// Threads: any; pure function over the caller's buffer.
// Ownership: reads the caller's interleaved stereo float buffer; returns its own vector.
#pragma once

#include <cstddef>
#include <vector>

struct OnsetOptions {
    float threshold = 0.05f;
    double minSilenceSeconds = 0.005;
};

std::vector<std::size_t> findOnsets(const float* stereo, std::size_t frames, int sampleRate,
                                    const OnsetOptions& options = {});
