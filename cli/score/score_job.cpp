// One scoring, from the command line's settings to the judged strokes.
#include "cli/score/score_job.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

#include "cli/render/plan_loader.h"
#include "cli/score/grid_fit.h"

namespace {

// A calibration take is a dozen strokes; a few minutes is plenty.
constexpr double maxCalibrationSeconds = 600.0;

bool loadCalibration(const ScoreOptions& options, const std::string& dataFolder, StrokeCalibration& calibration,
                     std::string& error) {
    if (!options.calibration.empty()) {
        std::vector<float> mono;
        TakeInfo info;
        if (!readMonoTake(options.calibration, maxCalibrationSeconds, mono, info, error)) return false;
        const CalibrationResult result = calibrateFromTake(mono.data(), mono.size(), info.rate);
        if (!result.ok) {
            error = options.calibration + ": not a calibration take: " + result.message;
            return false;
        }
        calibration = result.calibration;
        return true;
    }
    const std::string path = dataFolder + "soundFont/default.cal";
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    std::string problem;
    if (!readCalibration(text.str(), calibration, problem)) {
        error = path + ": " + problem;
        return false;
    }
    return true;
}

bool endless(const RenderPlan& plan) {
    for (const PlanEntry& entry : plan.entries)
        if (entry.passes <= 0) return true;
    return false;
}

}  // namespace

bool scoreTakeFile(const ScoreOptions& options, const std::string& dataFolder, ScoredTake& result,
                   std::vector<std::string>& warnings, std::string& error) {
    result = ScoredTake{};
    result.tolerance = options.tolerance;
    result.defaultCalibration = options.calibration.empty();

    // The plan on the take's own frames, and long enough for an endless entry to be scored
    // as far as the take goes.
    TakeInfo info;
    if (!takeInfo(options.take, info, error)) return false;
    PlanSettings settings;
    settings.tempo = options.tempo;
    settings.repeats = options.repeats;
    settings.countInBeats = options.countInBeats;
    settings.ladder = options.ladder;
    settings.silent = options.silent;
    settings.rate = info.rate;
    settings.limitFrames = std::max<int64_t>(info.frames, 1);
    RenderPlan plan;
    if (!loadPlan(options.input, settings, plan, warnings, error)) return false;
    result.entries = plan.entries.size();

    StrokeCalibration calibration;
    if (!loadCalibration(options, dataFolder, calibration, error)) return false;
    std::vector<HeardStroke> heard;
    if (!listenToTake(options.take, calibration, result.take, heard, error)) return false;
    for (const HeardStroke& stroke : heard)
        result.heard.push_back(HeardAt{static_cast<double>(stroke.frame) / result.take.rate, stroke.kind});

    // An endless plan is walked as far as the take could reach with the first step at its
    // start, or at --start when that lies before the take began.
    const double takeSeconds = static_cast<double>(result.take.frames) / result.take.rate;
    int64_t end = std::numeric_limits<int64_t>::max();
    if (endless(plan)) {
        const double before = options.start ? std::max(0.0, -*options.start) : 0.0;
        end = countInFrames(plan) + static_cast<int64_t>(std::ceil((takeSeconds + before) * plan.rate)) + 1;
    }
    DueStrokes due;
    if (!dueStrokes(plan, end, maxScoredStrokes, due)) {
        error = options.input + ": more than " + std::to_string(maxScoredStrokes) + " strokes to score";
        return false;
    }

    if (options.start) {
        result.start = *options.start;
    } else {
        const GridFit fit = fitGrid(due.strokes, result.heard, options.tolerance);
        result.start = fit.start;
        result.fitted = fit.fitted;
    }
    for (std::size_t i = 0; i < due.strokes.size(); ++i) {
        ExpectedStroke stroke = due.strokes[i];
        stroke.time += result.start;
        if (endless(plan) && stroke.time > takeSeconds) break;
        result.expected.push_back(stroke);
        result.entryOf.push_back(due.entries[i]);
    }
    result.score = scoreTake(result.expected, result.heard, options.tolerance, std::numeric_limits<double>::infinity());
    return true;
}
