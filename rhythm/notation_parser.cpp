// The notation parser: one step per character, each with its sound, its glyph cell and its
// place in the notation image.
#include "rhythm/notation_parser.h"

#include <cassert>

#include "gfx/text_image.h"
#include "tutor/tutor_app.h"

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

void TutorApp::parseNotation(const char* notation, int32_t cellWidth, int32_t cellHeight,
                             int32_t perRow, int32_t maxRows, const Surface& glyphSheet,
                             RhythmEntry* entry) {
    assert(entry && notation);
    assert(cellWidth >= 1 && cellHeight >= 1 && perRow >= 1 && maxRows >= 1);
    if (!entry || !notation) return;

    size_t length = 0;
    while (notation[length] != '\0' && length < static_cast<size_t>(INT32_MAX)) ++length;
    const int32_t n = static_cast<int32_t>(length);

    // A second parse into the same entry replaces all three parts.
    delete[] entry->stepSounds;
    entry->stepSounds = nullptr;
    delete entry->notationImage;
    entry->notationImage = nullptr;
    delete[] entry->glyphRects;
    entry->glyphRects = nullptr;

    entry->stepCount = n;
    entry->stepSounds = new SoundSlot*[static_cast<size_t>(n)]();
    entry->notationImage = new Surface();
    entry->glyphRects = new SpriteRect[static_cast<size_t>(n)]();

    // Every step gets its sound and its top-row glyph cell, also the steps beyond the last
    // row of the image, so the playback thread and the screen never meet an unset element.
    for (int32_t i = 0; i < n; ++i) {
        const NotationSymbol symbol = notationSymbol(notation[i]);
        switch (symbol.sound) {
            case StepSound::Doum: entry->stepSounds[i] = &doumSlot; break;
            case StepSound::Tek: entry->stepSounds[i] = &tekSlot; break;
            case StepSound::HalfTek: entry->stepSounds[i] = &halfTekSlot; break;
            case StepSound::Slap: entry->stepSounds[i] = &slapSlot; break;
            case StepSound::None: entry->stepSounds[i] = nullptr; break;
        }
        const int32_t left = symbol.glyphCell * cellWidth;
        entry->glyphRects[i] = SpriteRect{left, 0, left + cellWidth, cellHeight};
    }

    if (cellWidth < 1 || cellHeight < 1 || perRow < 1 || maxRows < 1) return;

    // Rows of perRow steps, at most maxRows of them; a short notation is one row just as
    // wide as its steps.
    int64_t width = 0;
    int64_t height = 0;
    if (n < perRow) {
        width = int64_t(n) * cellWidth;
        height = cellHeight;
    } else {
        int64_t rows = n / perRow + (n % perRow != 0 ? 1 : 0);
        if (rows > maxRows) rows = maxRows;
        width = int64_t(perRow) * cellWidth;
        height = rows * cellHeight;
    }
    // An empty notation has width 0: the image stays without pixels.
    if (width > INT32_MAX || height > INT32_MAX ||
        !entry->notationImage->create(static_cast<int32_t>(width), static_cast<int32_t>(height), 4))
        return;

    // The image shows the glyphs of the sheet's second row; glyphRects name the top row,
    // which the screen draws over the step that sounded last.
    int32_t x = 0;
    int32_t y = 0;
    for (int32_t i = 0; i < n; ++i) {
        SpriteRect glyph = entry->glyphRects[i];
        glyph.top = cellHeight;
        glyph.bottom = 2 * cellHeight;
        copySheetCell(*entry->notationImage, glyphSheet, glyph, x, y);
        x += cellWidth;
        if (x >= entry->notationImage->width) {
            x = 0;
            y += cellHeight;
            if (y >= entry->notationImage->height) break;
        }
    }
}
