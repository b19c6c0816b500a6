// practice_session.h - how a practice session plays a rhythm, pass by pass: the count-in
// before the first stroke, the tempo of each pass on a speed ladder, and which passes sound
// and which are left to the learner. The tutor's playback thread and the renderer both ask
// these functions, so a rendered practice track plays exactly what the tutor plays.
//
// Passes count from 1 and each pass plays at one tempo: a ladder's tempo changes only where
// a pass begins. Silent passes keep their time and their place on the grid; only their
// strokes are not sounded.
//
// Threads: any; plain data and pure functions. Ownership: nothing is owned.
#pragma once

#include <cstdint>

// Tempo from start towards end by step BPM every `every` passes, holding at end.
struct SpeedLadder {
    int32_t start = 0;  // the first pass's tempo
    int32_t end = 0;    // where the ladder holds; above start climbs, below descends
    int32_t step = 0;   // BPM a rung, at least 1 for a ladder that moves
    int32_t every = 1;  // passes a rung, at least 1

    // A ladder that changes the tempo at all.
    bool moves() const { return start > 0 && end > 0 && step > 0 && every > 0 && start != end; }
};

// In each cycle of play + rest passes, the first `play` sound and the next `rest` are silent.
struct SilentPasses {
    int32_t play = 0;
    int32_t rest = 0;

    bool any() const { return play > 0 && rest > 0; }
};

// The tempo of pass `pass` (from 1); a ladder that does not move plays at its start. It
// moves one way only, from start towards end, never past end: the fastest (or slowest)
// pass of a ladder is at end or at the last pass.
int32_t ladderTempo(const SpeedLadder& ladder, int64_t pass);

// Whether pass `pass` (from 1) sounds.
bool passSounds(const SilentPasses& silent, int64_t pass);

// Beats in one bar of a rhythm for the count-in: its beats per cycle where the cycle is a
// whole number of beats, else 4.
int32_t beatsPerBar(int32_t stepCount, int32_t subdivision);

// The count-in's beats for `bars` bars of the rhythm (0 bars: none).
int32_t countInBeats(int32_t bars, int32_t stepCount, int32_t subdivision);
