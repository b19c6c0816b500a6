// letter_cell.h - which characters the letter sheets hold, and in which cell.
//
// A letter sheet holds A..N in row 0 and O..Z in row 1, with the space cell at column 12 of
// row 1; upper and lower case share a cell. No other character has a cell. Kept apart from
// the drawing so that tools can tell what a text will show without drawing it.
//
// Threads: any. Ownership: nothing is owned.
#pragma once

#include <cstdint>

// The sheet cell of a letter or the space: true and its column and row; false for any other
// byte.
bool letterCell(unsigned char character, int32_t& column, int32_t& row);
