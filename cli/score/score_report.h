// score_report.h - a scored take as the program prints it: a table of the strokes due with
// the extra strokes and a summary, or one JSON object.
//
// Offsets are in milliseconds, positive when late. The JSON object:
//   {"start_s": 1.25, "fitted": false, "tolerance_ms": 20,
//    "strokes": [{"entry": 1, "pass": 1, "step": 0, "time_s": 1.25, "expected": "D",
//                 "heard": "D" or null, "offset_ms": -3.2 or null, "verdict": "on time"}, ...],
//    "extra": [{"time_s": 2.5, "heard": "T"}, ...],
//    "summary": {"strokes": 16, "on_time": 12, "early": 1, "late": 1, "wrong": 1, "missed": 1,
//                "extra": 2, "mean_offset_ms": 3.1, "spread_ms": 11.2}}
// strokes in the order they are due; entries count from 1 (a playlist's), passes from 1
// within their entry, steps from 0 within their pass.
//
// Threads: any. Ownership: plain strings returned.
#pragma once

#include <string>

#include "cli/score/score_job.h"

std::string scoreText(const ScoredTake& scored, const std::string& input, const std::string& take);
std::string scoreJson(const ScoredTake& scored);
