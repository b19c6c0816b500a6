// Reading tabladex-render's command line with getopt_long.
#include "cli/render/render_options.h"

#include <getopt.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

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

// "80:120:5" cut at its colons.
std::vector<std::string> colonFields(const std::string& text) {
    std::vector<std::string> fields(1);
    for (const char c : text) {
        if (c == ':') fields.emplace_back();
        else fields.back().push_back(c);
    }
    return fields;
}

std::string takeLadder(const std::string& value, SpeedLadder& ladder) {
    const std::vector<std::string> fields = colonFields(value);
    if (fields.size() < 3 || fields.size() > 4) return "START:END:STEP or START:END:STEP:EVERY, such as 80:120:5";
    // The tutor's tempo slider's range.
    if (!wholeNumber(fields[0], 30, 300, ladder.start) || !wholeNumber(fields[1], 30, 300, ladder.end))
        return "START and END are whole tempos from 30 to 300";
    if (!wholeNumber(fields[2], 1, 270, ladder.step)) return "STEP is a whole number of beats per minute from 1 to 270";
    ladder.every = 1;
    if (fields.size() == 4 && !wholeNumber(fields[3], 1, 1000000, ladder.every))
        return "EVERY is a whole number of passes from 1 to 1000000";
    return "";
}

std::string takeSilent(const std::string& value, SilentPasses& silent) {
    const std::vector<std::string> fields = colonFields(value);
    if (fields.size() != 2 || !wholeNumber(fields[0], 1, 1000, silent.play) ||
        !wholeNumber(fields[1], 1, 1000, silent.rest))
        return "PLAY:REST, passes heard then passes silent, each from 1 to 1000, such as 1:1";
    return "";
}

// The long options' codes beyond the short options' letters.
enum : int { Tempo = 256, Repeats, CountIn, Ladder, Silent, Gain, Rate, Minutes, Version };

const option longOptions[] = {
    {"output", required_argument, nullptr, 'o'},  {"type", required_argument, nullptr, 't'},
    {"tempo", required_argument, nullptr, Tempo}, {"repeats", required_argument, nullptr, Repeats},
    {"count-in", required_argument, nullptr, CountIn}, {"gain", required_argument, nullptr, Gain},
    {"ladder", required_argument, nullptr, Ladder}, {"silent", required_argument, nullptr, Silent},
    {"rate", required_argument, nullptr, Rate},   {"minutes", required_argument, nullptr, Minutes},
    {"quiet", no_argument, nullptr, 'q'},         {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},          {"version", no_argument, nullptr, Version},
    {nullptr, 0, nullptr, 0}};

// How the option with this code is named in messages: "-o" or "--tempo".
std::string optionName(int code) {
    std::string name = "-";
    for (const option& o : longOptions)
        if (o.name && o.val == code) return code < 256 ? name.append(1, char(code)) : name.append("-").append(o.name);
    return name.append(1, char(code));
}

// Checks one option's value; the text after "invalid value for ..." when it is not usable.
std::string takeValue(int code, const std::string& value, RenderOptions& options) {
    switch (code) {
        case 'o': options.output = value; return value.empty() ? "a file name, or - for standard output" : "";
        case 't': {
            SoundFileFormat format;
            if (!soundFileFormatNamed(value, format)) return "wav, flac or ogg";
            options.type = format;
            return "";
        }
        case Tempo: return wholeNumber(value, 1, 10000, options.tempo) ? "" : "a whole number from 1 to 10000";
        case Repeats:
            options.repeatsGiven = true;
            return wholeNumber(value, 1, 1000000, options.repeats) ? "" : "a whole number from 1 to 1000000";
        case CountIn: return wholeNumber(value, 0, 64, options.countInBeats) ? "" : "a whole number from 0 to 64";
        case Ladder: return takeLadder(value, options.ladder);
        case Silent: return takeSilent(value, options.silent);
        case Gain: return realNumber(value, -60.0, 24.0, options.gainDb) ? "" : "a number from -60 to 24";
        case Rate: return wholeNumber(value, 8000, 192000, options.rate) ? "" : "a whole number from 8000 to 192000";
        case Minutes:
            return realNumber(value, 0.0, 1440.0, options.minutes) && options.minutes > 0.0
                       ? ""
                       : "a number above 0, up to 1440";
    }
    return "";
}

}  // namespace

const char* renderUsageLine() { return "Usage: tabladex-render [options] INPUT -o OUTPUT\n"; }

const char* renderUsage() {
    return "Usage: tabladex-render [options] INPUT -o OUTPUT\n"
           "Writes a rhythm file (.krf) or a playlist (.krp) to an audio file, every stroke on\n"
           "its exact sample, as the tutor plays it. An INPUT named otherwise (.txt) is a\n"
           "rhythm or a playlist as its content says.\n"
           "\n"
           "Options:\n"
           "  -o, --output FILE   the file to write: .wav (16-bit), .flac or .ogg (Vorbis);\n"
           "                      - writes to standard output (WAV unless --type says)\n"
           "  -t, --type TYPE     wav, flac or ogg, whatever FILE's extension\n"
           "      --tempo BPM     play every entry at this tempo (1 to 10000)\n"
           "      --repeats N     passes of a single rhythm, silent ones included\n"
           "                      (default 1, up to 1000000); a playlist keeps its counts\n"
           "      --count-in B    B metronome clicks, one beat apart, at the first entry's\n"
           "                      tempo (with --ladder, START) before it starts (0 to 64)\n"
           "      --ladder START:END:STEP[:EVERY]\n"
           "                      a speed ladder, climbed as in the tutor's practice: each\n"
           "                      entry's passes start at START beats per minute and move\n"
           "                      STEP towards END every EVERY passes (default 1), then\n"
           "                      hold at END; tempos 30 to 300, END below START slows\n"
           "                      down; not with --tempo\n"
           "      --silent PLAY:REST\n"
           "                      PLAY passes heard, then REST passes silent for you to play\n"
           "                      alone, over and over (1 to 1000 each); a silent pass keeps\n"
           "                      its time\n"
           "      --gain DB       loudness in decibels (default 0, -60 to +24; above 0 may clip)\n"
           "      --rate HZ       sample rate (default 48000, 8000 to 192000)\n"
           "      --minutes M     cut the file at exactly M minutes, whatever is playing then\n"
           "                      (up to 1440; needed for endless playlist entries)\n"
           "  -q, --quiet         no progress bar and no warnings; errors are still printed\n"
           "  -v, --verbose       say what was written (on standard error when OUTPUT is -)\n"
           "  -h, --help          show this help\n"
           "      --version       show the version\n"
           "\n"
           "An existing OUTPUT is replaced, as other audio tools do, once the render is\n"
           "complete; until then it is untouched, and a failed or stopped render leaves it as\n"
           "it was. A symbolic link stays and the file it names gets the render; a replaced\n"
           "file keeps its permissions. Never replaced: the INPUT or a rhythm file the\n"
           "playlist names, a read-only file, a folder.\n"
           "\n"
           "Limits: a rhythm file of 64 KB, a playlist of 1 MB and 1000 entries, steps of at\n"
           "least one sample. A render longer than --minutes, or than 24 hours, is cut there\n"
           "with a warning. The title (a rhythm's, or the playlist's file name) is written\n"
           "into the file's tags.\n"
           "\n"
           "Exit status: 0 written, 1 failed, 2 unusable command line, 128+N stopped by\n"
           "signal N (the unfinished file is removed).\n";
}

bool parseRenderOptions(int argc, const char* const* argv, RenderOptions& options, std::string& error) {
    options = RenderOptions{};
    // getopt_long reorders argv's pointers as it goes: it works on a copy.
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) args.push_back(const_cast<char*>(argv[i]));
    args.push_back(nullptr);
    optind = 0;  // start afresh (glibc), also for a second command line
    opterr = 0;  // messages are ours
    bool outputGiven = false;
    for (;;) {
        const int code = getopt_long(argc, args.data(), ":hqvo:t:", longOptions, nullptr);
        if (code == -1) break;
        if (code == '?' || code == ':') {
            // optopt names a short option; for a long one, the argument it stopped at does.
            const std::string named = optopt != 0 && optopt < 256 ? "-" + std::string(1, char(optopt))
                                      : optopt != 0              ? optionName(optopt)
                                                                 : std::string(args[optind - 1]);
            const std::string name = named.substr(0, named.find('='));
            error = code == '?' ? "unknown option '" + name + "'" : "option '" + name + "' needs a value";
            return false;
        }
        switch (code) {
            case 'h': options.help = true; continue;
            case Version: options.version = true; continue;
            case 'q': options.quiet = true; continue;
            case 'v': options.verbose = true; continue;
            case 'o':
                if (outputGiven) {
                    error = "option '-o' given twice ('" + options.output + "' and '" + optarg + "')";
                    return false;
                }
                outputGiven = true;
                break;
            default: break;
        }
        const std::string value = optarg ? optarg : "";
        const std::string expected = takeValue(code, value, options);
        if (!expected.empty()) {
            error = "invalid value '" + value + "' for '" + optionName(code) + "': " + expected;
            return false;
        }
    }
    if (options.help || options.version) return true;
    if (options.tempo > 0 && options.ladder.start > 0) {
        error = "'--tempo' and '--ladder' both set the tempo: give one of them";
        return false;
    }
    for (int i = optind; i < argc; ++i) {
        if (!options.input.empty()) {
            error = "more than one input file ('" + options.input + "' and '" + args[i] + "')";
            return false;
        }
        options.input = args[i];
    }
    if (options.input.empty()) {
        error = "no input file";
        return false;
    }
    if (options.output.empty()) {
        error = "no output file: give one with '-o'";
        return false;
    }
    return true;
}

bool outputFormat(const RenderOptions& options, SoundFileFormat& format) {
    if (options.type) format = *options.type;
    else if (options.output == "-") format = SoundFileFormat::Wav;
    else return soundFileFormatFor(options.output, format);
    return true;
}
