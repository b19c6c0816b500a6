// listen_take_score.h - how well what the listener heard agrees with a take's truth.
//
// A true stroke is found when a heard onset lies within windowMs of it, one to one, the
// closest pairs first. Found strokes give the onset time errors and, with the heard kinds,
// the confusion matrix; heard onsets that found no stroke are false hits. Tallies add up over
// the takes of one condition.
//
// Threads: any; plain data and functions. Ownership: values.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "bench/listen_take_builder.h"
#include "listen/stroke_listener.h"

struct TakeTally {
    int64_t truth = 0;
    int64_t heard = 0;
    int64_t found = 0;
    int64_t falseHits = 0;
    std::vector<double> errorsMs;  // |heard - true| of every found stroke
    std::array<std::array<int64_t, strokeKindCount>, strokeKindCount> confusion{};  // [true][heard]
    double audioSeconds = 0;
    double listenerCpuSeconds = 0;
    double removerCpuSeconds = 0;
};

// Adds one take's agreement into tally.
void tallyTake(const std::vector<TrueStroke>& truth, const std::vector<HeardStroke>& heard,
               int rate, double windowMs, TakeTally& tally);

struct TallySummary {
    double recall = 0, precision = 0;
    double medianMs = 0, p95Ms = 0, maxMs = 0;
    double strokeAccuracy = 0;  // right kind among the found strokes
    double falseHitsPer100 = 0;
    double listenerUsPerSecond = 0, removerUsPerSecond = 0;
};

TallySummary summarise(const TakeTally& tally);
