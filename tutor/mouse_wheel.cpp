#include "tutor/mouse_wheel.h"

#include <algorithm>
#include <cmath>

#include "tutor/tutor_app.h"

namespace {

// The slider a control belongs to, named by its track: the knob moves under the cursor as the
// wheel turns, and a rest gathered over the knob still counts over the track.
Control sliderAt(const TutorApp& app, POINT client) {
    switch (app.hitTest(client)) {
        case TempoKnob:
        case TempoTrack: return TempoTrack;
        case VolumeKnob:
        case VolumeTrack: return VolumeTrack;
        default: return NoControl;
    }
}

void turnTempo(TutorApp& app, int64_t notches) {
    // A file's tempo may lie outside the slider's range: the wheel brings it into the range,
    // never further out and never back in by turning the other way.
    if ((notches < 0 && app.tempo <= controls::minTempo) ||
        (notches > 0 && app.tempo >= controls::maxTempo))
        return;
    const int64_t wanted = app.tempo + notches * mouse_wheel::tempoStep;
    const auto tempo = static_cast<int32_t>(
        std::clamp<int64_t>(wanted, controls::minTempo, controls::maxTempo));
    if (tempo != app.tempo) app.setTempoByHand(tempo);
}

void turnVolume(TutorApp& app, int64_t notches) {
    // Summed in double and kept to a millionth, so that fifty notches from full volume come to
    // exactly 0 (silence) and back to exactly 1, with no float drift on the way.
    const double sum = static_cast<double>(app.volume.load()) +
                       static_cast<double>(notches) * mouse_wheel::volumeStep;
    const auto volume = static_cast<float>(std::clamp(std::round(sum * 1e6) / 1e6, 0.0, 1.0));
    if (volume != app.volume.load()) app.setVolumeByHand(volume);
}

}  // namespace

bool turnWheel(TutorApp& app, WheelRest& rest, POINT client, int wheelDelta) {
    const Control slider = sliderAt(app, client);
    if (slider != rest.slider) rest = WheelRest{slider, 0};
    if (slider == NoControl) return false;
    const int64_t turned = int64_t(rest.delta) + wheelDelta;
    const int64_t notches = turned / WHEEL_DELTA;  // toward zero: the rest keeps its sign
    rest.delta = static_cast<int32_t>(turned - notches * WHEEL_DELTA);
    if (notches == 0) return true;
    if (slider == TempoTrack)
        turnTempo(app, notches);
    else
        turnVolume(app, notches);
    return true;
}
