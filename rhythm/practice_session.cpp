#include "rhythm/practice_session.h"

#include <algorithm>

int32_t ladderTempo(const SpeedLadder& ladder, int64_t pass) {
    if (!ladder.moves() || pass <= 1) return ladder.start;
    // Rungs climbed by this pass, bounded long before the product could overflow.
    const int64_t rungs = std::min<int64_t>((pass - 1) / ladder.every, 100000);
    const int64_t moved = rungs * ladder.step;
    if (ladder.end > ladder.start) return static_cast<int32_t>(std::min<int64_t>(ladder.start + moved, ladder.end));
    return static_cast<int32_t>(std::max<int64_t>(ladder.start - moved, ladder.end));
}

bool passSounds(const SilentPasses& silent, int64_t pass) {
    if (!silent.any() || pass < 1) return true;
    const int64_t cycle = static_cast<int64_t>(silent.play) + silent.rest;
    return (pass - 1) % cycle < silent.play;
}

int32_t beatsPerBar(int32_t stepCount, int32_t subdivision) {
    if (stepCount > 0 && subdivision > 0 && stepCount % subdivision == 0) return stepCount / subdivision;
    return 4;
}

int32_t countInBeats(int32_t bars, int32_t stepCount, int32_t subdivision) {
    return bars > 0 ? bars * beatsPerBar(stepCount, subdivision) : 0;
}
