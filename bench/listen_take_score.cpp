// Scoring a take: true strokes against heard onsets.
#include "bench/listen_take_score.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>

void tallyTake(const std::vector<TrueStroke>& truth, const std::vector<HeardStroke>& heard,
               int rate, double windowMs, TakeTally& tally) {
    const int64_t window = std::llround(windowMs / 1000 * rate);
    // Every pair within the window, closest first; both lists are in order of frame, so each
    // true stroke only looks at the onsets near it.
    std::vector<std::tuple<int64_t, std::size_t, std::size_t>> pairs;
    std::size_t first = 0;
    for (std::size_t t = 0; t < truth.size(); ++t) {
        while (first < heard.size() && heard[first].frame < truth[t].frame - window) ++first;
        for (std::size_t h = first; h < heard.size() && heard[h].frame <= truth[t].frame + window; ++h)
            pairs.emplace_back(std::llabs(heard[h].frame - truth[t].frame), t, h);
    }
    std::sort(pairs.begin(), pairs.end());
    std::vector<bool> trueTaken(truth.size()), heardTaken(heard.size());
    for (const auto& [distance, t, h] : pairs) {
        if (trueTaken[t] || heardTaken[h]) continue;
        trueTaken[t] = heardTaken[h] = true;
        ++tally.found;
        tally.errorsMs.push_back(double(distance) * 1000.0 / rate);
        ++tally.confusion[std::size_t(truth[t].kind)][std::size_t(heard[h].kind)];
    }
    tally.truth += int64_t(truth.size());
    tally.heard += int64_t(heard.size());
    tally.falseHits += int64_t(std::count(heardTaken.begin(), heardTaken.end(), false));
}

TallySummary summarise(const TakeTally& tally) {
    TallySummary s;
    if (tally.truth > 0) {
        s.recall = double(tally.found) / double(tally.truth);
        s.falseHitsPer100 = 100.0 * double(tally.falseHits) / double(tally.truth);
    }
    if (tally.heard > 0) s.precision = double(tally.found) / double(tally.heard);
    if (!tally.errorsMs.empty()) {
        std::vector<double> e = tally.errorsMs;
        std::sort(e.begin(), e.end());
        s.medianMs = e[e.size() / 2];
        s.p95Ms = e[std::min(e.size() - 1, std::size_t(std::ceil(0.95 * double(e.size()))) - 1)];
        s.maxMs = e.back();
    }
    int64_t right = 0;
    for (int k = 0; k < strokeKindCount; ++k) right += tally.confusion[k][k];
    if (tally.found > 0) s.strokeAccuracy = double(right) / double(tally.found);
    if (tally.audioSeconds > 0) {
        s.listenerUsPerSecond = tally.listenerCpuSeconds * 1e6 / tally.audioSeconds;
        s.removerUsPerSecond = tally.removerCpuSeconds * 1e6 / tally.audioSeconds;
    }
    return s;
}
