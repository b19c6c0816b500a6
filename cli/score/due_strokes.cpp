// The strokes due along a plan, from the renderer's own timeline.
#include "cli/score/due_strokes.h"

#include "listen/stroke_kind.h"

namespace {

StrokeKind kindOf(StrokeSound sound) {
    switch (sound) {
        case StrokeSound::Doum: return StrokeKind::Doum;
        case StrokeSound::Slap: return StrokeKind::Slap;
        default: return StrokeKind::Tek;  // tek and half tek are one stroke to the listener
    }
}

bool isClick(StrokeSound sound) { return sound == StrokeSound::Click || sound == StrokeSound::AccentClick; }

}  // namespace

bool dueStrokes(const RenderPlan& plan, int64_t end, std::size_t limit, DueStrokes& due) {
    due = DueStrokes{};
    const int64_t first = countInFrames(plan);
    StrokeTimeline timeline(plan, end, true);
    for (Stroke stroke; timeline.next(stroke);) {
        if (isClick(stroke.sound)) continue;
        if (due.strokes.size() == limit) return false;
        const double time = static_cast<double>(stroke.frame - first) / plan.rate;
        due.strokes.push_back(ExpectedStroke{stroke.pass, stroke.step, kindOf(stroke.sound), time});
        due.entries.push_back(stroke.entry);
    }
    return true;
}
