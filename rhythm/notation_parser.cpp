// The notation alphabet and the notation image's layout.
#include "rhythm/notation_parser.h"


NotationSymbol notationSymbol(char character) {
    switch (character) {
        case 'd': return {StepSound::Doum, 0};
        case 't': return {StepSound::Tek, 1};
        case 'k': return {StepSound::Tek, 2};
        case 'D': return {StepSound::Doum, 3};
        case 'T': return {StepSound::Tek, 4};
        case 'K': return {StepSound::Tek, 5};
        case 'P': return {StepSound::HalfTek, 6};
        case 'S': return {StepSound::Slap, 7};
        case '-': return {StepSound::None, 8};
        // Outside the alphabet: a rest that shows the first glyph.
        default: return {StepSound::None, 0};
    }
}

void notationImageSize(int32_t steps, int32_t cellWidth, int32_t cellHeight, int32_t perRow,
                       int32_t maxRows, int64_t& width, int64_t& height) {
    if (steps < perRow) {
        width = int64_t(steps) * cellWidth;
        height = cellHeight;
        return;
    }
    int64_t rows = steps / perRow + (steps % perRow != 0 ? 1 : 0);
    if (rows > maxRows) rows = maxRows;
    width = int64_t(perRow) * cellWidth;
    height = rows * cellHeight;
}
