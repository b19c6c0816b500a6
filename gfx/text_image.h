// text_image.h - text assembled from the cells of bitmap sprite sheets (the program has no
// fonts).
//
// Letter sheets hold two rows of cells: A..N in row 0, O..Z in row 1 with the space cell at
// column 12 of row 1; upper and lower case share a cell. The numbers sheet holds the digits
// 0..9 in one row of 15 x 15 cells. Letters and spaces are drawn; makeTextImage skips every
// other byte, drawTextLine also draws digits. A skipped byte does not move the pen.
//
// Threads: main thread only. Ownership: makeTextImage returns a new Surface that the caller
// owns; the sheets are only read.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "gfx/letter_cell.h"
#include "gfx/surface.h"

// Copies rect of sheet to (x, y) of target, clipped against target. Copies nothing when the
// rectangle does not lie inside the sheet or the two depths differ, so a sheet that failed to
// load or is too small can never be read beyond its pixels.
void copySheetCell(Surface& target, const Surface& sheet, SpriteRect rect, int32_t x, int32_t y);

// A new 4-byte-per-pixel image of text laid out in lines of perLine cells of cellWidth x
// cellHeight from letterSheet. Every byte counts towards the size, drawn or not: fewer than
// perLine bytes give one line of that many cells, otherwise perLine cells per line and as
// many lines as the bytes need, at most maxLines. Text beyond the last line is cut. An empty
// text gives a Surface of width 0 without pixels. perLine and maxLines are at least 1.
std::unique_ptr<Surface> makeTextImage(std::string_view text, int32_t cellWidth, int32_t cellHeight,
                                       int32_t perLine, int32_t maxLines, const Surface& letterSheet);

// Draws text as one line into target, the first cell's top-left corner at (x, y): letters
// and spaces as cellSize x cellSize cells of letterSheet, digits as 15 x 15 cells of
// numbersSheet (advancing 15 whatever cellSize is). A final newline is left out. No wrapping;
// the target's edges clip.
void drawTextLine(Surface& target, std::string_view text, int32_t x, int32_t y,
                  const Surface& letterSheet, int32_t cellSize, const Surface& numbersSheet);
