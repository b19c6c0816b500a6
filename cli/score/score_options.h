// score_options.h - the command line of tabladex-score, read into plain settings.
//
// Read as tabladex-render reads its own (GNU style: options anywhere, "--name value" or
// "--name=value" or any unambiguous beginning of the name, "--" before a file that starts
// with '-'). The options the two programs share (--tempo, --count-in, --ladder, --silent,
// --repeats) are checked by the renderer's own reader, so they take the same values and
// give the same messages. Exactly two files: the rhythm or playlist, then the take.
//
// Threads: the main thread (getopt_long keeps its state in globals). Ownership: the caller
// owns the results.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "listen/take_matcher.h"
#include "rhythm/practice_session.h"

struct ScoreOptions {
    std::string input;  // the rhythm file or playlist
    std::string take;   // the recording of the learner
    int32_t tempo = 0;  // 0: each entry's own tempo
    int32_t repeats = 1;
    int32_t countInBeats = 0;
    SpeedLadder ladder;
    SilentPasses silent;
    std::optional<double> start;  // seconds into the take of the first step; none: fitted
    std::string calibration;      // a calibration take; empty: the default calibration
    Tolerance tolerance = Tolerance::Normal;
    bool json = false;
    bool help = false;
    bool version = false;
};

// False, with error set, when the command line cannot be used. With --help or --version
// nothing else is required.
bool parseScoreOptions(int argc, const char* const* argv, ScoreOptions& options, std::string& error);

// "strict", "normal" or "relaxed".
const char* toleranceName(Tolerance tolerance);

// The one-line usage printed after a command-line error, and the text --help prints.
const char* scoreUsageLine();
const char* scoreUsage();
