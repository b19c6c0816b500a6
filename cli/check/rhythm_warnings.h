// rhythm_warnings.h - what a rhythm file says that the tutor accepts but its writer most
// likely did not mean: title characters that are not drawn, a tempo beyond the slider's
// range, a notation that does not end on a beat, steps beyond what the notation image
// shows, notation characters that are neither strokes nor rests.
//
// Threads: any. Ownership: plain values.
#pragma once

#include <string>
#include <vector>

#include "cli/check/problem.h"
#include "rhythm/rhythm_file.h"

// The warnings about text, a file that was read without being refused, reported as path's.
std::vector<Problem> rhythmWarnings(const std::string& path, const RhythmText& text);
