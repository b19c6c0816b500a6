// take_file.h - a recorded take read with libsndfile, at its own rate, its channels mixed to
// mono: listened to block by block for its strokes, or read whole (a calibration take).
//
// Messages name the file and say why it could not be read.
//
// Threads: any. Ownership: the caller owns the results.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "listen/stroke_calibration.h"
#include "listen/stroke_listener.h"

struct TakeInfo {
    int32_t rate = 0;
    int64_t frames = 0;
};

// The take's rate and length, without reading its samples.
bool takeInfo(const std::string& path, TakeInfo& info, std::string& error);

// The strokes heard in the whole take, in order, their frames counted from its first sample.
// A take that is silent, or holds no frames at all, hears none.
bool listenToTake(const std::string& path, const StrokeCalibration& calibration, TakeInfo& info,
                  std::vector<HeardStroke>& heard, std::string& error);

// The whole take as mono samples; a take longer than maxSeconds is refused.
bool readMonoTake(const std::string& path, double maxSeconds, std::vector<float>& mono, TakeInfo& info,
                  std::string& error);
