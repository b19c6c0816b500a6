// due_strokes.h - the strokes a learner plays along a render plan, in the order they are
// due: every pass's, the silent passes' too (those the learner plays alone), never a
// count-in's clicks.
//
// Times are seconds after the plan's first step, so that they can be placed anywhere in a
// take.
//
// Threads: any. Ownership: the caller owns the plan and the results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cli/render/render_plan.h"
#include "listen/take_matcher.h"

struct DueStrokes {
    std::vector<ExpectedStroke> strokes;  // times from the first step
    std::vector<std::size_t> entries;     // each stroke's entry in the plan
};

// The plan's strokes that start before frame `end` of the plan (the count-in's first click
// at 0). False when there are more than `limit` of them.
bool dueStrokes(const RenderPlan& plan, int64_t end, std::size_t limit, DueStrokes& due);
