// The render's grid: exact step frames, the seams between entries and the length.
#include "cli/render/render_plan.h"

#include <algorithm>
#include <cmath>
#include <limits>

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

int64_t countOf(const PlanEntry& entry) { return static_cast<int64_t>(entry.steps.size()); }

// The count-in clicks at the tempo the first entry starts at.
int32_t countInTempo(const RenderPlan& plan) { return passTempo(plan, plan.entries[0], 1); }

// Frames from a rung's start to the next rung's: its step count on its own grid.
int64_t rungFrames(const PlanEntry& entry, const PlanRung& rung, int32_t rate) {
    return stepFrame(rung.passes * countOf(entry), rung.tempo, entry.subdivision, rate);
}

// Whether no rung follows this one in its entry.
bool lastRung(const PlanEntry& entry, const PlanRung& rung) {
    return rung.passes <= 0 || (entry.passes > 0 && rung.firstPass + rung.passes > entry.passes);
}

// A rung and its first frame.
struct PlacedRung {
    PlanRung rung;
    int64_t start = 0;
};

// The rung playing pass `pass` of an entry that starts at `start`.
PlacedRung rungOfPass(const RenderPlan& plan, const PlanEntry& entry, int64_t start, int64_t pass) {
    PlacedRung at{rungFrom(plan, entry, 1), start};
    while (at.rung.passes > 0 && at.rung.firstPass + at.rung.passes <= pass) {
        at.start += rungFrames(entry, at.rung, plan.rate);
        at.rung = rungFrom(plan, entry, at.rung.firstPass + at.rung.passes);
    }
    return at;
}

// Where the entry after one that ends starts, when the entry starts at `start`: its last
// step on its last rung's grid, then the seam at that rung's tempo.
int64_t nextEntryStart(const RenderPlan& plan, const PlanEntry& entry, int64_t start) {
    const PlacedRung last = rungOfPass(plan, entry, start, entry.passes);
    return last.start +
           stepFrame(last.rung.passes * countOf(entry) - 1, last.rung.tempo, entry.subdivision, plan.rate) +
           seamFrames(last.rung.tempo, entry.subdivision, plan.rate);
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

int64_t countInFrames(const RenderPlan& plan) {
    if (plan.countInBeats <= 0 || plan.entries.empty()) return 0;
    return stepFrame(plan.countInBeats, countInTempo(plan), 1, plan.rate);
}

int32_t passTempo(const RenderPlan& plan, const PlanEntry& entry, int64_t pass) {
    return plan.ladder.start > 0 ? ladderTempo(plan.ladder, pass) : entry.tempo;
}

PlanRung rungFrom(const RenderPlan& plan, const PlanEntry& entry, int64_t firstPass) {
    PlanRung rung{firstPass, 0, passTempo(plan, entry, firstPass)};
    // A ladder's tempo moves one way only, so the passes at one tempo are a run, and a
    // binary search finds its last pass; for an endless entry, up to a pass no render reaches.
    const int64_t last = entry.passes > 0 ? entry.passes : std::numeric_limits<int64_t>::max() / 2;
    int64_t low = firstPass, high = last;
    while (low < high) {
        const int64_t middle = low + (high - low + 1) / 2;
        if (passTempo(plan, entry, middle) == rung.tempo) low = middle;
        else high = middle - 1;
    }
    rung.passes = entry.passes <= 0 && low == last ? 0 : low - firstPass + 1;
    return rung;
}

int64_t naturalLength(const RenderPlan& plan, const std::array<int64_t, strokeSoundCount>& soundFrames,
                      int64_t bound) {
    int64_t end = 0;
    // The count-in's clicks ring out like strokes.
    for (int32_t beat = 0; beat < plan.countInBeats && !plan.entries.empty(); ++beat) {
        const bool accent = beat == 0;
        const int64_t at = stepFrame(beat, countInTempo(plan), 1, plan.rate);
        end = std::max(end, at + soundFrames[int(accent ? StrokeSound::AccentClick : StrokeSound::Click)]);
    }
    int64_t start = countInFrames(plan);
    for (std::size_t e = 0; e < plan.entries.size(); ++e) {
        const PlanEntry& entry = plan.entries[e];
        // An entry that starts at the bound or never ends plays on past it: no need to walk on.
        if (start >= bound || entry.passes <= 0) return std::max(end, bound + 1);
        const int64_t count = countOf(entry);
        // Each sound rings out from its last step in the last pass that sounds (at most REST
        // passes before the last).
        int64_t pass = entry.passes;
        while (pass > 1 && !passSounds(plan.silent, pass)) --pass;
        const PlacedRung sounding = rungOfPass(plan, entry, start, pass);
        for (int64_t i = 0; i < count; ++i) {
            if (entry.steps[i] == StepSound::None) continue;
            const int64_t step = (pass - sounding.rung.firstPass) * count + i;
            const int64_t at = sounding.start + stepFrame(step, sounding.rung.tempo, entry.subdivision, plan.rate);
            end = std::max(end, at + soundFrames[int(strokeSoundOf(entry.steps[i]))]);
        }
        const PlacedRung last = rungOfPass(plan, entry, start, entry.passes);
        end = std::max(end, last.start + rungFrames(entry, last.rung, plan.rate));
        start = nextEntryStart(plan, entry, start);
    }
    return end;
}

PlanPosition planPositionAt(const RenderPlan& plan, int64_t frame) {
    PlanPosition position;
    int64_t start = countInFrames(plan);
    if (plan.entries.empty() || frame < start) {
        position.countIn = true;
        if (!plan.entries.empty()) position.tempo = countInTempo(plan);
        return position;
    }
    for (; position.entry + 1 < plan.entries.size(); ++position.entry) {
        const PlanEntry& entry = plan.entries[position.entry];
        if (entry.passes <= 0) break;
        const int64_t next = nextEntryStart(plan, entry, start);
        if (frame < next) break;
        start = next;
    }
    const PlanEntry& entry = plan.entries[position.entry];
    // The rung playing then, and in it the step sounding: the last one that starts at or
    // before the frame.
    PlanRung rung = rungFrom(plan, entry, 1);
    while (!lastRung(entry, rung) && frame >= start + rungFrames(entry, rung, plan.rate)) {
        start += rungFrames(entry, rung, plan.rate);
        rung = rungFrom(plan, entry, rung.firstPass + rung.passes);
    }
    const int64_t into = frame - start;
    int64_t step = static_cast<int64_t>(static_cast<__int128>(into) * rung.tempo * entry.subdivision /
                                        (int64_t(60) * plan.rate));
    while (step > 0 && stepFrame(step, rung.tempo, entry.subdivision, plan.rate) > into) --step;
    while (stepFrame(step + 1, rung.tempo, entry.subdivision, plan.rate) <= into) ++step;
    position.pass = rung.firstPass + step / countOf(entry);
    const bool ringing = entry.passes > 0 && position.pass > entry.passes;
    position.tempo = passTempo(plan, entry, ringing ? entry.passes : position.pass);
    position.silent = !ringing && !passSounds(plan.silent, position.pass);
    return position;
}

StrokeTimeline::StrokeTimeline(const RenderPlan& plan, int64_t end, bool silentToo)
    : plan_(plan), end_(end), silentToo_(silentToo), entryStart_(countInFrames(plan)), rungStart_(entryStart_) {
    if (!plan.entries.empty()) rung_ = rungFrom(plan, plan.entries[0], 1);
}

bool StrokeTimeline::next(Stroke& stroke) {
    if (click_ < plan_.countInBeats && !plan_.entries.empty()) {
        stroke.frame = stepFrame(click_, countInTempo(plan_), 1, plan_.rate);
        stroke.sound = click_ == 0 ? StrokeSound::AccentClick : StrokeSound::Click;
        stroke.entry = 0;
        stroke.pass = 0;
        stroke.step = click_;
        ++click_;
        return stroke.frame < end_;
    }
    while (entry_ < plan_.entries.size() && entryStart_ < end_) {
        const PlanEntry& entry = plan_.entries[entry_];
        const int64_t count = countOf(entry);
        for (;;) {
            while (rung_.passes <= 0 || step_ < rung_.passes * count) {
                const int64_t at = rungStart_ + stepFrame(step_, rung_.tempo, entry.subdivision, plan_.rate);
                if (at >= end_) return false;
                const int64_t pass = rung_.firstPass + step_ / count;
                if (!silentToo_ && !passSounds(plan_.silent, pass)) {
                    step_ = (pass + 1 - rung_.firstPass) * count;  // on to the next pass
                    continue;
                }
                const int32_t step = static_cast<int32_t>(step_ % count);
                const StepSound sound = entry.steps[static_cast<std::size_t>(step)];
                ++step_;
                if (sound == StepSound::None) continue;
                stroke = Stroke{at, strokeSoundOf(sound), entry_, pass, step};
                return true;
            }
            if (lastRung(entry, rung_)) break;
            rungStart_ += rungFrames(entry, rung_, plan_.rate);
            rung_ = rungFrom(plan_, entry, rung_.firstPass + rung_.passes);
            step_ = 0;
        }
        entryStart_ = nextEntryStart(plan_, entry, entryStart_);
        rungStart_ = entryStart_;
        step_ = 0;
        if (++entry_ < plan_.entries.size()) rung_ = rungFrom(plan_, plan_.entries[entry_], 1);
    }
    return false;
}
