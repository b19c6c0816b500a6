// The composition of the whole screen, once per frame, into the back buffer.
#include "gfx/screen.h"

#include <algorithm>

#include "gfx/text_image.h"
#include "gfx/title_row.h"

namespace {

void drawWhole(Surface& target, const Surface* image, int32_t x, int32_t y) {
    if (!image) return;
    SpriteRect rect{0, 0, image->width, image->height};
    target.copyFrom(*image, x, y, rect);
}

// A bar along the foot of a notation cell, three rows high, in the screen's palette: green
// on time, amber on the early (left) or late (right) half, red for a wrong stroke, a dotted
// grey for a missed one. Clipped against the target.
void drawStepMark(Surface& target, int32_t step, StepMark mark) {
    if (mark == StepMark::None || target.pixels == nullptr || target.bytesPerPixel < 3) return;
    struct Colour {
        uint8_t blue, green, red;
    };
    const Colour colour = mark == StepMark::OnTime  ? Colour{96, 200, 88}
                          : mark == StepMark::Wrong ? Colour{64, 64, 232}
                          : mark == StepMark::Missed ? Colour{150, 136, 128}
                                                     : Colour{48, 176, 244};
    const int32_t cellX = 10 + 20 * (step % 28);
    const int32_t cellY = 290 + 20 * (step / 28);
    int32_t from = cellX + 2, to = cellX + 18;
    if (mark == StepMark::Early) to = cellX + 10;
    if (mark == StepMark::Late) from = cellX + 10;
    for (int32_t y = cellY + 17; y < cellY + 20; ++y) {
        if (y < 0 || y >= target.height) continue;
        uint8_t* row = target.rowShown(y);
        for (int32_t x = std::max(from, 0); x < std::min(to, target.width); ++x) {
            if (mark == StepMark::Missed && (x + y) % 2) continue;
            uint8_t* pixel = row + x * target.bytesPerPixel;
            pixel[0] = colour.blue;
            pixel[1] = colour.green;
            pixel[2] = colour.red;
        }
    }
}

}  // namespace

void drawTempoDigits(Surface& target, const Surface& numbers, int32_t tempo) {
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

void composeScreen(Surface& target, const ScreenImages& images, const ScreenView& view) {
    drawWhole(target, images.background, 0, 13);
    if (view.flash && images.metronome) {
        SpriteRect rect{0, 0, 150, 150};
        target.copyFrom(*images.metronome, 225, 80, rect);
    }
    drawWhole(target, view.title, titleLeft, titleTop);
    drawWhole(target, view.notation, 10, 290);
    if (view.notation)
        for (int32_t step = 0; view.stepMarks && step < view.stepMarkCount; ++step)
            drawStepMark(target, step, view.stepMarks[step]);
    if (view.markStep && images.rhythmNotes) {
        // A copy of the glyph's rectangle goes to the copy: a step below the eighth row lies
        // at the buffer's bottom edge, where clipping would otherwise rewrite it.
        SpriteRect glyph = view.markedGlyph;
        target.copyFrom(*images.rhythmNotes, 10 + 20 * (view.markedStep % 28),
                        290 + 20 * (view.markedStep / 28), glyph);
    }
    if (view.playlistButtons) drawWhole(target, images.playlistButtons, 10, 200);
    if (!view.notice.empty() && images.smallLetters && images.numbers)
        drawTextLine(target, view.notice, 10, 80, *images.smallLetters, 15, *images.numbers);
    if (view.banner != Banner::None)
        drawWhole(target, view.banner == Banner::NotesHidden ? images.hiddenNotesBanner : images.banner,
                  65, 330);
    drawWhole(target, images.slider, 439, view.tempoKnobRow);
    drawWhole(target, images.slider, 528, view.volumeKnobRow);
    const Surface* label = view.label == StateLabel::Playing   ? images.playingLabel
                           : view.label == StateLabel::Paused  ? images.pausedLabel
                           : view.label == StateLabel::Stopped ? images.stoppedLabel
                                                               : nullptr;
    drawWhole(target, label, 73, 232);
    if (images.numbers) drawTempoDigits(target, *images.numbers, view.tempo);
}
