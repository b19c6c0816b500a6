// render_options.h - the command line of tabladex-render, read into plain settings.
//
// Read as GNU tools read theirs: options before or after the input, short options combined
// ("-qv", "-oout.wav"), long ones as "--tempo 120" or "--tempo=120" (or any unambiguous
// beginning of their name), "--" before an input that starts with '-'. Numbers are checked
// against their ranges here, so the rest of the program sees only usable values. A second
// input or a second -o is refused rather than one silently winning, and so are --tempo and
// --ladder together.
//
// Threads: the main thread (getopt_long keeps its state in globals). Ownership: the caller
// owns the results.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/render/sound_file_writer.h"
#include "rhythm/practice_session.h"

struct RenderOptions {
    std::string input;
    std::string output;                    // "-": standard output
    std::optional<SoundFileFormat> type;   // --type; otherwise the output's extension says
    int32_t tempo = 0;        // 0: each entry's own tempo
    int32_t repeats = 1;      // passes of a single rhythm
    bool repeatsGiven = false;
    int32_t countInBeats = 0;
    SpeedLadder ladder;       // --ladder; start 0: none
    SilentPasses silent;      // --silent
    double gainDb = 0.0;
    int32_t rate = 48000;
    double minutes = 0.0;     // 0: no length limit
    bool verbose = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// False, with error set, when the command line cannot be used. With --help or --version
// nothing else is required.
bool parseRenderOptions(int argc, const char* const* argv, RenderOptions& options, std::string& error);

// The format the render is written in: --type, else WAV for standard output, else the
// output's extension. False when none of them names one.
bool outputFormat(const RenderOptions& options, SoundFileFormat& format);

// The one-line usage printed after a command-line error, and the text --help prints.
const char* renderUsageLine();
const char* renderUsage();
