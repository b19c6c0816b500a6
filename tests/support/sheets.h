// sheets.h - small sprite sheets made in memory for the rhythm and text tests: every cell is
// filled with its own colour, so a test can tell which cell landed where.
//
// Threads: the test's thread. Ownership: the caller owns the surfaces it passes in.
#pragma once

#include <cstdint>

#include "gfx/surface.h"

namespace sheets {

// The colour of cell (column, row) of a sheet tagged with sheetTag: 0x00RRGGBB with red the
// tag, green the row + 1 and blue the column + 1. Black (0) is never a cell colour.
uint32_t cellColour(int sheetTag, int column, int row);

// Makes a 4-byte sheet of columns x rows cells of cellWidth x cellHeight, each filled with
// cellColour(sheetTag, column, row).
void makeSheet(Surface& sheet, int sheetTag, int columns, int rows, int cellWidth, int cellHeight);

// The colour at (x, y), top-left origin, as 0x00RRGGBB.
uint32_t pixelAt(const Surface& surface, int x, int y);

// Whether every pixel of the w x h block at (x, y) has the colour.
bool blockIs(const Surface& surface, int x, int y, int w, int h, uint32_t colour);

constexpr int glyphTag = 1;
constexpr int largeTag = 2;
constexpr int smallTag = 3;
constexpr int numbersTag = 4;

}  // namespace sheets
