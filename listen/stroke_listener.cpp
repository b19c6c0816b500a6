#include "listen/stroke_listener.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::size_t historySize = 16384;  // over the detector's latency, a window and a block
constexpr std::size_t chunk = 1024;         // blocks are taken this much at a time
constexpr std::size_t pendingLimit = 64;

}  // namespace

StrokeListener::StrokeListener(int rate, const StrokeCalibration& calibration)
    : calibration_(calibration),
      detector_(OnsetSettings{rate, 0.04}),
      meter_(rate),
      history_(historySize, 0.f),
      window_(meter_.windowFrames(), 0.f),
      before_(meter_.windowFrames(), 0.f) {
    pending_.reserve(pendingLimit);
    found_.reserve(pendingLimit);
}

void StrokeListener::feed(const float* mono, std::size_t count, std::vector<HeardStroke>& heard) {
    // A piece at a time, so an onset's window is still in the history when it is measured
    // however large the block.
    while (count > 0) {
        const std::size_t n = std::min(count, chunk);
        for (std::size_t i = 0; i < n; ++i) history_[std::size_t(fed_ + int64_t(i)) & (historySize - 1)] = mono[i];
        fed_ += int64_t(n);
        found_.clear();
        detector_.feed(mono, n, found_);
        for (const Onset& onset : found_)
            if (pending_.size() < pendingLimit) pending_.push_back(onset);
        emitReady(heard, false);
        mono += n;
        count -= n;
    }
}

void StrokeListener::flush(std::vector<HeardStroke>& heard) {
    found_.clear();
    detector_.flush(found_);
    for (const Onset& onset : found_)
        if (pending_.size() < pendingLimit) pending_.push_back(onset);
    emitReady(heard, true);
}

void StrokeListener::emitReady(std::vector<HeardStroke>& heard, bool ending) {
    const int64_t window = int64_t(meter_.windowFrames());
    std::size_t done = 0;
    for (; done < pending_.size(); ++done) {
        const Onset& onset = pending_[done];
        if (!ending && onset.frame + window > fed_) break;
        const int64_t oldest = fed_ - int64_t(historySize);
        if (onset.frame < oldest) continue;  // fell out of the history: the caller fell behind
        const std::size_t have = std::size_t(std::min(window, fed_ - onset.frame));
        float peak = 0.f;
        for (std::size_t i = 0; i < have; ++i) {
            const float x = history_[std::size_t(onset.frame + int64_t(i)) & (historySize - 1)];
            window_[i] = x;
            peak = std::max(peak, std::fabs(x));
        }
        const std::size_t beforeCount = std::size_t(std::min(window, onset.frame - oldest));
        for (std::size_t i = 0; i < beforeCount; ++i)
            before_[i] = history_[std::size_t(onset.frame - int64_t(beforeCount - i)) & (historySize - 1)];
        const StrokeFeatures features = meter_.measure(window_.data(), have, before_.data(), beforeCount);
        const StrokeGuess guess = classifyStroke(calibration_, features);
        heard.push_back(HeardStroke{onset.frame, guess.kind, guess.confidence,
                                    peak > 0 ? 20.f * std::log10(peak) : -200.f});
    }
    pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(done));
}

int64_t StrokeListener::latencyFrames() const {
    return std::max(detector_.latencyFrames(), int64_t(meter_.windowFrames()));
}

int64_t StrokeListener::framesFed() const { return fed_; }

void StrokeListener::reset() {
    detector_.reset();
    std::fill(history_.begin(), history_.end(), 0.f);
    fed_ = 0;
    pending_.clear();
}
