// problem.h - one problem found in a rhythm or playlist file, and the line that reports it.
//
// A problem line reads "path:line: error: text" or "path:line: warning: text"; a problem
// that belongs to no line of the file (it cannot be read at all, or has no lines) reads
// "path: error: text". Lines are the file's own lines, from 1, as an editor counts them.
//
// Threads: any. Ownership: plain values.
#pragma once

#include <cstdint>
#include <string>

enum class Severity { Error, Warning };

struct Problem {
    std::string path;
    int32_t line = 0;  // 0: the file as a whole
    Severity severity = Severity::Error;
    std::string text;
};

// The problem's report line, without a line end.
std::string formatProblem(const Problem& problem);
