// Matching heard onsets to due strokes, and a pass's score in a few words.
#include "listen/take_matcher.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// Indices of items ordered by their time, ties kept in their given order.
template <typename T>
std::vector<std::size_t> byTime(std::span<const T> items) {
    std::vector<std::size_t> order(items.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return items[a].time < items[b].time; });
    return order;
}

// A stroke's window: from lo (included) to hi (left out), in seconds.
struct Window {
    double lo = 0;
    double hi = 0;
};

// Whether onset a is a better match than onset b for a stroke.
bool better(const ExpectedStroke& due, const HeardAt& a, const HeardAt& b, double onTime) {
    const double distanceA = std::abs(a.time - due.time), distanceB = std::abs(b.time - due.time);
    const bool goodA = a.kind == due.kind && distanceA <= onTime;
    const bool goodB = b.kind == due.kind && distanceB <= onTime;
    if (goodA != goodB) return goodA;
    return distanceA < distanceB;
}

Verdict judge(const ExpectedStroke& due, StrokeKind heard, double offsetMs, double onTime) {
    if (heard != due.kind) return Verdict::Wrong;
    if (std::abs(offsetMs) <= onTime) return Verdict::OnTime;
    return offsetMs < 0 ? Verdict::Early : Verdict::Late;
}

ScoreSummary summarise(const TakeScore& score) {
    ScoreSummary summary;
    double sum = 0, squares = 0;
    int matched = 0;
    for (const StrokeResult& stroke : score.strokes) {
        switch (stroke.verdict) {
            case Verdict::Pending: continue;
            case Verdict::OnTime: ++summary.onTime; break;
            case Verdict::Early: ++summary.early; break;
            case Verdict::Late: ++summary.late; break;
            case Verdict::Wrong: ++summary.wrong; break;
            case Verdict::Missed: ++summary.missed; break;
        }
        ++summary.strokes;
        // A wrong stroke is no timing error: its offset says nothing of the learner's time.
        if (stroke.verdict != Verdict::Wrong && stroke.heard) {
            sum += stroke.offsetMs;
            squares += stroke.offsetMs * stroke.offsetMs;
            ++matched;
        }
    }
    summary.extra = static_cast<int>(score.extras.size());
    if (matched > 0) {
        summary.meanOffsetMs = sum / matched;
        summary.spreadMs = std::sqrt(std::max(0.0, squares / matched - summary.meanOffsetMs * summary.meanOffsetMs));
    }
    return summary;
}

}  // namespace

double onTimeMs(Tolerance tolerance) {
    switch (tolerance) {
        case Tolerance::Strict: return 10.0;
        case Tolerance::Normal: return 20.0;
        case Tolerance::Relaxed: return 35.0;
    }
    return 20.0;
}

const char* verdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::Pending: return "pending";
        case Verdict::OnTime: return "on time";
        case Verdict::Early: return "early";
        case Verdict::Late: return "late";
        case Verdict::Wrong: return "wrong";
        case Verdict::Missed: return "missed";
    }
    return "pending";
}

TakeScore scoreTake(std::span<const ExpectedStroke> expected, std::span<const HeardAt> heard,
                    Tolerance tolerance, double now) {
    const double reach = maxMatchMs / 1000.0;
    const double onTime = onTimeMs(tolerance) / 1000.0;
    const std::vector<std::size_t> due = byTime(expected);
    const std::vector<std::size_t> onsets = byTime(heard);

    // Windows in due order: up to reach either way, never past half-way to a neighbour.
    std::vector<Window> windows(due.size());
    for (std::size_t k = 0; k < due.size(); ++k) {
        const double t = expected[due[k]].time;
        windows[k].lo = k > 0 ? std::max(t - reach, (expected[due[k - 1]].time + t) / 2) : t - reach;
        windows[k].hi = k + 1 < due.size() ? std::min(t + reach, (t + expected[due[k + 1]].time) / 2) : t + reach;
    }

    // Each onset can only be in the window of the due stroke nearest it; walk both in time
    // order and let each stroke keep its best onset.
    std::vector<int64_t> taken(due.size(), -1);
    std::vector<bool> used(heard.size(), false);
    std::size_t k = 0;
    for (const std::size_t j : onsets) {
        const HeardAt& onset = heard[j];
        while (k < due.size() && windows[k].hi <= onset.time) ++k;
        if (k == due.size() || onset.time < windows[k].lo) continue;
        const ExpectedStroke& stroke = expected[due[k]];
        if (taken[k] < 0 || better(stroke, onset, heard[static_cast<std::size_t>(taken[k])], onTime)) taken[k] = int64_t(j);
    }

    TakeScore score;
    score.strokes.resize(expected.size());
    for (std::size_t n = 0; n < due.size(); ++n) {
        const ExpectedStroke& stroke = expected[due[n]];
        StrokeResult& result = score.strokes[due[n]];
        if (taken[n] < 0) {
            result.verdict = windows[n].hi > now ? Verdict::Pending : Verdict::Missed;
            continue;
        }
        const HeardAt& onset = heard[static_cast<std::size_t>(taken[n])];
        used[static_cast<std::size_t>(taken[n])] = true;
        result.heard = onset.kind;
        result.heardIndex = taken[n];
        result.offsetMs = (onset.time - stroke.time) * 1000.0;
        result.verdict = judge(stroke, onset.kind, result.offsetMs, onTimeMs(tolerance));
    }
    for (const std::size_t j : onsets)
        if (!used[j]) score.extras.push_back(int64_t(j));
    score.summary = summarise(score);
    return score;
}

std::string passSummaryText(const ScoreSummary& summary) {
    if (summary.strokes <= 0) return {};
    std::string text = std::to_string(summary.onTime) + " OF " + std::to_string(summary.strokes) + " ON TIME";
    const auto add = [&text](const std::string& part) {
        if (text.size() + 2 + part.size() > passSummaryLength) return false;
        text += "  " + part;
        return true;
    };
    // What went wrong outright tells the learner more than how the rest leaned.
    if (summary.missed > 0) add(std::to_string(summary.missed) + " MISSED");
    if (summary.wrong > 0) add(std::to_string(summary.wrong) + " WRONG");
    if (summary.onTime + summary.early + summary.late == 0) return text;  // no timing to tell
    const long lean = std::lround(std::abs(summary.meanOffsetMs));
    const long spread = std::lround(summary.spreadMs);
    const std::string leaning = lean == 0 ? std::string("ON THE BEAT")
                                          : std::string(summary.meanOffsetMs < 0 ? "EARLY " : "LATE ") +
                                                std::to_string(lean);
    if (!add(leaning + "  SPREAD " + std::to_string(spread) + " MS")) add(lean == 0 ? leaning : leaning + " MS");
    return text;
}
