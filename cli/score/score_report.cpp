// Printing a scored take.
#include "cli/score/score_report.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace {

std::string format(const char* pattern, ...) {
    va_list args, again;
    va_start(args, pattern);
    va_copy(again, args);
    std::string text(static_cast<std::size_t>(std::max(0, std::vsnprintf(nullptr, 0, pattern, args))), '\0');
    va_end(args);
    std::vsnprintf(text.data(), text.size() + 1, pattern, again);
    va_end(again);
    return text;
}

std::string letter(StrokeKind kind) { return std::string(1, strokeLetter(kind)); }

// "+3.2", "-0.4", "0.0": the sign says late or early.
std::string signedMs(double ms) {
    const double shown = std::round(ms * 10.0) / 10.0;
    return shown == 0.0 ? std::string("0.0") : format("%+.1f", shown);
}

std::string summaryText(const ScoreSummary& s, Tolerance tolerance) {
    std::string text = format("%d strokes: %d on time (within %g ms), %d early, %d late, %d wrong, %d missed; %d extra\n",
                              s.strokes, s.onTime, onTimeMs(tolerance), s.early, s.late, s.wrong, s.missed, s.extra);
    const int right = s.onTime + s.early + s.late;
    if (right > 0)
        text += format("mean offset %s ms, spread %.1f ms, over the %d right strokes\n", signedMs(s.meanOffsetMs).c_str(),
                       s.spreadMs, right);
    return text;
}

}  // namespace

std::string scoreText(const ScoredTake& scored, const std::string& input, const std::string& take) {
    std::string text = format("%s played in %s (%d Hz, %.3f s), tolerance %s\n", input.c_str(), take.c_str(),
                              scored.take.rate, static_cast<double>(scored.take.frames) / std::max(1, scored.take.rate),
                              toleranceName(scored.tolerance));
    if (scored.fitted)
        text += format("first step at %.3f s, fitted to the strokes heard: a constant lead or lag does not show\n",
                       scored.start);
    else if (scored.heard.empty())
        text += format("first step at %.3f s; no strokes heard\n", scored.start);
    else text += format("first step at %.3f s\n", scored.start);
    if (scored.defaultCalibration) text += "strokes told apart by the default calibration\n";
    text += "\n";

    const bool entries = scored.entries > 1;
    text += entries ? "entry  pass  step    due s  expected  heard  offset ms  verdict\n"
                    : "pass  step    due s  expected  heard  offset ms  verdict\n";
    for (std::size_t i = 0; i < scored.expected.size(); ++i) {
        const ExpectedStroke& due = scored.expected[i];
        const StrokeResult& result = scored.score.strokes[i];
        if (entries) text += format("%5zu  ", scored.entryOf[i] + 1);
        text += format("%4lld  %4d  %7.3f  %-8s  %-5s  %9s  %s\n", static_cast<long long>(due.pass), due.step, due.time,
                       letter(due.kind).c_str(), result.heard ? letter(*result.heard).c_str() : "-",
                       result.heard ? signedMs(result.offsetMs).c_str() : "-", verdictName(result.verdict));
    }
    if (!scored.score.extras.empty()) {
        text += "\nextra strokes heard:\n";
        for (const int64_t j : scored.score.extras) {
            const HeardAt& h = scored.heard[static_cast<std::size_t>(j)];
            text += format("  %8.3f s  %s\n", h.time, letter(h.kind).c_str());
        }
    }
    text += "\n" + summaryText(scored.score.summary, scored.tolerance);
    return text;
}

std::string scoreJson(const ScoredTake& scored) {
    std::string text = format("{\"start_s\": %.6f, \"fitted\": %s, \"tolerance_ms\": %g,\n \"strokes\": [", scored.start,
                              scored.fitted ? "true" : "false", onTimeMs(scored.tolerance));
    for (std::size_t i = 0; i < scored.expected.size(); ++i) {
        const ExpectedStroke& due = scored.expected[i];
        const StrokeResult& result = scored.score.strokes[i];
        text += format("%s\n  {\"entry\": %zu, \"pass\": %lld, \"step\": %d, \"time_s\": %.6f, \"expected\": \"%c\", ",
                       i ? "," : "", scored.entryOf[i] + 1, static_cast<long long>(due.pass), due.step, due.time,
                       strokeLetter(due.kind));
        if (result.heard)
            text += format("\"heard\": \"%c\", \"offset_ms\": %.3f, ", strokeLetter(*result.heard), result.offsetMs);
        else text += "\"heard\": null, \"offset_ms\": null, ";
        text += format("\"verdict\": \"%s\"}", verdictName(result.verdict));
    }
    text += "],\n \"extra\": [";
    for (std::size_t k = 0; k < scored.score.extras.size(); ++k) {
        const HeardAt& h = scored.heard[static_cast<std::size_t>(scored.score.extras[k])];
        text += format("%s\n  {\"time_s\": %.6f, \"heard\": \"%c\"}", k ? "," : "", h.time, strokeLetter(h.kind));
    }
    const ScoreSummary& s = scored.score.summary;
    text += format("],\n \"summary\": {\"strokes\": %d, \"on_time\": %d, \"early\": %d, \"late\": %d, \"wrong\": %d, "
                   "\"missed\": %d, \"extra\": %d, \"mean_offset_ms\": %.3f, \"spread_ms\": %.3f}}\n",
                   s.strokes, s.onTime, s.early, s.late, s.wrong, s.missed, s.extra, s.meanOffsetMs, s.spreadMs);
    return text;
}
