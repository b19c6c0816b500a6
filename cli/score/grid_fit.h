// grid_fit.h - where in a take the learner started: the constant shift that best lines the
// strokes due up with the strokes heard.
//
// Every pair of a stroke due and a stroke heard of the same kind votes for the shift that
// would put one on the other; the few best-supported shifts are each refined by matching
// the strokes and moving by the mean offset of the strokes played right until it settles,
// and the one that then matches the most strokes of the right kind wins, the smaller spread
// breaking a tie. The learner's constant lead or lag is taken up by the shift: the mean
// offset at the fitted shift is zero.
//
// Threads: any; pure functions. Ownership: the spans are only read.
#pragma once

#include <span>

#include "listen/take_matcher.h"

struct GridFit {
    bool fitted = false;  // false when nothing was heard, or nothing of a kind due
    double start = 0;     // seconds to add to the due times
};

GridFit fitGrid(std::span<const ExpectedStroke> due, std::span<const HeardAt> heard, Tolerance tolerance);
