// render_options.h - the command line of tabladex-render, read into plain settings.
//
// Options may be written "--tempo 120" or "--tempo=120"; "--" ends the options. Numbers are
// checked against their ranges here, so the rest of the program sees only usable values.
//
// Threads: any; pure functions. Ownership: the caller owns the results.
#pragma once

#include <cstdint>
#include <string>

struct RenderOptions {
    std::string input;
    std::string output;
    int32_t tempo = 0;        // 0: each entry's own tempo
    int32_t repeats = 1;      // passes of a single rhythm
    bool repeatsGiven = false;
    int32_t countInBeats = 0;
    double gainDb = 0.0;
    int32_t rate = 48000;
    double minutes = 0.0;     // 0: no length limit
    bool verbose = false;
    bool help = false;
    bool version = false;
};

// False, with error set, when the command line cannot be used. With --help or --version
// nothing else is required.
bool parseRenderOptions(int argc, const char* const* argv, RenderOptions& options, std::string& error);

// The text --help prints.
const char* renderUsage();
