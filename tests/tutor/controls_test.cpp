// The on-screen controls: which control the cursor is over, the sliders' mappings, the
// mouse wheel on the sliders, the Pause latch, clicks shorter than a frame, Previous and Next
// while held, and loads served by the frame update.
#include <gtest/gtest.h>

#include <cstring>

#include "app/app_window.h"
#include "app/menu_commands.h"
#include "app/resource_ids.h"
#include "platform/headless/headless.h"
#include "tests/support/test_support.h"
#include "tests/support/tutor_fixture.h"

namespace {

class Controls : public testing_support::TutorFixture {
protected:
    // One frame as the main loop runs it, with the pointer at (x, y) of the client area.
    void frame(int x, int y, bool buttonDown, float seconds = 1.0f / 45) {
        headless::setCursorClient(appWindow.window, x, y);
        headless::setLeftButton(buttonDown);
        appWindow.clearBackBuffer();
        FrameInput input;
        input.leftButton = buttonDown;
        input.cursor = POINT{x, y};
        app->update(seconds, input, *appWindow.backBuffer);
    }
    // A frame with the button up somewhere harmless.
    void release() { frame(300, 20, false); }
    // A turn of the wheel over (x, y), through the window's procedure.
    void wheel(int x, int y, int delta) {
        headless::setCursorClient(appWindow.window, x, y);
        ASSERT_TRUE(headless::turnWheel(appWindow.window, delta));
        for (MSG msg; PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);) DispatchMessageA(&msg);
    }
    // A half-second frame as the main loop reads it: the window's messages, then the snapshot.
    void snapshotFrame() {
        for (MSG msg; PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);) DispatchMessageA(&msg);
        inputSnapshot.takeSnapshot();
        app->updateState(0.5f, FrameInput{inputSnapshot.keyDown[VK_LBUTTON] != 0,
                                          inputSnapshot.cursorInClient(appWindow.window)});
    }
};

TEST_F(Controls, HitTestFindsTheFirstRectangleAndKnobsWinOverTracks) {
    struct Case {
        int x, y, control;
    };
    const Case cases[] = {{10, 230, PlayButton},  {25, 245, PlayButton},  {26, 238, NoControl},
                          {28, 230, PauseButton}, {61, 245, StopButton},  {62, 245, NoControl},
                          {453, 150, TempoTrack}, {542, 100, VolumeTrack}, {10, 200, PreviousButton},
                          {93, 215, NextButton},  {0, 0, NoControl},       {-5, 230, NoControl}};
    for (const Case& c : cases) EXPECT_EQ(app->hitTest(POINT{c.x, c.y}), c.control) << c.x << "," << c.y;
    // After the first frame the knobs sit on their tracks (tempo 30 at 203, volume 1.0 at 97).
    release();
    EXPECT_EQ(app->hitTest(POINT{453, 205}), TempoKnob);
    EXPECT_EQ(app->hitTest(POINT{542, 100}), VolumeKnob);
}

TEST_F(Controls, TempoKnobMapsRowsToTempiAndWritesTheEntry) {
    loadNotations({"D-t-T-k-"}, 120, 4);
    release();  // knob drawn at the tempo's row
    struct Case {
        int row, tempo;
    };
    int knobRow = app->controlRects[TempoKnob].top;
    frame(445, knobRow + 2, true);  // grab the knob
    ASSERT_TRUE(app->tempoDragging);
    for (Case c : {Case{203, 50}, Case{150, 185}, Case{140, 210}, Case{104, 300}, Case{96, 300},
                   Case{211, 30}}) {
        frame(453, c.row, true);  // drag along the track (or the knob)
        EXPECT_EQ(app->tempo, c.tempo) << "row " << c.row;
        EXPECT_EQ(app->entries[0].tempo, c.tempo);
    }
    frame(453, 150, true);
    EXPECT_DOUBLE_EQ(app->entries[0].stepTime.load(), 60.0 / 185 / 4);
    release();
    EXPECT_FALSE(app->tempoDragging);
}

TEST_F(Controls, PressOnTheTrackWithoutTheKnobLeavesTheTempo) {
    loadNotations({"D-t-"}, 120, 2);
    release();
    frame(453, 120, true);  // on the track, above the knob
    EXPECT_EQ(app->tempo, 120);
    EXPECT_FALSE(app->tempoDragging);
}

TEST_F(Controls, VolumeKnobMapsRowsAndFlagsTheChange) {
    release();
    int knobRow = app->controlRects[VolumeKnob].top;
    EXPECT_EQ(knobRow, 97);
    frame(540, knobRow + 1, true);
    ASSERT_TRUE(app->volumeDragging);
    EXPECT_TRUE(app->volumeChanged.load());
    frame(542, 150, true);
    EXPECT_EQ(app->volume.load(), 0.5f);
    frame(542, 210, true);
    EXPECT_EQ(app->volume.load(), 0.0f);
    frame(542, 96, true);
    EXPECT_EQ(app->volume.load(), 1.0f);
    release();
    EXPECT_FALSE(app->volumeDragging);
}

TEST_F(Controls, TheWheelMovesTheSliderUnderTheCursorANotchAtATimeAndNothingElse) {
    loadNotations({"D-t-T-k-"}, 120, 4);
    release();  // the knobs on their tracks: tempo 120 at rows 168 to 178, volume 1.0 at 97
    struct Turn {
        int x, y, delta, tempo;
        float volume;
    };
    // The tempo track, the knob, thirds of a notch adding up over either, the ends; the
    // volume track and knob; half a notch of volume is not half a notch of tempo; elsewhere.
    for (Turn t : {Turn{453, 150, 120, 121, 1.0f}, {441, 170, -360, 118, 1.0f},
                   {441, 170, 40, 118, 1.0f}, {453, 150, 80, 119, 1.0f},
                   {453, 150, 182 * 120, 300, 1.0f}, {453, 150, -271 * 120, 30, 1.0f},
                   {453, 150, -120, 30, 1.0f}, {542, 150, -120, 30, 0.98f},
                   {530, 100, 360, 30, 1.0f}, {542, 150, -60, 30, 1.0f},
                   {453, 150, 60, 30, 1.0f}, {300, 20, 120, 30, 1.0f}, {12, 235, 120, 30, 1.0f},
                   {542, 150, -50 * 120, 30, 0.0f}}) {
        wheel(t.x, t.y, t.delta);
        EXPECT_EQ(app->tempo, t.tempo) << t.x << "," << t.y << " " << t.delta;
        EXPECT_FLOAT_EQ(app->volume.load(), t.volume) << t.x << "," << t.y << " " << t.delta;
    }
    EXPECT_EQ(app->entries[0].tempo, 30);
    for (int notch = 0; notch < 50; ++notch) wheel(542, 150, WHEEL_DELTA);  // no drift
    EXPECT_EQ(app->volume.load(), 1.0f);
    app->tempo = 20;  // a file's tempo below the range only comes into it
    wheel(453, 150, -120);
    EXPECT_EQ(app->tempo, 20);
}

TEST_F(Controls, PauseActsOnReleaseAndNotWhileStopped) {
    loadNotations({"D-t-T-k-"}, 120, 2);
    frame(12, 235, true);  // Play
    ASSERT_EQ(app->playState, Playing);
    release();
    frame(30, 235, true);  // Pause pressed
    EXPECT_EQ(app->playState, Playing);
    EXPECT_TRUE(app->pausePressed);
    release();
    EXPECT_EQ(app->playState, Paused);
    EXPECT_FALSE(app->threadRunning.load());
    frame(50, 235, true);  // Stop
    release();
    EXPECT_EQ(app->playState, Stopped);
    frame(30, 235, true);
    release();
    EXPECT_EQ(app->playState, Stopped);
}

TEST_F(Controls, AClickBetweenTwoFramesActsOnceAsAPressHeldOverAFrame) {
    loadNotations({"D-t-T-k-", "t-", "k-"}, 120, 2, {2, 2, 2});
    // Play, Pause twice (it toggles on the release), Next; and Next held over a frame that
    // reads the button down before the press's message comes, which must not count again.
    const POINT at[] = {{12, 235}, {30, 235}, {30, 235}, {80, 205}, {80, 205}};
    for (int i = 0; i < 5; ++i) {
        headless::setCursorClient(appWindow.window, at[i].x, at[i].y);
        if (i == 4) { headless::setLeftButton(true); snapshotFrame(); }
        ASSERT_TRUE(headless::pressLeftButton(appWindow.window));
        headless::setLeftButton(false);  // released before the next frame
        for (int frames = 0; frames < 3; ++frames) snapshotFrame();
        EXPECT_EQ(app->playState, i == 1 ? Paused : Playing) << i;
        EXPECT_EQ(app->currentEntry, i < 3 ? 0 : i - 2) << i;
    }
}

TEST_F(Controls, NextWhileHeldActsAtOnceThenEveryFifthOfASecond) {
    loadNotations({"D-", "t-", "k-", "S-", "P-"}, 100, 1, {2, 2, 2, 2, 2});
    app->buttonClock = 1.0f;
    frame(80, 205, true, 0.05f);
    EXPECT_EQ(app->currentEntry, 1);
    for (int i = 0; i < 3; ++i) frame(80, 205, true, 0.05f);  // 0.15 s held
    EXPECT_EQ(app->currentEntry, 1);
    frame(80, 205, true, 0.05f);  // 0.2 s
    EXPECT_EQ(app->currentEntry, 2);
    release();
    app->buttonClock = 1.0f;
    frame(12, 205, true, 0.05f);  // Previous
    EXPECT_EQ(app->currentEntry, 1);
}

TEST_F(Controls, NextOnASingleRhythmRestartsItAndKeepsPlaying) {
    loadNotations({"D-t-T-k-"}, 120, 2);
    frame(12, 235, true);
    release();
    app->entries[0].repeatsDone.store(3);
    app->buttonClock = 1.0f;
    frame(80, 205, true);
    EXPECT_EQ(app->currentEntry, 0);
    EXPECT_EQ(app->entries[0].repeatsDone.load(), 0);
    EXPECT_EQ(app->playState, Playing);
    EXPECT_TRUE(app->threadRunning.load());
}

TEST_F(Controls, PreviousAndNextBeforeAnyLoadTouchNothing) {
    app->buttonClock = 1.0f;
    frame(80, 205, true);
    frame(12, 205, true, 0.5f);
    EXPECT_EQ(app->entries, nullptr);
    EXPECT_EQ(app->currentEntry, 0);
    EXPECT_FALSE(app->advanceRequested.load());
    EXPECT_FALSE(app->previousRequested.load());
}

TEST_F(Controls, ALoadChosenWhilePlayingEndsTheThreadAndPlaysTheNewRhythm) {
    loadNotations({"D-t-T-k-"}, 120, 2);
    frame(12, 235, true);
    release();
    ASSERT_TRUE(app->threadRunning.load());
    std::string path = (testing_support::programFolder() / "rhythms" / "saidi.krf").string();
    std::strcpy(app->selectedPath, path.c_str());
    app->loadRhythmRequested = true;
    release();
    EXPECT_FALSE(app->loadRhythmRequested);
    EXPECT_EQ(app->entryCount, 1);
    EXPECT_EQ(app->entries[0].title, "Saidi");
    EXPECT_EQ(app->tempo, app->entries[0].tempo);
    EXPECT_EQ(app->playState, Playing);
    EXPECT_TRUE(app->threadRunning.load());
}

TEST_F(Controls, OpenCommandsHandTheTypedNameToTheNextFrame) {
    // The name is typed without its extension; the dialog completes it. A record the
    // dialog refuses would count as a cancel and raise nothing.
    struct Case {
        int command;
        const char* typed;
        const char* chosen;
        bool* requested;
        const char* title;
    };
    const std::string rhythms = (testing_support::programFolder() / "rhythms").string();
    const Case cases[] = {
        {ID_FILE_OPENRHYTHM, "saidi", "saidi.krf", &app->loadRhythmRequested, "Saidi"},
        {ID_FILE_OPENPLAYLIST, "lesson_beginner", "lesson_beginner.krp", &app->loadPlaylistRequested, nullptr}};
    for (const Case& c : cases) {
        headless::answerNextOpenFile(rhythms + "/" + c.typed);
        runMenuCommand(c.command);
        ASSERT_TRUE(*c.requested) << c.typed;
        EXPECT_EQ(std::string(app->selectedPath), rhythms + "/" + c.chosen);
        release();
        EXPECT_FALSE(*c.requested);
        ASSERT_GE(app->entryCount, 1) << c.typed;
        if (c.title) {
            EXPECT_EQ(app->entries[0].title, c.title);
        }
    }
    EXPECT_EQ(headless::openFileRequests().size(), 2u);
    EXPECT_TRUE(headless::messageBoxes().empty());
}

TEST_F(Controls, AFailedLoadLeavesNothingThatPlays) {
    loadNotations({"D-t-T-k-"}, 120, 2);
    std::string path = (testing_support::programFolder() / "no such rhythm.krf").string();
    std::strcpy(app->selectedPath, path.c_str());
    app->loadRhythmRequested = true;
    release();
    ASSERT_EQ(headless::messageBoxes().size(), 1u);
    EXPECT_EQ(headless::messageBoxes()[0].text, "Error Reading File");
    // The refused file changed nothing: the rhythm the learner had still plays.
    EXPECT_TRUE(app->rhythmLoaded);
    EXPECT_EQ(app->tempo, 120);
    ASSERT_EQ(app->entryCount, 1);
    EXPECT_EQ(app->entries[0].stepCount, 8);
    frame(12, 235, true);  // Play
    EXPECT_TRUE(app->threadRunning.load());
    EXPECT_EQ(app->playState, Playing);
    release();
    app->stop();
    // An entry that cannot play is refused by Play, and the state says so: not Playing.
    loadNotations({""}, 120, 2);
    app->playState = Paused;
    frame(12, 235, true);  // Play
    EXPECT_FALSE(app->threadRunning.load());
    EXPECT_EQ(app->playState, Stopped);
    release();  // drawing the empty entry must not touch its missing parts
}

}  // namespace
