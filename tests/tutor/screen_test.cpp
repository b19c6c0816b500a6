// The composed screen, checked against the shipped images: what is drawn where, in each
// state of the tutor.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "app/app_window.h"
#include "tests/support/tutor_fixture.h"

namespace {

class Screen : public testing_support::TutorFixture {
protected:
    // Composes what a frame shows: with no playback thread, the tutor's state as it stands.
    void compose() {
        app->followHeard();
        appWindow.clearBackBuffer();
        app->drawScreen(*appWindow.backBuffer);
    }
    // Whether the back buffer shows rect of image with its top-left corner at (x, y).
    bool shows(const Surface& image, SpriteRect rect, int x, int y) const {
        const Surface& back = *appWindow.backBuffer;
        for (int row = 0; row < rect.bottom - rect.top; ++row) {
            const uint8_t* want = image.rowShown(rect.top + row) + rect.left * 4;
            const uint8_t* got = back.rowShown(y + row) + x * 4;
            for (int column = 0; column < rect.right - rect.left; ++column)
                if (std::memcmp(want + column * 4, got + column * 4, 3) != 0) return false;
        }
        return true;
    }
    bool showsWhole(const Surface& image, int x, int y) const {
        return shows(image, SpriteRect{0, 0, image.width, image.height}, x, y);
    }
    bool showsDigit(int digit, int x) const {
        return shows(app->numbers, SpriteRect{15 * digit, 0, 15 * digit + 15, 15}, x, 235);
    }
    bool showsBackground(SpriteRect area) const {
        return shows(app->background, SpriteRect{area.left, area.top - 13, area.right, area.bottom - 13},
                     area.left, area.top);
    }
};

TEST_F(Screen, BeforeAnyLoadShowsTheBannerKnobsStoppedLabelAndTempoThirty) {
    compose();
    EXPECT_TRUE(showsWhole(app->banner, 65, 330));
    EXPECT_TRUE(showsWhole(app->stoppedLabel, 73, 232));
    EXPECT_TRUE(showsWhole(app->slider, 439, 203));
    EXPECT_TRUE(showsWhole(app->slider, 528, 97));
    EXPECT_TRUE(showsDigit(3, 265));
    EXPECT_TRUE(showsDigit(0, 280));
    EXPECT_TRUE(showsBackground(SpriteRect{250, 235, 265, 250})) << "no hundreds digit";
    EXPECT_EQ(app->controlRects[TempoKnob].top, 203);
    EXPECT_EQ(app->controlRects[TempoKnob].bottom, 213);
    EXPECT_EQ(app->controlRects[VolumeKnob].top, 97);
    // The top 13 rows stay black.
    for (int x = 0; x < 600; ++x) ASSERT_EQ(appWindow.backBuffer->rowShown(5)[x * 4 + 1], 0);
}

TEST_F(Screen, KnobsFollowTempoAndVolume) {
    struct Case {
        int tempo, row;
    };
    for (Case c : {Case{60, 192}, Case{120, 168}, Case{165, 151}, Case{300, 98}}) {
        app->tempo = c.tempo;
        compose();
        EXPECT_EQ(app->controlRects[TempoKnob].top, c.row) << c.tempo;
        EXPECT_TRUE(showsWhole(app->slider, 439, c.row)) << c.tempo;
    }
    app->volume.store(0.5f);
    compose();
    EXPECT_EQ(app->controlRects[VolumeKnob].top, 150);
    // A file's tempo beyond the slider's range keeps the knob at the end of its travel, where
    // it can be dragged back, however large the number.
    for (Case c : {Case{550, 98}, Case{30000000, 98}, Case{0, 203}, Case{-2147483647, 203}}) {
        app->tempo = c.tempo;
        compose();
        EXPECT_EQ(app->controlRects[TempoKnob].top, c.row) << c.tempo;
        EXPECT_TRUE(showsWhole(app->slider, 439, c.row)) << c.tempo;
    }
}

TEST_F(Screen, TempoDigits) {
    app->tempo = 300;
    compose();
    EXPECT_TRUE(showsDigit(3, 250));
    EXPECT_TRUE(showsDigit(0, 265));
    EXPECT_TRUE(showsDigit(0, 280));
    app->tempo = 99;
    compose();
    EXPECT_TRUE(showsDigit(9, 265));
    EXPECT_TRUE(showsDigit(9, 280));
    EXPECT_TRUE(showsBackground(SpriteRect{250, 235, 265, 250}));
    app->tempo = 5;
    compose();
    EXPECT_TRUE(showsDigit(0, 265));
    EXPECT_TRUE(showsDigit(5, 280));
    app->tempo = 0;
    compose();
    EXPECT_TRUE(showsDigit(0, 250));
}

TEST_F(Screen, NotationAndTheStepThatSoundedLast) {
    loadNotations({"D-t-T-k-D-S-tkP-"}, 100, 2);
    RhythmEntry& entry = app->entries[0];
    compose();  // stopped: the notation without a marked step
    ASSERT_NE(entry.notationImage, nullptr);
    EXPECT_TRUE(showsWhole(*entry.notationImage, 10, 290));
    EXPECT_FALSE(showsWhole(app->banner, 65, 330));
    EXPECT_TRUE(showsWhole(app->stoppedLabel, 73, 232));

    app->playState = Playing;
    app->stepIndex.store(0);  // the last step sounded last
    compose();
    EXPECT_TRUE(shows(app->rhythmNotes, entry.glyphRects[15], 310, 290));
    EXPECT_EQ(entry.glyphRects[15].top, 0) << "the highlighted row";
    EXPECT_TRUE(showsWhole(app->playingLabel, 73, 232));

    app->stepIndex.store(3);
    app->playState = Paused;
    compose();
    EXPECT_TRUE(shows(app->rhythmNotes, entry.glyphRects[2], 50, 290));
    EXPECT_TRUE(showsWhole(app->pausedLabel, 73, 232));
}

TEST_F(Screen, SecondRowStepsAndHiddenNotes) {
    loadNotations({std::string(40, 'D')}, 100, 2);
    app->playState = Playing;
    app->stepIndex.store(30);
    compose();
    EXPECT_TRUE(shows(app->rhythmNotes, app->entries[0].glyphRects[29], 30, 310));
    app->showNotes = false;
    compose();
    EXPECT_TRUE(showsWhole(app->hiddenNotesBanner, 65, 330)) << "says how to show them";
    EXPECT_FALSE(shows(app->rhythmNotes, app->entries[0].glyphRects[29], 30, 310));
}

TEST_F(Screen, MetronomeFlashesForFramesSetByTheTempo) {
    loadNotations({"D-t-"}, 60, 1);
    app->playState = Playing;
    app->tempo = 60;
    app->beatFlag.store(true);
    int flashes = 0;
    for (int i = 0; i < 10; ++i) {
        app->updateState(1.0f / 45.0f, FrameInput{});
        compose();
        flashes += showsWhole(app->metronome, 225, 80);
    }
    EXPECT_EQ(flashes, 5);
    EXPECT_FALSE(app->beatFlag.load());
    app->tempo = 29;
    app->beatFlag.store(true);
    flashes = 0;
    for (int i = 0; i < 10; ++i) {
        app->updateState(1.0f / 45.0f, FrameInput{});
        compose();
        flashes += showsWhole(app->metronome, 225, 80);
    }
    EXPECT_EQ(flashes, 3);
    // Stopped: the beat is taken but nothing flashes and the counter waits.
    app->playState = Stopped;
    app->beatFlag.store(true);
    app->updateState(1.0f / 45.0f, FrameInput{});
    compose();
    EXPECT_FALSE(showsWhole(app->metronome, 225, 80));
    EXPECT_EQ(app->flashFrames, 3);
}

TEST_F(Screen, PlaylistButtonsAndTheNextEntryNotice) {
    loadNotations({"D-t-", "T-k-", "S-P-"}, 100, 1, {4, 4, 5});
    app->currentEntry = 2;
    app->entries[2].repeatsDone.store(2);
    compose();
    EXPECT_TRUE(showsWhole(app->playlistButtons, 10, 200));
    // "Entry A in 3": E at 10, ..., the digit 3 after "Entry A in " (11 cells of 15).
    EXPECT_TRUE(shows(app->smallLetters, SpriteRect{4 * 15, 0, 5 * 15, 15}, 10, 80));
    EXPECT_TRUE(shows(app->numbers, SpriteRect{45, 0, 60, 15}, 10 + 11 * 15, 80));
    // More than four passes left: no notice.
    app->entries[2].repeatsDone.store(0);
    compose();
    EXPECT_FALSE(shows(app->smallLetters, SpriteRect{4 * 15, 0, 5 * 15, 15}, 10, 80));
    // An entry that never ends announces nothing, whatever its count or passes.
    for (int32_t count : {0, -1, INT32_MIN}) {
        app->entries[2].repeatCount = count;
        app->entries[2].repeatsDone.store(INT32_MAX);
        compose();
        EXPECT_FALSE(shows(app->smallLetters, SpriteRect{4 * 15, 0, 5 * 15, 15}, 10, 80)) << count;
    }
    // A single entry: neither buttons nor notice.
    loadNotations({"D-t-"}, 100, 1, {1});
    compose();
    EXPECT_FALSE(showsWhole(app->playlistButtons, 10, 200));
}

}  // namespace
