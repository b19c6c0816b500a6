// Reading tabladex-render's command line.
#include "cli/render/render_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace {

bool wholeNumber(const std::string& text, int64_t low, int64_t high, int32_t& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

bool realNumber(const std::string& text, double low, double high, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed < low || parsed > high) return false;
    value = parsed;
    return true;
}

}  // namespace

const char* renderUsage() {
    return "Usage: tabladex-render INPUT.krf|INPUT.krp -o OUTPUT.wav|.flac|.ogg [options]\n"
           "Writes a rhythm or a playlist to an audio file, every stroke on its exact sample.\n"
           "An INPUT named otherwise (.txt) is a rhythm or a playlist as its content says.\n"
           "\n"
           "  -o, --output FILE   the file to write; .wav (16-bit), .flac or .ogg (Vorbis)\n"
           "      --tempo BPM     play every entry at this tempo (1 to 10000)\n"
           "      --repeats N     passes of a single rhythm (default 1); a playlist keeps its counts\n"
           "      --count-in B    B metronome clicks at the first entry's tempo before it starts\n"
           "      --gain DB       loudness in decibels (default 0, -60 to +24; above 0 may clip)\n"
           "      --rate HZ       sample rate (default 48000, 8000 to 192000)\n"
           "      --minutes M     cut the file at exactly M minutes, whatever is playing then\n"
           "                      (up to 1440; needed for endless playlist entries)\n"
           "  -v, --verbose       say what was written\n"
           "  -h, --help          show this help\n"
           "      --version       show the version\n"
           "\n"
           "A render longer than --minutes, or than 24 hours, is cut there with a warning.\n"
           "Exit status: 0 written, 1 failed, 2 unusable command line, 128+N stopped by\n"
           "signal N (the unfinished file is removed).\n";
}

bool parseRenderOptions(int argc, const char* const* argv, RenderOptions& options, std::string& error) {
    options = RenderOptions{};
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnd || arg.empty() || arg[0] != '-' || arg == "-") {
            if (!options.input.empty()) {
                error = "more than one input file: " + options.input + " and " + arg;
                return false;
            }
            options.input = arg;
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            options.help = true;
            continue;
        }
        if (arg == "--version") {
            options.version = true;
            continue;
        }
        if (arg == "-v" || arg == "--verbose") {
            options.verbose = true;
            continue;
        }
        // The options that take a value, as "--name value" or "--name=value".
        std::string name = arg;
        std::string value;
        bool hasValue = false;
        if (const std::size_t equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasValue = true;
        }
        static constexpr std::string_view valued[] = {"-o", "--output", "--tempo", "--repeats",
                                                      "--count-in", "--gain", "--rate", "--minutes"};
        bool known = false;
        for (const std::string_view option : valued) known = known || name == option;
        if (!known) {
            error = "unknown option " + arg;
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        bool good = true;
        if (name == "-o" || name == "--output") {
            options.output = value;
            good = !value.empty();
        } else if (name == "--tempo") {
            good = wholeNumber(value, 1, 10000, options.tempo);
        } else if (name == "--repeats") {
            good = wholeNumber(value, 1, 1000000, options.repeats);
            options.repeatsGiven = true;
        } else if (name == "--count-in") {
            good = wholeNumber(value, 0, 64, options.countInBeats);
        } else if (name == "--gain") {
            good = realNumber(value, -60.0, 24.0, options.gainDb);
        } else if (name == "--rate") {
            good = wholeNumber(value, 8000, 192000, options.rate);
        } else if (name == "--minutes") {
            good = realNumber(value, 0.0, 1440.0, options.minutes) && options.minutes > 0.0;
        }
        if (!good) {
            error = "invalid value for " + name + ": '" + value + "' (see --help)";
            return false;
        }
    }
    if (options.help || options.version) return true;
    if (options.input.empty()) {
        error = "no input file (see --help)";
        return false;
    }
    if (options.output.empty()) {
        error = "no output file: give one with -o (see --help)";
        return false;
    }
    return true;
}
