// controls.h - the nine on-screen controls: where each one's hot rectangle lies, and how the
// two sliders map a row of the screen to a tempo or a volume and back. The layout, the frame
// update and the screen all take the geometry from here.
//
// Threads: any; constants and pure functions. Ownership: nothing is owned.
#pragma once

#include <cstdint>

#include "gfx/surface.h"

// The on-screen controls, indices into the record's control rectangles; NoControl for none.
enum Control : int32_t {
    NoControl = -1,
    PlayButton = 0,
    PauseButton = 1,
    StopButton = 2,
    TempoKnob = 3,
    TempoTrack = 4,
    VolumeKnob = 5,
    VolumeTrack = 6,
    PreviousButton = 7,
    NextButton = 8,
};
constexpr int controlCount = 9;

namespace controls {

// The knobs travel 106 rows up from row 203: tempo 30 or volume 0 at the bottom.
constexpr int32_t knobBottomRow = 203;
constexpr int32_t knobTravel = 106;
constexpr int32_t knobHeight = 10;
constexpr int32_t tempoKnobColumn = 439;
constexpr int32_t volumeKnobColumn = 528;
constexpr int32_t minTempo = 30;
constexpr int32_t maxTempo = 300;

// The hot rectangles before the first frame places the knobs on their tracks.
void layout(SpriteRect (&rects)[controlCount]);

// Top row of each knob for a tempo or a volume; a tempo outside 30 to 300 puts the knob at
// the end of its travel.
int32_t tempoKnobRow(int32_t tempo);
int32_t volumeKnobRow(float volume);

// The tempo (30 to 300) and volume (0 to 1) that the cursor's row on a slider asks for.
int32_t tempoAtRow(int32_t row);
float volumeAtRow(int32_t row);

}  // namespace controls
