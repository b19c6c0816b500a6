// notation_parser.h - the notation alphabet: which sound and which glyph cell each
// character of a rhythm's notation line stands for.
//
// TutorApp::parseNotation (declared in tutor/tutor_app.h, defined in notation_parser.cpp)
// turns a whole notation into an entry's stepSounds, glyphRects and notationImage.
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
