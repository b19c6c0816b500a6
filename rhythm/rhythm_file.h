// rhythm_file.h - reading a rhythm file (four lines: title, tempo, subdivision, notation)
// into what it says, checked, before anything is built from it.
//
// A file is refused, with a message that names the fault, its line and the file, when it has
// fewer than four lines, is larger than maxRhythmFileBytes, its tempo or subdivision is not
// a positive whole number, its steps would be shorter than a millisecond or its notation is
// empty. The tutor shows the message in its "File Error" box; tools print it. Lines are the
// file's own lines: a line longer than 255 characters is read in parts (see line_reader.h),
// and a part that is the rest of a cut line is named as such.
//
// Threads: any. Ownership: the caller owns the stream and the results.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// The texts of the tutor's boxes about a file that cannot be opened or closed; tools print
// them as they are.
inline constexpr char readErrorText[] = "Error Reading File";
inline constexpr char closeErrorText[] = "File was not closed";

// Cells of the title image and of the notation image.
constexpr int32_t titleCellSize = 30;
constexpr int32_t titleCellsPerLine = 30;
constexpr int32_t titleMaxLines = 1;
constexpr int32_t glyphCellSize = 20;
constexpr int32_t stepsPerRow = 28;
constexpr int32_t maxNotationRows = 8;

// The leading decimal integer of a line: white space skipped, an optional sign, then digits
// up to the first other character. False when there are no digits or the number does not fit
// in 32 bits.
bool leadingInteger(std::string_view line, int32_t& value);
// Whether the line starts, after white space and a sign, with a digit: a number was written,
// whether or not it fits.
bool startsWithNumber(std::string_view line);

// 60 / tempo / subdivision, divided in that order in extended precision, rounded once.
double stepTimeFor(int32_t tempo, int32_t subdivision);

// The most steps a minute (tempo times subdivision) a file may ask for: steps of 1 ms.
constexpr int64_t maxStepsPerMinute = 60000;

// The largest rhythm file read. Four lines of 255 characters take about 1 KB; the rest
// leaves room for notes after the fourth line, while a file of another kind chosen by
// mistake (a recording, a video) is refused after reading this much of it, not all of it.
constexpr int64_t maxRhythmFileBytes = 64 * 1024;

// What a rhythm file says: its four lines, each up to its first NUL byte, the numbers read.
struct RhythmText {
    std::string title;
    int32_t tempo = 0;
    int32_t subdivision = 0;
    std::string notation;
    // The file line each of title, tempo, subdivision and notation was read from: 1 to 4,
    // unless a line before was longer than 255 characters.
    int32_t lines[4] = {1, 2, 3, 4};
    // The file lines longer than 255 characters among those read, in order. Filled also when
    // the file is refused: a cut line is often why.
    std::vector<int32_t> longLines;
};

// Why a file was refused: the file line at fault (0 for the file as a whole) and the message
// for the learner.
struct ReadProblem {
    int32_t line = 0;
    std::string text;
};

// Reads the four lines from file (opened in binary mode); lines after the fourth are only
// counted towards the size. name is how the message calls the file. False, with problem
// filled, when refused; title, numbers and notation are then left as they were.
bool readRhythmText(std::FILE* file, const char* name, RhythmText& text, ReadProblem& problem);
