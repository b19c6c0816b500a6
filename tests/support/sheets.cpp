#include "tests/support/sheets.h"

namespace sheets {

uint32_t cellColour(int sheetTag, int column, int row) {
    return uint32_t(sheetTag) << 16 | uint32_t(row + 1) << 8 | uint32_t(column + 1);
}

void makeSheet(Surface& sheet, int sheetTag, int columns, int rows, int cellWidth, int cellHeight) {
    sheet.create(columns * cellWidth, rows * cellHeight, 4);
    for (int y = 0; y < sheet.height; ++y) {
        uint8_t* row = sheet.rowShown(y);
        for (int x = 0; x < sheet.width; ++x) {
            const uint32_t colour = cellColour(sheetTag, x / cellWidth, y / cellHeight);
            row[4 * x + 0] = uint8_t(colour);
            row[4 * x + 1] = uint8_t(colour >> 8);
            row[4 * x + 2] = uint8_t(colour >> 16);
        }
    }
}

uint32_t pixelAt(const Surface& surface, int x, int y) {
    const uint8_t* pixel = surface.rowShown(y) + x * surface.bytesPerPixel;
    return uint32_t(pixel[2]) << 16 | uint32_t(pixel[1]) << 8 | pixel[0];
}

bool blockIs(const Surface& surface, int x, int y, int w, int h, uint32_t colour) {
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i)
            if (pixelAt(surface, i, j) != colour) return false;
    return true;
}

}  // namespace sheets
