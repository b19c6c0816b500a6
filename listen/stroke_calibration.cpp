#include "listen/stroke_calibration.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "listen/onset_detector.h"

namespace {

constexpr int strokesPerKind = 4;
constexpr double leastGapSeconds = 0.3;  // asked for half a second; a little hurry is forgiven
// A few strokes measure a spread poorly; below these it is taken to be noise in the estimate.
constexpr float spreadFloor[strokeFeatureCount] = {0.2f, 0.2f, 0.2f, 0.2f, 0.2f, 0.2f, 0.2f};
constexpr const char* kindNames[strokeKindCount] = {"doum", "tek", "slap"};
constexpr const char* kindPlurals[strokeKindCount] = {"doums", "teks", "slaps"};

// Root mean square of the features' distances from a kind's means, in its spreads.
float distanceTo(const StrokeModel& model, const StrokeFeatures& features) {
    float sum = 0.f;
    for (int i = 0; i < strokeFeatureCount; ++i) {
        const float d = (features[i] - model.mean[i]) / model.spread[i];
        sum += d * d;
    }
    return std::sqrt(sum / strokeFeatureCount);
}

std::string strokeCountText(std::size_t count) {
    if (count == 0) return "Heard no strokes";
    return "Heard " + std::to_string(count) + (count == 1 ? " stroke" : " strokes");
}

}  // namespace

StrokeGuess classifyStroke(const StrokeCalibration& calibration, const StrokeFeatures& features) {
    float best = 1e30f, second = 1e30f;
    int bestKind = 0;
    for (int k = 0; k < strokeKindCount; ++k) {
        const float d = distanceTo(calibration.kinds[k], features);
        if (d < best) {
            second = best;
            best = d;
            bestKind = k;
        } else if (d < second) {
            second = d;
        }
    }
    // Sure when the nearest kind is much nearer than the next, and near in itself: three
    // spreads away still belongs to it; beyond that confidence falls.
    float confidence = second > 0 ? 1.f - best / second : 0.f;
    if (best > 3.f) confidence *= 3.f / best;
    return StrokeGuess{StrokeKind(bestKind), std::clamp(confidence, 0.f, 1.f)};
}

StrokeModel strokeModelOf(const StrokeFeatures* strokes, std::size_t count) {
    StrokeModel model;
    model.count = int(count);
    for (int i = 0; i < strokeFeatureCount; ++i) {
        double sum = 0;
        for (std::size_t s = 0; s < count; ++s) sum += strokes[s][i];
        const double mean = count ? sum / double(count) : 0.0;
        double squares = 0;
        for (std::size_t s = 0; s < count; ++s) squares += (strokes[s][i] - mean) * (strokes[s][i] - mean);
        const double spread = count > 1 ? std::sqrt(squares / double(count - 1)) : 0.0;
        model.mean[i] = float(mean);
        model.spread[i] = std::max(spreadFloor[i], float(spread));
    }
    return model;
}

CalibrationResult calibrateFromTake(const float* mono, std::size_t count, int rate) {
    CalibrationResult result;
    const std::string request =
        "; play four doums, then four teks, then four slaps, each at least half a second apart.";
    OnsetDetector detector(OnsetSettings{rate, 0.04});
    std::vector<Onset> onsets;
    detector.feed(mono, count, onsets);
    detector.flush(onsets);
    if (onsets.size() != std::size_t(strokesPerKind * strokeKindCount)) {
        result.message = strokeCountText(onsets.size()) + request;
        return result;
    }
    for (std::size_t i = 1; i < onsets.size(); ++i) {
        if (double(onsets[i].frame - onsets[i - 1].frame) < leastGapSeconds * rate) {
            result.message = "Strokes " + std::to_string(i) + " and " + std::to_string(i + 1) +
                             " came too close together" + request;
            return result;
        }
    }

    StrokeFeatureMeter meter(rate);
    std::vector<StrokeFeatures> features;
    for (const Onset& onset : onsets) {
        const std::size_t from = std::size_t(onset.frame);
        const std::size_t before = std::min(meter.windowFrames(), from);
        features.push_back(meter.measure(mono + from, std::min(meter.windowFrames(), count - from),
                                         mono + from - before, before));
    }
    StrokeCalibration& cal = result.calibration;
    cal.rate = rate;
    cal.learner = true;
    for (int k = 0; k < strokeKindCount; ++k)
        cal.kinds[k] = strokeModelOf(&features[k * strokesPerKind], strokesPerKind);

    // Each stroke has to be told right by the others of its kind alone, or the two kinds it
    // wavers between are too alike on this drum (or were played the wrong way round).
    for (int k = 0; k < strokeKindCount; ++k) {
        for (int s = 0; s < strokesPerKind; ++s) {
            StrokeFeatures others[strokesPerKind - 1];
            for (int o = 0, n = 0; o < strokesPerKind; ++o)
                if (o != s) others[n++] = features[k * strokesPerKind + o];
            StrokeCalibration without = cal;
            without.kinds[k] = strokeModelOf(others, strokesPerKind - 1);
            const StrokeKind heard = classifyStroke(without, features[k * strokesPerKind + s]).kind;
            if (int(heard) != k) {
                result.message = std::string("The ") + kindPlurals[k] + " and the " +
                                 kindPlurals[int(heard)] +
                                 " sounded too alike to tell apart; play doums in the middle "
                                 "of the head, teks at the rim and slaps with a flat hand, and "
                                 "calibrate again.";
                return result;
            }
        }
    }
    result.ok = true;
    result.message = "Calibrated from 12 strokes.";
    return result;
}

std::string calibrationText(const StrokeCalibration& calibration) {
    std::string text = "tabladex-calibration 1\n";
    text += "rate " + std::to_string(calibration.rate) + "\n";
    text += std::string("learner ") + (calibration.learner ? "1" : "0") + "\n";
    char number[32];
    for (int k = 0; k < strokeKindCount; ++k) {
        const StrokeModel& model = calibration.kinds[k];
        text += std::string(kindNames[k]) + " " + std::to_string(model.count);
        for (const StrokeFeatures* values : {&model.mean, &model.spread}) {
            for (float v : *values) {
                std::snprintf(number, sizeof number, " %.6g", double(v));
                text += number;
            }
        }
        text += "\n";
    }
    text += "end\n";
    return text;
}

namespace {

std::vector<std::string_view> fieldsOf(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

bool parseInt(std::string_view field, int& out) {
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), out);
    return ec == std::errc() && end == field.data() + field.size();
}

// Floats parsed by hand from a double's digits: from_chars for floating point is missing in
// some of the C++ libraries we build with.
bool parseFloat(std::string_view field, float& out) {
    const std::string copy(field);
    double value = 0;
    int used = 0;
    if (std::sscanf(copy.c_str(), "%lf%n", &value, &used) != 1 || used != int(copy.size()))
        return false;
    if (!std::isfinite(value) || std::fabs(value) > 1e6) return false;
    out = float(value);
    return true;
}

}  // namespace

bool readCalibration(std::string_view text, StrokeCalibration& out, std::string& error) {
    StrokeCalibration cal;
    bool seen[strokeKindCount] = {false, false, false};
    bool header = false, rate = false, learner = false, ended = false;
    int lineNumber = 0;
    auto fail = [&](const std::string& what) {
        error = "line " + std::to_string(lineNumber) + ": " + what;
        return false;
    };
    std::size_t pos = 0;
    while (pos < text.size() && !ended) {
        std::size_t next = text.find('\n', pos);
        if (next == std::string_view::npos) next = text.size();
        const std::string_view line = text.substr(pos, next - pos);
        pos = next + 1;
        ++lineNumber;
        const auto fields = fieldsOf(line);
        if (fields.empty() || fields[0][0] == '#') continue;
        const std::string_view key = fields[0];
        if (!header) {
            if (key != "tabladex-calibration") return fail("not a stroke calibration");
            if (fields.size() != 2 || fields[1] != "1") return fail("a version this program does not read");
            header = true;
        } else if (key == "rate") {
            if (fields.size() != 2 || !parseInt(fields[1], cal.rate) || cal.rate < 8000 || cal.rate > 384000)
                return fail("a rate from 8000 to 384000 expected");
            rate = true;
        } else if (key == "learner") {
            if (fields.size() != 2 || (fields[1] != "0" && fields[1] != "1"))
                return fail("learner 0 or 1 expected");
            cal.learner = fields[1] == "1";
            learner = true;
        } else if (key == "end") {
            ended = true;
        } else {
            int kind = 0;
            while (kind < strokeKindCount && key != kindNames[kind]) ++kind;
            if (kind == strokeKindCount) return fail("unknown record '" + std::string(key) + "'");
            if (fields.size() != std::size_t(2 + 2 * strokeFeatureCount))
                return fail(std::string(kindNames[kind]) + ": a count, " +
                            std::to_string(strokeFeatureCount) + " means and " +
                            std::to_string(strokeFeatureCount) + " spreads expected");
            StrokeModel& model = cal.kinds[kind];
            if (!parseInt(fields[1], model.count) || model.count < 1)
                return fail(std::string(kindNames[kind]) + ": a stroke count of one or more expected");
            for (int i = 0; i < strokeFeatureCount; ++i) {
                if (!parseFloat(fields[2 + i], model.mean[i]) ||
                    !parseFloat(fields[2 + strokeFeatureCount + i], model.spread[i]) ||
                    !(model.spread[i] > 0))
                    return fail(std::string(kindNames[kind]) + ": a number out of place");
            }
            seen[kind] = true;
        }
    }
    if (!header) return fail("empty");
    if (!ended) return fail("cut short: no end line");
    if (!rate || !learner) return fail("the rate or the learner line is missing");
    for (int k = 0; k < strokeKindCount; ++k)
        if (!seen[k]) return fail(std::string("no ") + kindNames[k] + " record");
    out = cal;
    return true;
}
