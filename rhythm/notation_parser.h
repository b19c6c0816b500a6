// notation_parser.h - the notation alphabet: which sound and which glyph cell each
// character of a rhythm's notation line stands for.
//
// A notation has one step per character; its image lays the steps' glyphs out in rows.
//
// Threads: any; the table is constant. Ownership: nothing is owned.
#pragma once

#include <cstdint>

// The four drum sounds a step can ask for; None is a rest.
enum class StepSound : int32_t { None, Doum, Tek, HalfTek, Slap };

struct NotationSymbol {
    StepSound sound;
    int32_t glyphCell;  // column of the glyph in the glyph sheet
};

// d t k D T K P S - as the alphabet gives them. Every other character is a rest shown with
// glyph cell 0.
NotationSymbol notationSymbol(char character);

// Size of the notation image of steps cells of cellWidth x cellHeight: one row just as wide
// as its steps below perRow, else rows of perRow steps, at most maxRows of them. A width of
// 0 for no steps.
void notationImageSize(int32_t steps, int32_t cellWidth, int32_t cellHeight, int32_t perRow,
                       int32_t maxRows, int64_t& width, int64_t& height);
