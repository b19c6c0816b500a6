// render_plan.h - what a render plays and on which frame: the entries in order with their
// steps, tempo and passes, an optional count-in, and the frame of every stroke.
//
// The grid: each entry starts on a whole frame, and step j of an entry (counted across its
// passes) starts stepFrame(j) frames after it, the exact j * 60 / (tempo * subdivision)
// seconds rounded to the nearest frame, halves up. After an entry's last step the next
// entry starts as in the tutor: nextEntryDelay after that step, rounded to the nearest frame
// (a delay of one whole step is the exact step of the grid). A count-in of B beats clicks on
// the first B beats of the first entry's first pass's tempo, and the first entry starts on
// beat B.
//
// A practice session (rhythm/practice_session.h) plays as the tutor plays it. With a speed
// ladder every entry's passes climb from its start, and the steps are counted from the start
// of each rung, the run of passes at one tempo: step j of a rung starts stepFrame(j) at the
// rung's tempo after the rung starts, the next rung where the rung's steps end, and the seam
// after the entry is timed by its last pass's tempo. Without a ladder an entry is one rung.
// A silent pass keeps its time on the grid; its strokes are left out.
//
// Length: a plan that ends lasts until its last step's time is over or its last strokes
// have rung out, whichever is later; limitFrames, when set, cuts it on that exact frame,
// whatever is playing then. A plan with an entry that never ends (passes 0 or less) needs
// limitFrames.
//
// Threads: any; plain data and pure functions. Ownership: the caller owns the plan; a
// StrokeTimeline keeps a reference to its plan, which must outlive it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "rhythm/notation_parser.h"
#include "rhythm/practice_session.h"

// The sounds of a render: the four drum samples and the count-in's two clicks.
enum class StrokeSound : int32_t { Doum, HalfTek, Tek, Slap, Click, AccentClick };
constexpr int strokeSoundCount = 6;

struct PlanEntry {
    std::vector<StepSound> steps;  // one per notation character; None is a rest
    int32_t tempo = 0;             // beats per minute, at least 1
    int32_t subdivision = 0;       // steps per beat, at least 1
    int32_t passes = 1;            // 0 or less: the entry never ends
    std::string name;              // the file it was read from, for messages
    std::string title;             // the rhythm's title line
};

struct RenderPlan {
    std::vector<PlanEntry> entries;
    std::string title;  // a rhythm's title, or a playlist's file name without its extension
    int32_t rate = 48000;
    int32_t countInBeats = 0;
    int64_t limitFrames = -1;  // below 0: no limit
    SpeedLadder ladder;        // start 0: no ladder, each entry plays at its own tempo
    SilentPasses silent;       // none: every pass sounds
};

struct Stroke {
    int64_t frame = 0;
    StrokeSound sound = StrokeSound::Doum;
    std::size_t entry = 0;  // where in the plan it falls: its entry,
    int64_t pass = 0;       //   pass within the entry (from 1; 0 for a count-in click)
    int32_t step = 0;       //   and step within the pass (the count-in's beat for a click)
};

// Frames from an entry's start to its step `step`: round(step * 60 * rate / (tempo *
// subdivision)), halves up, computed exactly. step, tempo, subdivision and rate positive
// or step 0.
int64_t stepFrame(int64_t step, int32_t tempo, int32_t subdivision, int32_t rate);

// Frames from an entry's last step to the next entry's first step.
int64_t seamFrames(int32_t tempo, int32_t subdivision, int32_t rate);

// Frames of the count-in before the first entry's first step; 0 without one.
int64_t countInFrames(const RenderPlan& plan);

// The tempo of an entry's pass `pass` (from 1): the ladder's, else the entry's own.
int32_t passTempo(const RenderPlan& plan, const PlanEntry& entry, int64_t pass);

// The plan's own length in frames, limitFrames left aside, given how many frames each sound
// lasts (indexed by StrokeSound). A result above `bound` says only that the plan goes on past
// bound: it never ends, or entries still start after bound.
int64_t naturalLength(const RenderPlan& plan, const std::array<int64_t, strokeSoundCount>& soundFrames,
                      int64_t bound);

// What the plan plays at a frame: the count-in, or an entry and its pass (from 1; above the
// entry's passes while its last strokes ring out, before the next entry starts), the pass's
// tempo (its last pass's as it rings out; the count-in's in the count-in) and whether it is
// a silent pass.
struct PlanPosition {
    bool countIn = false;
    std::size_t entry = 0;
    int64_t pass = 1;
    int32_t tempo = 0;
    bool silent = false;
};
PlanPosition planPositionAt(const RenderPlan& plan, int64_t frame);

// A rung: a run of an entry's passes at one tempo (the whole entry without a ladder).
struct PlanRung {
    int64_t firstPass = 1;  // from 1
    int64_t passes = 0;     // 0: on to the end of an entry that never ends
    int32_t tempo = 0;
};

// The rung of an entry that begins at pass `firstPass`.
PlanRung rungFrom(const RenderPlan& plan, const PlanEntry& entry, int64_t firstPass);

// The plan's strokes (rests and silent passes left out) in frame order, ending with the last
// one that starts before `end`. With silentToo the strokes of silent passes come too: the
// ones the learner plays alone, which a scorer expects to hear.
class StrokeTimeline {
public:
    StrokeTimeline(const RenderPlan& plan, int64_t end, bool silentToo = false);
    bool next(Stroke& stroke);

private:
    const RenderPlan& plan_;
    int64_t end_;
    bool silentToo_;
    int32_t click_ = 0;         // count-in beats clicked so far
    std::size_t entry_ = 0;     // the entry being walked
    int64_t entryStart_ = 0;    // its first frame
    PlanRung rung_;             // its rung being walked
    int64_t rungStart_ = 0;     // the rung's first frame
    int64_t step_ = 0;          // the rung's next step, counted across its passes
};
