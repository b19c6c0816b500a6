// The composition of the whole screen, once per frame, into the back buffer: background,
// metronome flash, title, notation with the step that sounded last, playlist buttons and
// the next-entry notice, banner, slider knobs, state label and tempo digits. Later copies
// cover earlier ones; nothing is retained between frames but the flash counter.
#include <cmath>
#include <string>

#include "app/app_window.h"
#include "tutor/tutor_app.h"

namespace {

// The single-precision 1/270 that maps tempo to knob travel.
constexpr float tempoScale = 1.0f / 270.0f;

void drawWhole(Surface& target, const Surface& image, int32_t x, int32_t y) {
    SpriteRect rect{0, 0, image.width, image.height};
    target.copyFrom(image, x, y, rect);
}

}  // namespace

void TutorApp::drawMetronome() {
    if (beatFlag.load()) {
        if (tempo >= 30 && tempo < 60) flashFrames = 6;
        else if (tempo >= 60 && tempo < 90) flashFrames = 5;
        else if (tempo >= 90 && tempo < 120) flashFrames = 4;
        else flashFrames = 3;
        beatFlag.store(false);
    }
    if (playState == Playing) {
        if (--flashFrames >= 0) {
            SpriteRect rect{0, 0, 150, 150};
            appWindow.backBuffer->copyFrom(metronome, 225, 80, rect);
        }
    }
}

void TutorApp::drawCurrentStep() {
    RhythmEntry* entry = current();
    if (!entry || !entry->playable()) return;
    int32_t last = stepIndex.load() - 1;
    if (last < 0 || last >= entry->stepCount) last = entry->stepCount - 1;
    // A copy of the step's rectangle goes to the copy: a step below the eighth row lies at
    // the buffer's bottom edge, where clipping would otherwise rewrite the stored rectangle.
    SpriteRect glyph = entry->glyphRects[last];
    appWindow.backBuffer->copyFrom(rhythmNotes, 10 + 20 * (last % 28), 290 + 20 * (last / 28),
                                   glyph);
}

void TutorApp::drawTempo() {
    Surface& target = *appWindow.backBuffer;
    auto digit = [&](int32_t d, int32_t x) {
        SpriteRect rect{15 * d, 0, 15 * d + 15, 15};
        target.copyFrom(numbers, x, 235, rect);
    };
    int32_t t = tempo;
    if (t <= 0) {
        digit(0, 250);
        return;
    }
    if (t > 999) t = 999;  // the display has three digits
    if (t / 100 != 0) digit(t / 100, 250);
    digit((t / 10) % 10, 265);
    digit(t % 10, 280);
}

void TutorApp::drawScreen() {
    Surface& target = *appWindow.backBuffer;
    drawWhole(target, background, 0, 13);
    drawMetronome();

    RhythmEntry* entry = current();
    if (rhythmLoaded && entry) {
        if (entry->titleImage) drawWhole(target, *entry->titleImage, 7, 39);
        if (showNotes && entry->notationImage) drawWhole(target, *entry->notationImage, 10, 290);
        if (showNotes && playState != Stopped) drawCurrentStep();
        if (entryCount > 1) {
            drawWhole(target, playlistButtons, 10, 200);
            int32_t remaining = entry->repeatCount - entry->repeatsDone.load();
            if (remaining <= 4) {
                int32_t following = currentEntry + 1 == entryCount ? 0 : currentEntry + 1;
                std::string notice =
                    entries[following].title + " in " + std::to_string(remaining);
                drawText(notice.c_str(), 10, 80, false);
            }
        }
    }
    if (!showNotes || !rhythmLoaded) drawWhole(target, banner, 65, 330);

    int32_t tempoKnobY =
        203 - static_cast<int32_t>(std::trunc((tempo - 30) * 106 * static_cast<double>(tempoScale)));
    drawWhole(target, slider, 439, tempoKnobY);
    controlRects[TempoKnob].top = tempoKnobY;
    controlRects[TempoKnob].bottom = tempoKnobY + 10;
    int32_t volumeKnobY =
        203 - static_cast<int32_t>(std::trunc(106 * static_cast<double>(volume.load())));
    drawWhole(target, slider, 528, volumeKnobY);
    controlRects[VolumeKnob].top = volumeKnobY;
    controlRects[VolumeKnob].bottom = volumeKnobY + 10;

    const Surface* label = playState == Playing   ? &playingLabel
                           : playState == Paused  ? &pausedLabel
                           : playState == Stopped ? &stoppedLabel
                                                  : nullptr;
    if (label) drawWhole(target, *label, 73, 232);
    drawTempo();
}
