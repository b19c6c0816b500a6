// Reading tabladex-score's command line with getopt_long; the options it shares with the
// renderer go through the renderer's reader.
#include "cli/score/score_options.h"

#include <getopt.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "cli/render/render_options.h"

namespace {

// Codes of the long options; the shared ones first.
enum : int { Tempo = 256, Repeats, CountIn, Ladder, Silent, Start, Calibration, ToleranceCode, Json, Version };

const option longOptions[] = {
    {"tempo", required_argument, nullptr, Tempo},
    {"repeats", required_argument, nullptr, Repeats},
    {"count-in", required_argument, nullptr, CountIn},
    {"ladder", required_argument, nullptr, Ladder},
    {"silent", required_argument, nullptr, Silent},
    {"start", required_argument, nullptr, Start},
    {"calibration", required_argument, nullptr, Calibration},
    {"tolerance", required_argument, nullptr, ToleranceCode},
    {"json", no_argument, nullptr, Json},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, Version},
    {nullptr, 0, nullptr, 0}};

bool isShared(int code) { return code >= Tempo && code <= Silent; }

std::string longName(int code) {
    for (const option& o : longOptions)
        if (o.name && o.val == code) return std::string("--") + o.name;
    return "-" + std::string(1, char(code));
}

bool seconds(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || std::abs(parsed) > 86400.0) return false;
    value = parsed;
    return true;
}

// The shared options read by the renderer's reader, as if they were its own.
bool readShared(const std::vector<std::string>& shared, ScoreOptions& options, std::string& error) {
    std::vector<const char*> args = {"tabladex-score", "-o", "-"};
    for (const std::string& arg : shared) args.push_back(arg.c_str());
    args.push_back("--");
    args.push_back("rhythm");
    RenderOptions render;
    if (!parseRenderOptions(static_cast<int>(args.size()), args.data(), render, error)) return false;
    options.tempo = render.tempo;
    options.repeats = render.repeats;
    options.countInBeats = render.countInBeats;
    options.ladder = render.ladder;
    options.silent = render.silent;
    return true;
}

}  // namespace

const char* toleranceName(Tolerance tolerance) {
    switch (tolerance) {
        case Tolerance::Strict: return "strict";
        case Tolerance::Normal: return "normal";
        case Tolerance::Relaxed: return "relaxed";
    }
    return "normal";
}

const char* scoreUsageLine() { return "Usage: tabladex-score [options] RHYTHM TAKE\n"; }

const char* scoreUsage() {
    return "Usage: tabladex-score [options] RHYTHM TAKE\n"
           "Scores a recording of you playing a rhythm file (.krf) or a playlist (.krp) on a\n"
           "darbuka: each stroke due is matched to the stroke heard nearest it, and judged on\n"
           "time, early, late, wrong (another kind of stroke) or missed. TAKE is an audio file\n"
           "(WAV, FLAC, Ogg and what else libsndfile reads), at any rate, mixed to mono.\n"
           "\n"
           "The strokes due are the ones tabladex-render plays with the same options, silent\n"
           "passes included (you play those alone); a count-in's clicks are never scored.\n"
           "\n"
           "Options:\n"
           "      --start SECONDS   where the rhythm's first step falls in TAKE; without it\n"
           "                        the rhythm is fitted to the take (moved by the constant\n"
           "                        that lines its strokes up best with the ones heard), so\n"
           "                        a constant lead or lag of yours does not show\n"
           "      --calibration CAL.wav\n"
           "                        a recording of four doums, four teks, then four slaps, at\n"
           "                        least half a second apart, on your drum in your room; it\n"
           "                        teaches the scorer how your strokes sound (default: the\n"
           "                        calibration shipped with the program)\n"
           "      --tolerance T     strict, normal or relaxed: on time within 10, 20 or 35\n"
           "                        milliseconds (default normal)\n"
           "      --json            print one JSON object instead of the table\n"
           "      --tempo BPM       as tabladex-render: every entry at this tempo\n"
           "      --repeats N       passes of a single rhythm (default 1)\n"
           "      --count-in B      the count-in's beats (not scored; --start still names the\n"
           "                        first step)\n"
           "      --ladder START:END:STEP[:EVERY]\n"
           "                        a speed ladder, as tabladex-render climbs it\n"
           "      --silent PLAY:REST\n"
           "                        PLAY passes heard, REST passes silent; all are scored\n"
           "  -h, --help            show this help\n"
           "      --version         show the version\n"
           "\n"
           "Output: one line per stroke due (entry for a playlist, pass, step, due time,\n"
           "stroke expected and heard, offset in milliseconds, positive when late, verdict),\n"
           "the strokes heard that matched nothing (extra), and a summary. A stroke heard more\n"
           "than 150 ms, or half-way to the next stroke, from its due time is not its match.\n"
           "\n"
           "Exit status: 0 scored, 1 a file could not be read, 2 unusable command line.\n";
}

bool parseScoreOptions(int argc, const char* const* argv, ScoreOptions& options, std::string& error) {
    options = ScoreOptions{};
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) args.push_back(const_cast<char*>(argv[i]));
    args.push_back(nullptr);
    optind = 0;
    opterr = 0;
    std::vector<std::string> shared;
    for (;;) {
        const int code = getopt_long(argc, args.data(), ":h", longOptions, nullptr);
        if (code == -1) break;
        if (code == '?' || code == ':') {
            const std::string named = optopt != 0 && optopt < 256 ? "-" + std::string(1, char(optopt))
                                      : optopt != 0              ? longName(optopt)
                                                                 : std::string(args[optind - 1]);
            const std::string name = named.substr(0, named.find('='));
            error = code == '?' ? "unknown option '" + name + "'" : "option '" + name + "' needs a value";
            return false;
        }
        const std::string value = optarg ? optarg : "";
        if (isShared(code)) {
            shared.push_back(longName(code) + "=" + value);
            continue;
        }
        switch (code) {
            case 'h': options.help = true; break;
            case Version: options.version = true; break;
            case Json: options.json = true; break;
            case Calibration:
                if (value.empty()) {
                    error = "invalid value '' for '--calibration': a recording of your strokes";
                    return false;
                }
                options.calibration = value;
                break;
            case Start: {
                double at = 0;
                if (!seconds(value, at)) {
                    error = "invalid value '" + value + "' for '--start': seconds into the take, such as 1.25";
                    return false;
                }
                options.start = at;
                break;
            }
            case ToleranceCode: {
                bool known = false;
                for (const Tolerance t : {Tolerance::Strict, Tolerance::Normal, Tolerance::Relaxed})
                    if (value == toleranceName(t)) options.tolerance = t, known = true;
                if (!known) {
                    error = "invalid value '" + value + "' for '--tolerance': strict, normal or relaxed";
                    return false;
                }
                break;
            }
            default: break;
        }
    }
    if (options.help || options.version) return true;
    std::vector<std::string> files;
    for (int i = optind; i < argc; ++i) files.push_back(args[i]);
    if (!readShared(shared, options, error)) return false;
    if (files.size() < 2) {
        error = files.empty() ? "no rhythm file and no take" : "no take: give the recording after '" + files[0] + "'";
        return false;
    }
    if (files.size() > 2) {
        error = "more than two files ('" + files[0] + "', '" + files[1] + "' and '" + files[2] + "')";
        return false;
    }
    options.input = files[0];
    options.take = files[1];
    return true;
}
