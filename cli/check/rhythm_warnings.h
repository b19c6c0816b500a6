// rhythm_warnings.h - what a rhythm file says that the tutor accepts but its writer most
// likely did not mean: title characters that are not drawn, a tempo beyond the slider's
// range, a notation that does not end on a beat, steps beyond what the notation image
// shows, notation characters that are neither strokes nor rests, a tempo or subdivision
// written with more than a whole number, of which the tutor reads the leading digits.
//
// Threads: any. Ownership: plain values.
#pragma once

#include <string>
#include <vector>

#include "cli/check/problem.h"
#include "rhythm/rhythm_file.h"

// A line as written, where it is read as a number.
struct NumberLine {
    std::string text;
    int32_t line = 0;
};

// Whether the leading whole number of text runs on into something else ("1.5", "4x", not
// "90 bpm"): the tutor reads the number and drops the rest without a word.
bool trailsNumber(const std::string& text);

// The warnings about text, a file that was read without being refused, reported as path's.
// notationColumn is the column of the notation's file line where the notation starts (1
// unless the line before it was cut); tempo and subdivision are their lines as written.
std::vector<Problem> rhythmWarnings(const std::string& path, const RhythmText& text,
                                    int32_t notationColumn, const NumberLine& tempo,
                                    const NumberLine& subdivision);
