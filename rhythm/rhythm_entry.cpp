#include "rhythm/rhythm_entry.h"

RhythmEntry::~RhythmEntry() {
    delete[] stepSounds;
    if (ownsImages) {
        delete notationImage;
        delete titleImage;
    }
    delete[] glyphRects;
}

bool RhythmEntry::playable() const {
    return stepCount >= 1 && subdivision >= 1 && stepSounds && glyphRects &&
           stepTime.load() > 0.0;
}

// new[] constructs in index order and delete[] destroys in reverse order.
RhythmEntry* makeEntries(int32_t count) { return new RhythmEntry[count > 0 ? count : 0]; }

void destroyEntries(RhythmEntry* entries) { delete[] entries; }
