// stroke_calibration.h - how each kind of stroke sounds on one drum in one room, and telling a
// stroke's kind from its features against it.
//
// A calibration holds, for each kind, the mean of its strokes' features and their spread;
// a stroke is the kind whose mean is nearest in units of that kind's spread. The default
// calibration (data/soundFont/default.cal) is made from the shipped samples by
// tools/make_calibration; a learner's comes from a take of four doums, four teks and four
// slaps.
//
// The text form, one record a line, fields split by spaces, '#' lines ignored:
//   tabladex-calibration 1            name and version
//   rate 48000                        the rate of the take it was made from
//   learner 0                         1 for a learner's take, 0 for the default
//   doum <count> <7 means> <7 spreads>
//   tek  <count> <7 means> <7 spreads>
//   slap <count> <7 means> <7 spreads>
//   end
// Means and spreads are the features of stroke_features.h; spreads are above zero.
//
// Threads: any; plain data and functions. Ownership: values are copied.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "listen/stroke_features.h"
#include "listen/stroke_kind.h"

struct StrokeModel {
    StrokeFeatures mean{};
    StrokeFeatures spread{};  // standard deviation, never below a floor per feature
    int count = 0;            // strokes it was made from
};

struct StrokeCalibration {
    int rate = 48000;
    std::array<StrokeModel, strokeKindCount> kinds{};  // indexed by StrokeKind
    bool learner = false;                              // false: the default one
};

struct CalibrationResult {
    bool ok = false;
    StrokeCalibration calibration;
    std::string message;  // for the learner: what was wrong with the take, or what was heard
};

struct StrokeGuess {
    StrokeKind kind = StrokeKind::Doum;
    float confidence = 0.f;  // 0..1: how much nearer the kind is than the others, and how near
};

// The kind nearest to features.
StrokeGuess classifyStroke(const StrokeCalibration& calibration, const StrokeFeatures& features);

// A model from the features of several strokes of one kind (count of them, at least one).
StrokeModel strokeModelOf(const StrokeFeatures* strokes, std::size_t count);

// A take of four doums, then four teks, then four slaps, each at least half a second apart.
CalibrationResult calibrateFromTake(const float* mono, std::size_t count, int rate);

std::string calibrationText(const StrokeCalibration& calibration);

// False with error naming the line and what was wrong, leaving out alone, for a text that is
// not a whole calibration of this version.
bool readCalibration(std::string_view text, StrokeCalibration& out, std::string& error);
