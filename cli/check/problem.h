// problem.h - one problem found in a rhythm or playlist file, and the line that reports it.
//
// A problem line reads "path:line:column: error: text" where the problem is one character of
// a line (a notation or title character), "path:line: error: text" where it is a line, and
// "path: error: text" where it belongs to no line of the file (it cannot be read at all, or
// has no lines); "warning" in place of "error" for what the tutor accepts. Lines and columns
// are the file's own, from 1, as an editor counts them (a column counts bytes). The text
// does not name the file or the line again. Text that is not valid UTF-8 is shown with each
// stray byte, and each control character, as \xNN.
//
// Threads: any. Ownership: plain values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class Severity { Error, Warning };

struct Problem {
    std::string path;
    int32_t line = 0;  // 0: the file as a whole
    Severity severity = Severity::Error;
    std::string text;
    int32_t column = 0;  // 0: the line as a whole
};

// The problem's report line, without a line end.
std::string formatProblem(const Problem& problem);

// text as a terminal can show it: valid UTF-8 as it is, stray bytes and control characters
// as \xNN (a tab as \t).
std::string printable(std::string_view text);
