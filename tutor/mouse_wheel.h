// mouse_wheel.h - the mouse wheel on the two sliders: an exact tempo and a fine volume, which
// dragging a knob (about 2.5 BPM a row) cannot give. Over the tempo slider (its knob or its
// track) a notch moves the tempo by 1 BPM, over the volume slider the volume by 2 %; away
// from the user (wheel up) is faster and louder. Anywhere else the wheel does nothing.
//
// A notch is WHEEL_DELTA (120) units of the turn. Touchpads and fine wheels send smaller
// turns: they add up in a WheelRest until they make whole notches, and the rest is kept for
// the next turn over the same slider (it is dropped when the wheel turns over another place).
//
// Threads: main thread only (it calls TutorApp::setTempoByHand and setVolumeByHand).
// Ownership: the caller owns its WheelRest, one per window whose wheel it serves (the main
// window's procedure keeps the program's one).
#pragma once

#include <cstdint>

#include "platform/win_api.h"
#include "tutor/controls.h"

class TutorApp;

namespace mouse_wheel {

constexpr double volumeStep = 0.02;  // a notch over the volume slider (volume 0 to 1)
constexpr int32_t tempoStep = 1;      // BPM a notch over the tempo slider

}  // namespace mouse_wheel

// The part of a turn not yet a whole notch, and the slider it was turned over.
struct WheelRest {
    Control slider = NoControl;
    int32_t delta = 0;  // -119 to 119
};

// A turn of wheelDelta units (positive away from the user) with the cursor at client in the
// tutor window's client coordinates: moves the slider under the cursor by the whole notches
// that the turn and the rest make. True when a slider is under the cursor (the turn is taken,
// even while it makes no whole notch yet); false, and nothing changed, elsewhere.
bool turnWheel(TutorApp& app, WheelRest& rest, POINT client, int wheelDelta);
