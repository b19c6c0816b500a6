// The cells of the letter sheets.
#include "gfx/letter_cell.h"

namespace {

// Letters A..N fill row 0 of a letter sheet and O..Z the first twelve columns of row 1.
constexpr int32_t lettersPerRow = 14;
constexpr int32_t spaceColumn = 12;

}  // namespace

bool letterCell(unsigned char character, int32_t& column, int32_t& row) {
    int32_t index = -1;
    if (character >= 'A' && character <= 'Z') index = character - 'A';
    if (character >= 'a' && character <= 'z') index = character - 'a';
    if (character == ' ') {
        column = spaceColumn;
        row = 1;
        return true;
    }
    if (index < 0) return false;
    column = index % lettersPerRow;
    row = index / lettersPerRow;
    return true;
}
