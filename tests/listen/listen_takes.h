// listen_takes.h - takes the listening tests build from the shipped samples: strokes placed
// at known frames with their gains, over a little noise, so the truth is known.
//
// Threads: the test's thread. Ownership: values are returned by copy.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "listen/stroke_kind.h"

namespace listen_takes {

enum class Sample { Doum, Tek, HalfTek, Slap };

struct Placed {
    Sample sample;
    int64_t frame;
    float gainDb;
};

struct Take {
    std::vector<float> samples;
    int rate = 44100;
};

StrokeKind kindOf(Sample sample);

// The placed samples mixed, over white noise noiseDb below full scale; seeded, so repeatable.
Take makeTake(const std::vector<Placed>& strokes, double seconds, float noiseDb, unsigned seed);

// Strokes of the given samples one after another, gap seconds apart from half a second in,
// with gains from a seeded walk over -10..0 dB.
std::vector<Placed> inSequence(const std::vector<Sample>& samples, double gap, unsigned seed);

// The text of a file in the data folders beside the test program, e.g. "soundFont/default.cal".
std::string dataText(const std::string& relative);

}  // namespace listen_takes
