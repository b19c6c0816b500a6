// listen_accuracy - how well the listener hears a learner's strokes, on microphone takes
// built from the shipped rhythms and samples with known truth (bench/listen_take_builder.h).
//
// Conditions: human timing spread (sd of the offsets), room (RT60), room noise (SNR), the
// tutor's own sound leaking into the microphone (with and without the echo remover) and the
// drum (the shipped samples, or another drum made here, after its own calibration take).
// For each it prints onset recall and precision, the onset time error (median, p95, max),
// the stroke accuracy among the found strokes with the confusion matrix, false hits (onsets
// that found no stroke) per 100 strokes, and the CPU time of the listener and the remover per
// second of audio. A stroke is found when an onset lies within 50 ms of it, one to one,
// nearest first. Then a silent-passage check: false hits in room noise and reverberation
// after the learner stops, per 100 strokes' worth of time. The last line is
//   RESULT onset_med_ms=... onset_p95_ms=... recall=... stroke_accuracy=... false_hits_per_100=... cpu_us_per_s=...
// on the standard condition: RT60 0.3 s, 20 dB SNR, sd 15 ms, no leak, the shipped drum with
// the default calibration.
//
// Options: --quick (three rhythms, for a smoke run; the full run takes half the shipped
// rhythms and about 100 s of CPU), --seed N (default 1), --data DIR (the
// data folder; by default the source tree's).
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/listen_take_builder.h"
#include "bench/listen_take_score.h"
#include "listen/echo_remover.h"
#include "listen/stroke_calibration.h"
#include "listen/stroke_listener.h"

namespace {

constexpr int kRate = 48000;
constexpr double kWindowMs = 50;
constexpr std::size_t kBlock = 480;  // 10 ms, as a capture callback hands it over

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// The listener over one take, in capture-sized blocks; with a reference, the echo remover
// first. Returns what was heard and adds the CPU times and audio length into tally.
std::vector<HeardStroke> listen(const std::vector<float>& mic, const std::vector<float>* reference,
                                const StrokeCalibration& calibration, TakeTally& tally,
                                std::vector<float>* cleaned = nullptr) {
    std::vector<float> input = mic;
    if (reference) {
        EchoRemover remover(kRate);
        const double t0 = cpuSeconds();
        for (std::size_t at = 0; at < input.size(); at += kBlock) {
            const std::size_t n = std::min(kBlock, input.size() - at);
            remover.process(&input[at], &(*reference)[at], n, &input[at]);
        }
        tally.removerCpuSeconds += cpuSeconds() - t0;
        if (cleaned) *cleaned = input;
    }
    std::vector<HeardStroke> heard;
    heard.reserve(input.size() / kRate * 20 + 64);
    StrokeListener listener(kRate, calibration);
    const double t0 = cpuSeconds();
    for (std::size_t at = 0; at < input.size(); at += kBlock)
        listener.feed(&input[at], std::min(kBlock, input.size() - at), heard);
    listener.flush(heard);
    tally.listenerCpuSeconds += cpuSeconds() - t0;
    tally.audioSeconds += double(input.size()) / kRate;
    return heard;
}

struct Line {
    std::string label;
    TakeTally tally;
    double erleDb = NAN;  // leak lines with the remover: the echo's power over what is left
};

void print(const Line& line) {
    const TallySummary s = summarise(line.tally);
    const auto& c = line.tally.confusion;
    std::printf("%-58s strokes=%5lld recall=%.3f precision=%.3f onset_ms med=%.2f p95=%.2f "
                "max=%.1f accuracy=%.3f false_hits/100=%.2f listener_us/s=%.0f",
                line.label.c_str(), (long long)line.tally.truth, s.recall, s.precision,
                s.medianMs, s.p95Ms, s.maxMs, s.strokeAccuracy, s.falseHitsPer100,
                s.listenerUsPerSecond);
    if (line.tally.removerCpuSeconds > 0) std::printf(" remover_us/s=%.0f", s.removerUsPerSecond);
    if (!std::isnan(line.erleDb)) std::printf(" echo_removed_dB=%.1f", line.erleDb);
    std::printf("\n    confusion true\\heard D,T,S:  D %lld,%lld,%lld  T %lld,%lld,%lld  S %lld,%lld,%lld\n",
                (long long)c[0][0], (long long)c[0][1], (long long)c[0][2], (long long)c[1][0],
                (long long)c[1][1], (long long)c[1][2], (long long)c[2][0], (long long)c[2][1],
                (long long)c[2][2]);
    std::fflush(stdout);
}

// A calibration take on this drum in this room, made the way a learner makes one.
bool calibrate(const DrumKit& kit, double rt60, double snrDb, uint32_t seed, StrokeCalibration& out,
               std::string& message) {
    TakePlan plan;
    plan.rt60 = rt60;
    plan.minSeconds = 0;
    plan.seed = seed;
    const Take take = buildTake(calibrationPattern(), kit, kit, plan, kRate);
    const std::vector<float> mic = take.micAt(snrDb);
    const CalibrationResult result = calibrateFromTake(mic.data(), mic.size(), kRate);
    message = result.message;
    if (result.ok) out = result.calibration;
    return result.ok;
}

std::string label(const char* drum, double sd, double rt60, double snr, const char* leak,
                  const char* cal) {
    char text[160];
    std::snprintf(text, sizeof text, "drum=%s cal=%s sd=%.0fms rt60=%.1fs snr=%.0fdB leak=%s",
                  drum, cal, sd, rt60, snr, leak);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    uint32_t seed = 1;
    std::string data = TABLADEX_SOURCE_DATA;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) seed = uint32_t(std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--data") == 0 && i + 1 < argc) data = argv[++i];
        else {
            std::fprintf(stderr, "usage: listen_accuracy [--quick] [--seed N] [--data DIR]\n");
            return 2;
        }
    }

    std::string error;
    DrumKit shipped;
    if (!loadShippedKit(data + "/soundFont", kRate, shipped, error)) {
        std::fprintf(stderr, "listen_accuracy: %s\n", error.c_str());
        return 1;
    }
    const DrumKit other = makeOtherKit(kRate);

    // The rhythms: half the shipped ones (three with --quick); baladi_slap, the only one with
    // slaps, is played longer so that the slaps' row of the confusion matrix means something.
    std::vector<std::string> names;
    if (quick) names = {"maqsum", "baladi_slap", "malfuf_filled"};
    else {
        for (const auto& entry : std::filesystem::directory_iterator(data + "/rhythms"))
            if (entry.path().extension() == ".krf") names.push_back(entry.path().stem().string());
        std::sort(names.begin(), names.end());
        // Every other one in name order (baladi_slap always), to stay within two minutes.
        std::vector<std::string> kept;
        for (std::size_t i = 0; i < names.size(); ++i)
            if (i % 2 == 0 || names[i] == "baladi_slap") kept.push_back(names[i]);
        names = kept;
    }
    std::vector<Pattern> patterns;
    for (const std::string& name : names) {
        Pattern p;
        if (!loadPattern(data + "/rhythms/" + name + ".krf", p, error)) {
            std::fprintf(stderr, "listen_accuracy: %s\n", error.c_str());
            return 1;
        }
        patterns.push_back(p);
    }
    auto secondsFor = [&](const Pattern& p) {
        return p.name == "baladi_slap" ? (quick ? 20.0 : 40.0) : (quick ? 8.0 : 5.0);
    };

    StrokeCalibration defaultCal;
    const char* defaultName = "default";
    {
        std::ifstream in(data + "/soundFont/default.cal");
        std::stringstream text;
        text << in.rdbuf();
        if (!in || !readCalibration(text.str(), defaultCal, error)) {
            std::printf("note: no usable soundFont/default.cal (%s); the shipped drum's own "
                        "calibration take stands in for it\n",
                        in ? error.c_str() : "missing");
            std::string message;
            if (!calibrate(shipped, 0.3, 20, seed * 31 + 1, defaultCal, message)) {
                std::fprintf(stderr, "listen_accuracy: calibration failed: %s\n", message.c_str());
                return 1;
            }
            defaultName = "own";
        }
    }
    const double startCpu = cpuSeconds();

    // Timing, room and noise, the shipped drum. The same strokes (same seed) are heard at
    // every noise level, so the noise levels compare like for like.
    const double sds[] = {5, 15, 30}, rooms[] = {0.3, 0.8}, snrs[] = {30, 20, 10};
    std::vector<Line> grid;
    Line* standard = nullptr;
    std::printf("# shipped drum, %s calibration: sd x RT60 x SNR\n", defaultName);
    for (double rt60 : rooms)
        for (double sd : sds) {
            const std::size_t first = grid.size();
            for (double snr : snrs) grid.push_back({label("shipped", sd, rt60, snr, "off", defaultName), {}});
            for (std::size_t r = 0; r < patterns.size(); ++r) {
                TakePlan plan;
                plan.offsetSdMs = sd;
                plan.rt60 = rt60;
                plan.minSeconds = secondsFor(patterns[r]);
                plan.seed = seed * 1000 + uint32_t(r);
                const Take take = buildTake(patterns[r], shipped, shipped, plan, kRate);
                for (std::size_t s = 0; s < 3; ++s) {
                    TakeTally& tally = grid[first + s].tally;
                    const auto heard = listen(take.micAt(snrs[s]), nullptr, defaultCal, tally);
                    tallyTake(take.truth, heard, kRate, kWindowMs, tally);
                }
            }
            for (std::size_t s = 0; s < 3; ++s) print(grid[first + s]);
        }
    for (Line& line : grid)
        if (line.label == label("shipped", 15, 0.3, 20, "off", defaultName)) standard = &line;

    // Each drum after its own calibration take, made in the room it is played in.
    std::printf("# own calibration take (sd 15 ms)\n");
    struct DrumCase { const char* name; const DrumKit* kit; double rt60, snr; };
    const DrumCase drums[] = {{"shipped", &shipped, 0.3, 20}, {"other", &other, 0.3, 20},
                              {"other", &other, 0.8, 20}, {"other", &other, 0.3, 10}};
    for (const DrumCase& d : drums) {
        StrokeCalibration own;
        std::string message;
        if (!calibrate(*d.kit, d.rt60, d.snr, seed * 31 + 2, own, message)) {
            std::printf("%s: calibration take refused: %s\n",
                        label(d.name, 15, d.rt60, d.snr, "off", "own").c_str(), message.c_str());
            continue;
        }
        Line line{label(d.name, 15, d.rt60, d.snr, "off", "own"), {}};
        Line withDefault{label(d.name, 15, d.rt60, d.snr, "off", defaultName), {}};
        for (std::size_t r = 0; r < patterns.size(); ++r) {
            TakePlan plan;
            plan.rt60 = d.rt60;
            plan.minSeconds = secondsFor(patterns[r]);
            plan.seed = seed * 1000 + uint32_t(r);
            const Take take = buildTake(patterns[r], *d.kit, *d.kit, plan, kRate);
            const std::vector<float> mic = take.micAt(d.snr);
            tallyTake(take.truth, listen(mic, nullptr, own, line.tally), kRate, kWindowMs, line.tally);
            if (d.kit == &other && d.rt60 == 0.3 && d.snr == 20)
                tallyTake(take.truth, listen(mic, nullptr, defaultCal, withDefault.tally), kRate,
                          kWindowMs, withDefault.tally);
        }
        print(line);
        if (withDefault.tally.truth > 0) print(withDefault);
    }

    // The tutor's own sound at -6 dB under the learner, who listens to the first cycle (the
    // remover's warm-up; not scored) and then plays along on the same steps: without
    // removal, and through the echo remover.
    std::printf("# tutor's sound leaking at -6 dB, SNR 20 dB (learner joins after one cycle)\n");
    struct LeakCase { double sd, rt60; };
    const LeakCase leaks[] = {{15, 0.3}, {5, 0.3}, {30, 0.3}, {15, 0.8}};
    for (const LeakCase& l : leaks) {
        Line raw{label("shipped", l.sd, l.rt60, 20, "on,remover=off", defaultName), {}};
        Line removed{label("shipped", l.sd, l.rt60, 20, "on,remover=on", defaultName), {}};
        double echoEnergy = 0, leftEnergy = 0;
        for (std::size_t r = 0; r < patterns.size(); ++r) {
            TakePlan plan;
            plan.offsetSdMs = l.sd;
            plan.rt60 = l.rt60;
            plan.leak = true;
            plan.minSeconds = secondsFor(patterns[r]);
            plan.seed = seed * 1000 + uint32_t(r);
            const Take take = buildTake(patterns[r], shipped, shipped, plan, kRate);
            const std::vector<float> mic = take.micAt(20);
            // The listening cycle is not scored, as the tutor does not score it either.
            auto scored = [&take](std::vector<HeardStroke> heard) {
                std::erase_if(heard, [&](const HeardStroke& h) { return h.frame < take.scoredFrom; });
                return heard;
            };
            tallyTake(take.truth, scored(listen(mic, nullptr, defaultCal, raw.tally)), kRate,
                      kWindowMs, raw.tally);
            std::vector<float> cleaned;
            tallyTake(take.truth,
                      scored(listen(mic, &take.reference, defaultCal, removed.tally, &cleaned)),
                      kRate, kWindowMs, removed.tally);
            // What is left of the echo, while the learner plays (the remover is warm by then):
            // the output less everything that is not echo.
            const std::size_t from = std::size_t(take.truth.front().frame);
            for (std::size_t i = from; i < mic.size(); ++i) {
                echoEnergy += double(take.leak[i]) * take.leak[i];
                const double left = cleaned[i] - (mic[i] - take.leak[i]);
                leftEnergy += left * left;
            }
        }
        removed.erleDb = 10 * std::log10(echoEnergy / std::max(1e-30, leftEnergy));
        print(raw);
        print(removed);
    }

    // Silent passages: one cycle of playing, then room noise and the reverberation's tail.
    std::printf("# silent passages after the learner stops (sd 15 ms)\n");
    const TallySummary standardSummary = summarise(standard->tally);
    double strokesPerSecond = 0;
    {
        double played = 0;
        for (const Pattern& p : patterns) {
            int strokes = 0;
            for (StepSound s : p.steps) strokes += s != StepSound::None;
            played += p.stepSeconds * double(p.steps.size());
            strokesPerSecond += strokes;
        }
        strokesPerSecond /= played;
    }
    struct SilentCase { double rt60, snr; };
    const SilentCase silents[] = {{0.3, 20}, {0.8, 20}, {0.3, 10}};
    for (std::size_t line = 0; line < std::size(silents); ++line) {
        const SilentCase& sc = silents[line];
        int64_t hits = 0;
        double silentSeconds = 0;
        TakeTally unused;
        std::vector<double> after;  // seconds from the last stroke to each false hit
        for (std::size_t r = 0; r < patterns.size(); ++r) {
            TakePlan plan;
            plan.rt60 = sc.rt60;
            plan.minSeconds = 0;
            plan.tailSeconds = 8;
            // A noise of its own for each line: one draw scaled would be one measurement thrice.
            plan.seed = seed * 1000 + 500 + uint32_t(100 * line + r);
            const Take take = buildTake(patterns[r], shipped, shipped, plan, kRate);
            const std::vector<float> mic = take.micAt(sc.snr);
            const int64_t quietFrom = take.truth.back().frame + int64_t(kWindowMs / 1000 * kRate);
            for (const HeardStroke& h : listen(mic, nullptr, defaultCal, unused))
                if (h.frame > quietFrom) {
                    ++hits;
                    after.push_back(double(h.frame - take.truth.back().frame) / kRate);
                }
            silentSeconds += double(int64_t(mic.size()) - quietFrom) / kRate;
        }
        const double worth = silentSeconds * strokesPerSecond;
        std::printf("silent rt60=%.1fs snr=%.0fdB: %lld false hits in %.0f s (%.0f strokes' worth "
                    "at %.2f strokes/s) = %.2f per 100\n",
                    sc.rt60, sc.snr, (long long)hits, silentSeconds, worth, strokesPerSecond,
                    100.0 * double(hits) / worth);
        if (!after.empty())
            std::printf("    false hits lie %.2f to %.2f s after the last stroke\n",
                        *std::min_element(after.begin(), after.end()),
                        *std::max_element(after.begin(), after.end()));
    }

    std::printf("# bench CPU %.1f s; standard condition: %s\n", cpuSeconds() - startCpu,
                standard->label.c_str());
    std::printf("RESULT onset_med_ms=%.2f onset_p95_ms=%.2f recall=%.3f stroke_accuracy=%.3f "
                "false_hits_per_100=%.2f cpu_us_per_s=%.0f\n",
                standardSummary.medianMs, standardSummary.p95Ms, standardSummary.recall,
                standardSummary.strokeAccuracy, standardSummary.falseHitsPer100,
                standardSummary.listenerUsPerSecond);
    return 0;
}
