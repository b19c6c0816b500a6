#include "tutor/controls.h"

#include <cmath>

namespace controls {

namespace {

// The single-precision factors that map the 106-row travel and the 270 BPM of tempo range.
constexpr float rowScale = 1.0f / 106.0f;
constexpr float tempoScale = 1.0f / 270.0f;

}  // namespace

void layout(SpriteRect (&rects)[controlCount]) {
    rects[PlayButton] = SpriteRect{10, 230, 25, 245};
    rects[PauseButton] = SpriteRect{28, 230, 43, 245};
    rects[StopButton] = SpriteRect{46, 230, 61, 245};
    rects[TempoKnob] = SpriteRect{tempoKnobColumn, 270, tempoKnobColumn + 30, 270 + knobHeight};
    rects[TempoTrack] = SpriteRect{448, 96, 459, 211};
    rects[VolumeKnob] = SpriteRect{volumeKnobColumn, 270, volumeKnobColumn + 30, 270 + knobHeight};
    rects[VolumeTrack] = SpriteRect{537, 96, 548, 211};
    rects[PreviousButton] = SpriteRect{10, 200, 25, 215};
    rects[NextButton] = SpriteRect{78, 200, 93, 215};
}

int32_t tempoKnobRow(int32_t tempo) {
    // A file's tempo may lie outside the slider's range: the knob stays on its travel (and
    // within reach), at the top from 300 up and at the bottom from 30 down.
    if (tempo < minTempo) tempo = minTempo;
    if (tempo > maxTempo) tempo = maxTempo;
    return knobBottomRow - static_cast<int32_t>(std::trunc((tempo - minTempo) * knobTravel *
                                                           static_cast<double>(tempoScale)));
}

int32_t volumeKnobRow(float volume) {
    return knobBottomRow - static_cast<int32_t>(std::trunc(knobTravel * static_cast<double>(volume)));
}

int32_t tempoAtRow(int32_t row) {
    long double t = static_cast<long double>(knobBottomRow - row) * rowScale * 270.0f + 50.0f;
    int32_t tempo = static_cast<int32_t>(std::trunc(t));
    if (tempo < minTempo) tempo = minTempo;
    else if (tempo > maxTempo) tempo = maxTempo;
    return tempo;
}

float volumeAtRow(int32_t row) {
    float volume = static_cast<float>(static_cast<long double>(knobBottomRow - row) * rowScale);
    if (volume < 0.0f) volume = 0.0f;
    else if (volume > 1.0f) volume = 1.0f;
    return volume;
}

}  // namespace controls
