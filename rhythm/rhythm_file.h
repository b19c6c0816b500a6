// rhythm_file.h - reading a rhythm file (four lines: title, tempo, subdivision, notation)
// into a RhythmEntry.
//
// TutorApp::readRhythmFile (declared in tutor/tutor_app.h, defined in rhythm_file.cpp) opens
// the file and reads it with readRhythmStream; the fuzz target feeds bytes through
// readRhythmStream as well, so both take the same path.
//
// A file is refused, with a "File Error" box that names the fault, its line and the file,
// when it has fewer than four lines, its tempo or subdivision is not a positive whole number
// or its notation is empty. A refused file leaves the entry in its default state, so it can
// never be played or drawn.
//
// Threads: main thread, while no playback thread runs. Ownership: the caller owns the stream
// and the entry; the entry owns what is put into it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

class TutorApp;
struct RhythmEntry;

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

// 60 / tempo / subdivision, divided in that order in extended precision, rounded once.
double stepTimeFor(int32_t tempo, int32_t subdivision);

// Reads the four lines from file into entry, which is in its default state. name is how the
// messages call the file. False (after the box) when the file is refused.
bool readRhythmStream(TutorApp& app, RhythmEntry& entry, std::FILE* file, const char* name);

// Closes file; shows "File was not closed" when closing reports an error.
void closeRhythmFile(std::FILE* file);
