// score_job.h - one scoring as the program runs it: the rhythm read into the plan the
// renderer plays with the same options, the calibration read, the take listened to, the
// grid placed (at --start, or fitted to the take), and every stroke due judged.
//
// A take that is silent or ends before the rhythm does is scored: its strokes are missed.
// A rhythm with an entry that never ends is scored as far as the take goes. Nothing is
// printed here; the program prints the warnings, the error or the report.
//
// Threads: the main thread. Ownership: the caller owns everything passed and returned.
#pragma once

#include <string>
#include <vector>

#include "cli/score/due_strokes.h"
#include "cli/score/score_options.h"
#include "cli/score/take_file.h"
#include "listen/take_matcher.h"

// The most strokes one take is scored on.
constexpr std::size_t maxScoredStrokes = 1000000;

struct ScoredTake {
    std::size_t entries = 0;  // the plan's entries
    TakeInfo take;
    double start = 0;            // seconds into the take of the first step
    bool fitted = false;         // start was fitted to the take rather than given
    bool defaultCalibration = true;
    Tolerance tolerance = Tolerance::Normal;
    std::vector<ExpectedStroke> expected;  // due times in the take, in order
    std::vector<std::size_t> entryOf;      // each expected stroke's entry
    std::vector<HeardAt> heard;            // in the take, in order
    TakeScore score;
};

// dataFolder holds soundFont/default.cal (empty, or ending in a slash). False with error
// naming the file and the reason.
bool scoreTakeFile(const ScoreOptions& options, const std::string& dataFolder, ScoredTake& result,
                   std::vector<std::string>& warnings, std::string& error);
