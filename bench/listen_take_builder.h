// listen_take_builder.h - microphone takes with known truth, for measuring the listener.
//
// A take is a learner playing one of the shipped rhythms on a drum, heard in a room: every
// stroke moved off the grid by a human offset (normal, offsetSdMs) and louder or softer by up
// to gainRangeDb, the whole convolved with the room's response (direct sound, a few early
// reflections and an exponentially decaying noise tail of the given RT60), plus pink room
// noise at snrDb under the strokes' mean power (chosen when mixing, so that one take serves
// every noise level). With leak set, the tutor also plays the same
// rhythm on the exact grid, as its playback thread does (one voice per sound, a new stroke
// cutting off the last on its voice), and that reaches the microphone through a small
// loudspeaker and a room response of its own, a few milliseconds late, leakDb under the
// learner; the learner listens for listenCycles first and then plays along. The dry tutor
// track comes back as the reference an echo remover is given.
//
// The random parts come from plan.seed alone, so a take is the same on every run.
//
// Threads: any; plain functions. Ownership: results are values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "listen/stroke_kind.h"
#include "rhythm/notation_parser.h"

// One drum's four sounds at the take's rate, each starting at its attack.
struct DrumKit {
    std::vector<float> doum, tek, halfTek, slap;
};

// The shipped samples (soundFont/*.wav, 44.1 kHz) read and resampled to rate.
bool loadShippedKit(const std::string& soundFontDir, int rate, DrumKit& kit, std::string& error);

// Another drum, made here: a lower, longer doum, a duller tek and a slap with a darker crack
// and other partials, so that one calibration does not fit both drums.
DrumKit makeOtherKit(int rate);

const std::vector<float>& soundOf(const DrumKit& kit, StepSound sound);

struct Pattern {
    std::string name;
    std::vector<StepSound> steps;  // one a step, None for a rest
    double stepSeconds = 0.25;
};

// A rhythm file's notation and step time.
bool loadPattern(const std::string& path, Pattern& pattern, std::string& error);

struct TrueStroke {
    int64_t frame = 0;
    StrokeKind kind = StrokeKind::Doum;
};

struct TakePlan {
    double offsetSdMs = 15;
    double gainRangeDb = 6;
    double rt60 = 0.3;
    bool leak = false;
    double leakDb = -6;
    int listenCycles = 1;       // leak takes: cycles the tutor plays before the learner joins
    double minSeconds = 10;     // whole cycles of playing, at least this long
    double leadSeconds = 0.5;   // room noise before the first stroke
    double tailSeconds = 1.0;   // room noise and reverberation after the last
    uint32_t seed = 1;
};

struct Take {
    std::vector<float> learner;    // the learner's drum as the microphone hears it
    std::vector<float> leak;       // the tutor's sound as the microphone hears it; empty without
    std::vector<float> noise;      // room noise at the learner's mean power (0 dB)
    std::vector<float> reference;  // the tutor's dry playback on the mic's frames; empty without
    std::vector<TrueStroke> truth; // the learner's strokes
    double playedSeconds = 0;      // from the learner's first stroke to their last
    int64_t scoredFrom = 0;        // half a step before the learner's first cycle: the tutor
                                   // scores only the passes the learner plays

    // What the microphone records with the noise snrDb under the learner.
    std::vector<float> micAt(double snrDb) const;
};

Take buildTake(const Pattern& pattern, const DrumKit& learner, const DrumKit& tutor,
               const TakePlan& plan, int rate);

// The pattern of a calibration take: four doums, four teks and four slaps, 0.7 s apart.
Pattern calibrationPattern();
