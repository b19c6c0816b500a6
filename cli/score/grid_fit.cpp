// Fitting the grid to a take by votes, then by the matched strokes' mean offset.
#include "cli/score/grid_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double binSeconds = 0.005;
constexpr int smoothBins = 4;     // a vote counts for shifts within 20 ms: a learner's scatter
constexpr int candidates = 5;     // best-supported shifts refined
constexpr int apartBins = 20;     // candidates at least 100 ms apart
constexpr int refinements = 8;

struct Quality {
    int rightKind = 0;
    double squares = 0;
    bool betterThan(const Quality& other) const {
        return rightKind != other.rightKind ? rightKind > other.rightKind : squares < other.squares;
    }
};

// Matches at a shift; the matched strokes' mean offset in seconds, and how good the match is.
double meanOffsetAt(std::span<const ExpectedStroke> due, std::span<const HeardAt> heard, Tolerance tolerance,
                    double shift, std::vector<ExpectedStroke>& moved, Quality& quality) {
    moved.assign(due.begin(), due.end());
    for (ExpectedStroke& stroke : moved) stroke.time += shift;
    const TakeScore score = scoreTake(moved, heard, tolerance, std::numeric_limits<double>::infinity());
    quality = Quality{};
    for (const StrokeResult& result : score.strokes) {
        if (!result.heard || result.verdict == Verdict::Wrong) continue;
        ++quality.rightKind;
        quality.squares += result.offsetMs * result.offsetMs;
    }
    return score.summary.meanOffsetMs / 1000.0;
}

}  // namespace

GridFit fitGrid(std::span<const ExpectedStroke> due, std::span<const HeardAt> heard, Tolerance tolerance) {
    if (due.empty() || heard.empty()) return {};
    double lowest = std::numeric_limits<double>::infinity(), highest = -lowest;
    for (const HeardAt& h : heard) lowest = std::min(lowest, h.time), highest = std::max(highest, h.time);
    double dueFirst = std::numeric_limits<double>::infinity(), dueLast = -dueFirst;
    for (const ExpectedStroke& e : due) dueFirst = std::min(dueFirst, e.time), dueLast = std::max(dueLast, e.time);
    // Every shift a pair can vote for lies between these.
    const double from = lowest - dueLast - binSeconds, to = highest - dueFirst + binSeconds;
    const std::size_t bins = static_cast<std::size_t>((to - from) / binSeconds) + 1;
    std::vector<int> votes(bins, 0);
    bool anyPair = false;
    for (const HeardAt& h : heard)
        for (const ExpectedStroke& e : due)
            if (h.kind == e.kind) {
                ++votes[static_cast<std::size_t>((h.time - e.time - from) / binSeconds)];
                anyPair = true;
            }
    if (!anyPair) return {};
    std::vector<int> support(bins, 0);
    int running = 0;
    for (std::size_t b = 0; b < bins + smoothBins; ++b) {
        if (b < bins) running += votes[b];
        if (b >= 2 * smoothBins + 1) running -= votes[b - 2 * smoothBins - 1];
        if (b >= static_cast<std::size_t>(smoothBins)) support[b - smoothBins] = running;
    }

    GridFit best{true, 0};
    Quality bestQuality{-1, 0};
    std::vector<ExpectedStroke> moved;
    for (int c = 0; c < candidates; ++c) {
        const auto peak = std::max_element(support.begin(), support.end());
        if (*peak <= 0) break;
        const std::size_t at = static_cast<std::size_t>(peak - support.begin());
        for (std::size_t b = at > apartBins ? at - apartBins : 0; b < std::min(bins, at + apartBins + 1); ++b)
            support[b] = 0;
        double shift = from + (static_cast<double>(at) + 0.5) * binSeconds;
        Quality quality;
        for (int r = 0; r < refinements; ++r) {
            const double mean = meanOffsetAt(due, heard, tolerance, shift, moved, quality);
            shift += mean;
            if (std::abs(mean) < 1e-7) break;
        }
        meanOffsetAt(due, heard, tolerance, shift, moved, quality);
        if (quality.betterThan(bestQuality)) best.start = shift, bestQuality = quality;
    }
    return best;
}
