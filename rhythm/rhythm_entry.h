// rhythm_entry.h - one loaded rhythm: the sound and glyph of each step, its title and
// notation images, its title text, tempo, subdivision, step time and repeat counts.
//
// An entry is born in its default state inside an entries array, filled once by the rhythm
// file reader, played and drawn any number of times, and dies with its array.
//
// Threads: filled on the main thread while no playback thread runs. While it plays, the
// playback thread reads it and writes repeatsDone; the main thread draws it and may change
// tempo and stepTime (the tempo slider). repeatsDone and stepTime are atomics for that.
// Ownership: the entry owns stepSounds (not the slots they point at), both images (unless
// ownsImages says an earlier entry does), glyphRects and title; it is never copied.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "gfx/surface.h"

struct SoundSlot;

struct RhythmEntry {
    SoundSlot** stepSounds = nullptr;  // stepCount elements; null is a rest
    Surface* notationImage = nullptr;
    Surface* titleImage = nullptr;
    SpriteRect* glyphRects = nullptr;  // stepCount elements, cells of the glyph sheet's top row
    std::string title;
    std::string file;         // the rhythm file it was read from, as named when loaded
    int32_t repeatCount = 0;  // passes before the entry ends; 0 or less: never ends
    std::atomic<int32_t> repeatsDone{0};
    int32_t stepCount = 0;
    int32_t tempo = 0;
    int32_t subdivision = 0;
    std::atomic<double> stepTime{0.0};
    // False when the images belong to an earlier entry of the same array (a playlist naming
    // one rhythm file again): the array destroys later entries first, so they never dangle.
    bool ownsImages = true;

    RhythmEntry() = default;
    RhythmEntry(const RhythmEntry&) = delete;
    RhythmEntry& operator=(const RhythmEntry&) = delete;
    ~RhythmEntry();

    // Whether the playback thread may play it and the screen may draw its steps: a read
    // that succeeded, with at least one step and a positive subdivision and step time.
    bool playable() const;
};

// The entries array: one block of count entries, made in their default state in index
// order, destroyed in reverse order. Main thread only, while no playback thread runs.
RhythmEntry* makeEntries(int32_t count);
void destroyEntries(RhythmEntry* entries);
