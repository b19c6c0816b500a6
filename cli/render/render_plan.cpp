// The render's grid: exact step frames, the seams between entries and the length.
#include "cli/render/render_plan.h"

#include <algorithm>
#include <cmath>

#include "rhythm/entry_timing.h"
#include "rhythm/rhythm_file.h"

namespace {

StrokeSound strokeSoundOf(StepSound sound) {
    switch (sound) {
        case StepSound::Doum: return StrokeSound::Doum;
        case StepSound::Tek: return StrokeSound::Tek;
        case StepSound::HalfTek: return StrokeSound::HalfTek;
        case StepSound::Slap: return StrokeSound::Slap;
        case StepSound::None: break;
    }
    return StrokeSound::Doum;  // not reached: rests are never strokes
}

// Steps in an entry that ends; the passes of an endless entry count as one here.
int64_t stepsOf(const PlanEntry& entry) {
    return static_cast<int64_t>(entry.steps.size()) * std::max<int64_t>(entry.passes, 1);
}

int64_t countInFrames(const RenderPlan& plan) {
    if (plan.countInBeats <= 0 || plan.entries.empty()) return 0;
    return stepFrame(plan.countInBeats, plan.entries[0].tempo, 1, plan.rate);
}

// Where the entry after one that starts at `start` starts.
int64_t nextEntryStart(const PlanEntry& entry, int64_t start, int32_t rate) {
    return start + stepFrame(stepsOf(entry) - 1, entry.tempo, entry.subdivision, rate) +
           seamFrames(entry.tempo, entry.subdivision, rate);
}

}  // namespace

int64_t stepFrame(int64_t step, int32_t tempo, int32_t subdivision, int32_t rate) {
    // step * 60 * rate needs more than 64 bits for the longest renders of the fastest rates.
    const __int128 numerator = static_cast<__int128>(step) * 60 * rate;
    const __int128 denominator = static_cast<__int128>(tempo) * subdivision;
    return static_cast<int64_t>((2 * numerator + denominator) / (2 * denominator));
}

int64_t seamFrames(int32_t tempo, int32_t subdivision, int32_t rate) {
    const double delay = nextEntryDelay(stepTimeFor(tempo, subdivision));
    // A delay of one step is the grid's own step, not a second rounding of it.
    if (delay > entryBreathSeconds) return stepFrame(1, tempo, subdivision, rate);
    return std::llround(delay * rate);
}

int64_t naturalLength(const RenderPlan& plan, const std::array<int64_t, strokeSoundCount>& soundFrames,
                      int64_t bound) {
    int64_t end = 0;
    // The count-in's clicks ring out like strokes.
    for (int32_t beat = 0; beat < plan.countInBeats && !plan.entries.empty(); ++beat) {
        const bool accent = beat == 0;
        const int64_t at = stepFrame(beat, plan.entries[0].tempo, 1, plan.rate);
        end = std::max(end, at + soundFrames[int(accent ? StrokeSound::AccentClick : StrokeSound::Click)]);
    }
    int64_t start = countInFrames(plan);
    for (std::size_t e = 0; e < plan.entries.size(); ++e) {
        const PlanEntry& entry = plan.entries[e];
        // An entry that starts at the bound or never ends plays on past it: no need to walk on.
        if (start >= bound || entry.passes <= 0) return std::max(end, bound + 1);
        const int64_t steps = stepsOf(entry);
        const int64_t count = static_cast<int64_t>(entry.steps.size());
        // Each sound rings out from its last step in the last pass.
        for (int64_t i = 0; i < count; ++i) {
            if (entry.steps[i] == StepSound::None) continue;
            const int64_t at = start + stepFrame(steps - count + i, entry.tempo, entry.subdivision, plan.rate);
            end = std::max(end, at + soundFrames[int(strokeSoundOf(entry.steps[i]))]);
        }
        end = std::max(end, start + stepFrame(steps, entry.tempo, entry.subdivision, plan.rate));
        start = nextEntryStart(entry, start, plan.rate);
    }
    return end;
}

PlanPosition planPositionAt(const RenderPlan& plan, int64_t frame) {
    PlanPosition position;
    int64_t start = countInFrames(plan);
    if (plan.entries.empty() || frame < start) {
        position.countIn = true;
        return position;
    }
    for (; position.entry + 1 < plan.entries.size(); ++position.entry) {
        const PlanEntry& entry = plan.entries[position.entry];
        if (entry.passes <= 0) break;
        const int64_t next = nextEntryStart(entry, start, plan.rate);
        if (frame < next) break;
        start = next;
    }
    // The step sounding then: the last one that starts at or before the frame.
    const PlanEntry& entry = plan.entries[position.entry];
    const int64_t into = frame - start;
    int64_t step = static_cast<int64_t>(static_cast<__int128>(into) * entry.tempo * entry.subdivision /
                                        (int64_t(60) * plan.rate));
    while (step > 0 && stepFrame(step, entry.tempo, entry.subdivision, plan.rate) > into) --step;
    while (stepFrame(step + 1, entry.tempo, entry.subdivision, plan.rate) <= into) ++step;
    position.pass = step / static_cast<int64_t>(entry.steps.size()) + 1;
    return position;
}

StrokeTimeline::StrokeTimeline(const RenderPlan& plan, int64_t end)
    : plan_(plan), end_(end), entryStart_(countInFrames(plan)) {}

bool StrokeTimeline::next(Stroke& stroke) {
    if (click_ < plan_.countInBeats && !plan_.entries.empty()) {
        stroke.frame = stepFrame(click_, plan_.entries[0].tempo, 1, plan_.rate);
        stroke.sound = click_ == 0 ? StrokeSound::AccentClick : StrokeSound::Click;
        ++click_;
        return stroke.frame < end_;
    }
    while (entry_ < plan_.entries.size() && entryStart_ < end_) {
        const PlanEntry& entry = plan_.entries[entry_];
        const int64_t count = static_cast<int64_t>(entry.steps.size());
        const bool endless = entry.passes <= 0;
        while (endless || step_ < stepsOf(entry)) {
            const int64_t at = entryStart_ + stepFrame(step_, entry.tempo, entry.subdivision, plan_.rate);
            if (at >= end_) return false;
            const StepSound sound = entry.steps[static_cast<std::size_t>(step_ % count)];
            ++step_;
            if (sound == StepSound::None) continue;
            stroke = Stroke{at, strokeSoundOf(sound)};
            return true;
        }
        entryStart_ = nextEntryStart(entry, entryStart_, plan_.rate);
        step_ = 0;
        ++entry_;
    }
    return false;
}
