// Text images: letter and digit cells copied from sprite sheets.
#include "gfx/text_image.h"

#include <cassert>

namespace {

constexpr int32_t digitCellSize = 15;

}  // namespace

void copySheetCell(Surface& target, const Surface& sheet, SpriteRect rect, int32_t x, int32_t y) {
    if (!sheet.pixels || sheet.bytesPerPixel != target.bytesPerPixel) return;
    if (rect.left < 0 || rect.top < 0 || rect.right > sheet.width || rect.bottom > sheet.height ||
        rect.left >= rect.right || rect.top >= rect.bottom)
        return;
    target.copyFrom(sheet, x, y, rect);
}

std::unique_ptr<Surface> makeTextImage(std::string_view text, int32_t cellWidth, int32_t cellHeight,
                                       int32_t perLine, int32_t maxLines, const Surface& letterSheet) {
    assert(perLine >= 1 && maxLines >= 1);
    auto image = std::make_unique<Surface>();
    if (perLine < 1 || maxLines < 1) return image;

    // Every byte counts towards the size, also those that are skipped below.
    const int64_t length = static_cast<int64_t>(text.size());
    int64_t width = 0;
    int64_t height = 0;
    if (length < perLine) {
        width = length * cellWidth;
        height = cellHeight;
    } else {
        int64_t lines = (length + perLine - 1) / perLine;
        if (lines > maxLines) lines = maxLines;
        width = int64_t(perLine) * cellWidth;
        height = lines * cellHeight;
    }
    // An empty text (width 0) or an absurd size leaves the image without pixels, and
    // nothing is drawn into it.
    if (width > INT32_MAX || height > INT32_MAX ||
        !image->create(static_cast<int32_t>(width), static_cast<int32_t>(height), 4))
        return image;

    int32_t penX = 0;
    int32_t penY = 0;
    for (char byte : text) {
        int32_t column = 0;
        int32_t row = 0;
        if (!letterCell(static_cast<unsigned char>(byte), column, row)) continue;
        SpriteRect cell{column * cellWidth, row * cellHeight, column * cellWidth + cellWidth,
                        row * cellHeight + cellHeight};
        copySheetCell(*image, letterSheet, cell, penX, penY);
        penX += cellWidth;
        if (penX >= image->width) {
            penX = 0;
            penY += cellHeight;
            if (penY >= image->height) break;
        }
    }
    return image;
}

void drawTextLine(Surface& target, std::string_view text, int32_t x, int32_t y,
                  const Surface& letterSheet, int32_t cellSize, const Surface& numbersSheet) {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    int32_t penX = x;
    for (char byte : text) {
        // The pen only moves right: past the target's right edge nothing more shows.
        if (penX >= target.width) break;
        const auto character = static_cast<unsigned char>(byte);
        int32_t column = 0;
        int32_t row = 0;
        if (letterCell(character, column, row)) {
            SpriteRect cell{column * cellSize, row * cellSize, column * cellSize + cellSize,
                            row * cellSize + cellSize};
            copySheetCell(target, letterSheet, cell, penX, y);
            penX += cellSize;
        } else if (character >= '0' && character <= '9') {
            const int32_t digit = character - '0';
            SpriteRect cell{digitCellSize * digit, 0, digitCellSize * digit + digitCellSize,
                            digitCellSize};
            copySheetCell(target, numbersSheet, cell, penX, y);
            penX += digitCellSize;
        }
        // Anything else is skipped and the pen stays where it is.
    }
}
