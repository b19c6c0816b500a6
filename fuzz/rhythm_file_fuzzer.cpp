// Fuzz target: any bytes as a rhythm file, read through the same stream reader as a file on
// disk, into a fresh entry of a record whose sheets are small images made here. Checks what
// the rest of the program relies on: a read entry is complete and playable, a refused one is
// still in its default state.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/headless/headless.h"
#include "rhythm/line_reader.h"
#include "rhythm/rhythm_file.h"
#include "tutor/tutor_app.h"

namespace {

TutorApp& record() {
    static TutorApp* app = [] {
        auto* made = new TutorApp();
        made->largeLetters.create(420, 60, 4);
        made->largeLetters.fill(0x20, 0x40, 0x60);
        made->rhythmNotes.create(180, 40, 4);
        made->rhythmNotes.fill(0x60, 0x40, 0x20);
        return made;
    }();
    return *app;
}

void require(bool condition) {
    if (!condition) std::abort();
}

bool isSlot(const TutorApp& app, const SoundSlot* slot) {
    return slot == nullptr || slot == &app.doumSlot || slot == &app.tekSlot ||
           slot == &app.slapSlot || slot == &app.halfTekSlot;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TutorApp& app = record();
    headless::clearMessageBoxes();

    // fmemopen refuses an empty buffer, so give it one byte it may not read.
    std::vector<char> bytes(data, data + size);
    bytes.push_back('\0');
    std::FILE* file = fmemopen(bytes.data(), size == 0 ? 1 : size, "rb");
    if (!file) return 0;
    if (size == 0) std::fgetc(file);  // leaves the stream at its end: an empty file

    RhythmEntry entry;
    const bool loaded = readRhythmStream(app, entry, file, "fuzz.krf");
    std::fclose(file);

    if (!loaded) {
        require(headless::messageBoxes().size() == 1);
        require(!entry.stepSounds && !entry.glyphRects && !entry.titleImage &&
                !entry.notationImage && entry.stepCount == 0 && entry.stepTime.load() == 0.0);
        return 0;
    }
    require(headless::messageBoxes().empty());
    require(entry.playable() && entry.titleImage && entry.notationImage);
    require(entry.stepCount >= 1 && entry.stepCount <= maxLineCharacters);
    require(entry.titleImage->width <= titleCellSize * titleCellsPerLine);
    require(entry.notationImage->height <= glyphCellSize * maxNotationRows);
    for (int32_t i = 0; i < entry.stepCount; ++i) {
        require(isSlot(app, entry.stepSounds[i]));
        const SpriteRect& glyph = entry.glyphRects[i];
        require(glyph.left >= 0 && glyph.right <= app.rhythmNotes.width && glyph.top == 0 &&
                glyph.bottom == glyphCellSize);
    }
    return 0;
}
