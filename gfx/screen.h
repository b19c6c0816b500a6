// screen.h - the composition of the whole screen into the back buffer, from the images it is
// made of and a small description of what the screen shows this frame.
//
// Later copies cover earlier ones, in this order: background, metronome flash, title,
// notation, the marks of the learner's strokes, the mark on the step that sounded last, playlist buttons and the next-entry
// notice, banner, the two slider knobs, the state label and the tempo digits. Every copy is
// clipped against the target and against its image, so a missing or undersized image shows
// as missing parts, never as a read beyond its pixels.
//
// Threads: main thread. Ownership: nothing is kept; the images and the view are only read.
#pragma once

#include <cstdint>
#include <string>

#include "gfx/surface.h"

// The thirteen images of the screen, each loaded once at start-up.
struct ScreenImages {
    const Surface* background = nullptr;
    const Surface* slider = nullptr;
    const Surface* metronome = nullptr;
    const Surface* numbers = nullptr;
    const Surface* largeLetters = nullptr;
    const Surface* smallLetters = nullptr;
    const Surface* rhythmNotes = nullptr;
    const Surface* banner = nullptr;             // nothing loaded: open a rhythm
    const Surface* hiddenNotesBanner = nullptr;  // a rhythm loaded, its notes hidden
    const Surface* pausedLabel = nullptr;
    const Surface* playingLabel = nullptr;
    const Surface* stoppedLabel = nullptr;
    const Surface* playlistButtons = nullptr;
};

enum class StateLabel { None, Playing, Paused, Stopped };

// The banner over an empty notation area, which says why it is empty.
enum class Banner { None, OpenRhythm, NotesHidden };

// What the mark under a step's glyph says of the learner's stroke there (the tutor listening).
enum class StepMark : uint8_t { None, OnTime, Early, Late, Wrong, Missed };

// What the screen shows this frame.
struct ScreenView {
    bool flash = false;                  // the metronome's flash
    const Surface* title = nullptr;      // the title image, at (7, 39)
    const Surface* notation = nullptr;   // the notation image, at (10, 290)
    bool markStep = false;               // mark one step of the notation:
    int32_t markedStep = 0;              //   its index (28 to a row of 20-pixel cells)
    SpriteRect markedGlyph{0, 0, 0, 0};  //   and its glyph in the top row of the glyph sheet
    const StepMark* stepMarks = nullptr; // a mark along the foot of each step's cell, or null
    int32_t stepMarkCount = 0;
    bool playlistButtons = false;        // Previous and Next, at (10, 200)
    std::string notice;                  // the next-entry notice in small letters, at (10, 80)
    Banner banner = Banner::None;        // the banner, at (65, 330)
    int32_t tempoKnobRow = 0;            // the knobs' top rows
    int32_t volumeKnobRow = 0;
    StateLabel label = StateLabel::None;
    int32_t tempo = 0;                   // shown in three digits at (250, 235)
};

void composeScreen(Surface& target, const ScreenImages& images, const ScreenView& view);

// The tempo in the box at (250, 235), in 15-pixel digits of the numbers sheet: no hundreds
// digit below 100, a single 0 for a tempo of 0 or less, at most 999.
void drawTempoDigits(Surface& target, const Surface& numbers, int32_t tempo);
