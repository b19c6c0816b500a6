// The transport on the main thread against the real playback thread on the manual clock:
// pause and resume, stop and start, start while playing, entry changes with and without a
// thread, and entries that cannot play.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/audio/audio.h"
#include "tests/tutor/playback_fixture.h"

namespace {

using Transport = testing_support::PlaybackFixture;

const std::string sixteenSteps = "D-tk-PS-Dk-T-tPS";

TEST_F(Transport, PauseThenStartContinuesWithTheNextStep) {
    loadNotations({sixteenSteps}, 120, 4);
    // Pausing while stopped does nothing.
    app->togglePause();
    EXPECT_EQ(app->playState, Stopped);
    EXPECT_FALSE(app->threadRunning.load());

    app->start();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(nextStep()) << i;
    app->togglePause();
    EXPECT_EQ(app->playState, Paused);
    EXPECT_FALSE(app->threadRunning.load()) << "pause waits for the thread to end";
    EXPECT_FALSE(app->playbackThread.joinable());
    EXPECT_EQ(app->stepIndex.load(), 5);

    // Time passes while paused; nothing plays.
    ASSERT_TRUE(advance(1.0));
    EXPECT_EQ(app->stepIndex.load(), 5);

    app->togglePause();
    EXPECT_EQ(app->playState, Playing);
    EXPECT_TRUE(app->threadRunning.load());
    auto step = nextStep();
    ASSERT_TRUE(step);
    EXPECT_EQ(step->step, 5);
    EXPECT_EQ(step->slot, slotOf(sixteenSteps[5]));
    step = nextStep();
    ASSERT_TRUE(step);
    EXPECT_EQ(step->step, 6);
    EXPECT_EQ(step->slot, slotOf(sixteenSteps[6]));

    // The screen after a pause, with the sound heard 0.1 s after its stamp: the label at
    // once; a stroke placed before the pause when it is heard, and then no further, where
    // play resumes. A stop shows the start at once.
    audio::offlineSetDeviceLatency(app->audioSystem, 0.1);
    while (app->stepIndex.load() == 7) ASSERT_TRUE(advance(0.0025));
    app->togglePause();
    app->followHeard();
    EXPECT_EQ(app->shownState, Paused);
    EXPECT_GT(app->secondsUntilHeard(), 0.05) << "the placed stroke is not heard yet";
    ASSERT_TRUE(advance(0.2));
    app->followHeard();
    EXPECT_EQ(app->shown.stepIndex, 8);
    EXPECT_EQ(app->stepIndex.load(), 8);
    app->stop();
    app->followHeard();
    EXPECT_EQ(app->shownState, Stopped);
    EXPECT_EQ(app->shown.stepIndex, 0);
}

TEST_F(Transport, StopThenStartBeginsAtStepZeroAndKeepsThePassesDone) {
    const std::string notation = "DtPS-tk-";
    loadNotations({notation}, 120, 4, {3});
    app->start();
    for (int i = 0; i < 11; ++i) ASSERT_TRUE(nextStep()) << i;
    ASSERT_EQ(app->entries[0].repeatsDone.load(), 1);
    ASSERT_EQ(app->stepIndex.load(), 3);

    app->stop();
    EXPECT_EQ(app->playState, Stopped);
    EXPECT_FALSE(app->threadRunning.load());
    EXPECT_FALSE(app->playbackThread.joinable());
    EXPECT_EQ(app->stepIndex.load(), 0);
    EXPECT_EQ(app->stepClock.load(), 0.0);
    EXPECT_EQ(app->entries[0].repeatsDone.load(), 1) << "stop keeps the passes done";

    expectIndex(0);
    app->start();
    auto first = nextStep();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->step, 0);
    EXPECT_EQ(first->slot, &app->doumSlot);
    EXPECT_TRUE(first->beat);
    // One pass was done before the stop, so two more end the entry.
    int sounded = 1;
    while (nextStep()) ++sounded;
    EXPECT_EQ(sounded, 16);
    EXPECT_EQ(app->entries[0].repeatsDone.load(), 3);
    EXPECT_TRUE(app->advanceRequested.load());
    EXPECT_FALSE(app->threadRunning.load());
}

TEST_F(Transport, StartWhilePlayingKeepsTheOneThread) {
    loadNotations({"D-t-"}, 120, 4);
    app->start();
    auto first = nextStep();
    ASSERT_TRUE(first);
    const std::thread::id thread = app->playbackThread.get_id();

    app->start();
    EXPECT_EQ(app->playState, Playing);
    EXPECT_EQ(app->playbackThread.get_id(), thread) << "a second start started a thread";
    EXPECT_TRUE(app->threadRunning.load());
    auto second = nextStep(0.001);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->step, 1) << "a second start moved the position";
    EXPECT_NEAR(second->at - first->at, 0.125, 0.0011);

    // A thread already asked to end (as at the end of an entry) is waited for and a new one
    // runs in its place.
    app->stopRequested.store(true);
    app->start();
    EXPECT_FALSE(app->stopRequested.load());
    EXPECT_TRUE(app->threadRunning.load());
    EXPECT_TRUE(app->playbackThread.joinable());
    auto third = nextStep();
    ASSERT_TRUE(third) << "nothing played after the restart";
    EXPECT_EQ(third->step, 2);
    EXPECT_EQ(third->slot, &app->tekSlot);
}

TEST_F(Transport, NextAndPreviousWrapCopyTheTempoAndResetTheEntryLeft) {
    loadNotations({"D-", "t-", "S-"}, 120, 2);
    app->entries[0].tempo = 90;
    app->entries[2].tempo = 150;
    app->tempo = 90;
    app->entries[0].repeatsDone.store(2);
    app->entries[2].repeatsDone.store(1);
    app->stepIndex.store(1);

    app->previousEntry();
    EXPECT_EQ(app->currentEntry, 2);
    EXPECT_EQ(app->tempo, 150);
    EXPECT_EQ(app->stepIndex.load(), 0);
    EXPECT_EQ(app->entries[0].repeatsDone.load(), 0);
    EXPECT_EQ(app->entries[2].repeatsDone.load(), 1) << "only the entry left is reset";

    app->stepIndex.store(1);
    app->nextEntry();
    EXPECT_EQ(app->currentEntry, 0);
    EXPECT_EQ(app->tempo, 90);
    EXPECT_EQ(app->stepIndex.load(), 0);
    EXPECT_EQ(app->entries[2].repeatsDone.load(), 0);

    app->nextEntry();
    EXPECT_EQ(app->currentEntry, 1);
    EXPECT_EQ(app->tempo, 120);
    app->previousEntry();
    app->previousEntry();
    EXPECT_EQ(app->currentEntry, 2);
}

TEST_F(Transport, EntryChangesRestartOnlyWhenPlaying) {
    loadNotations({"D-D-", "S-S-", "P-P-"}, 120, 4);
    app->start();
    auto step = nextStep();
    ASSERT_TRUE(step);
    EXPECT_EQ(step->slot, &app->doumSlot);

    app->previousRequested.store(true);
    app->changeEntry();
    EXPECT_FALSE(app->previousRequested.load());
    EXPECT_EQ(app->currentEntry, 2);
    EXPECT_EQ(app->playState, Playing);
    EXPECT_TRUE(app->threadRunning.load());
    expectIndex(0);
    step = nextStep();
    ASSERT_TRUE(step);
    EXPECT_EQ(step->entry, 2);
    EXPECT_EQ(step->step, 0);
    EXPECT_EQ(step->slot, &app->halfTekSlot);

    app->advanceRequested.store(true);
    app->changeEntry();
    EXPECT_FALSE(app->advanceRequested.load());
    EXPECT_EQ(app->currentEntry, 0);
    expectIndex(0);
    step = nextStep();
    ASSERT_TRUE(step);
    EXPECT_EQ(step->entry, 0);
    EXPECT_EQ(step->slot, &app->doumSlot);

    // Paused: the entry changes and nothing plays until the rhythm is resumed.
    app->togglePause();
    app->advanceRequested.store(true);
    app->changeEntry();
    EXPECT_EQ(app->currentEntry, 1);
    EXPECT_EQ(app->playState, Paused);
    EXPECT_FALSE(app->threadRunning.load());
    EXPECT_FALSE(app->playbackThread.joinable());
    app->togglePause();
    expectIndex(0);
    step = nextStep();
    ASSERT_TRUE(step);
    EXPECT_EQ(step->entry, 1);
    EXPECT_EQ(step->slot, &app->slapSlot);
}

TEST_F(Transport, WithNothingLoadedEntryChangesTouchNothing) {
    ASSERT_EQ(app->entries, nullptr);
    app->tempo = 77;
    app->stepIndex.store(3);
    app->nextEntry();
    app->previousEntry();
    EXPECT_EQ(app->currentEntry, 0);
    EXPECT_EQ(app->tempo, 77);
    EXPECT_EQ(app->stepIndex.load(), 3);
    EXPECT_EQ(app->entries, nullptr);

    app->advanceRequested.store(true);
    app->previousRequested.store(true);
    app->changeEntry();
    EXPECT_FALSE(app->advanceRequested.load());
    EXPECT_FALSE(app->previousRequested.load());
    EXPECT_EQ(app->tempo, 77);
    EXPECT_EQ(app->stepIndex.load(), 3);

    app->start();
    EXPECT_EQ(app->playState, Stopped);
    EXPECT_FALSE(app->threadRunning.load());
}

TEST_F(Transport, AnEntryThatCannotPlayNeverStartsAThread) {
    struct Case {
        const char* name;
        std::string notation;
        int32_t subdivision;
    };
    const Case cases[] = {{"no steps", "", 4}, {"subdivision 0", "D-t-", 0},
                          {"negative subdivision", "D-t-", -2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        loadNotations({c.notation}, 120, c.subdivision);
        app->start();
        EXPECT_EQ(app->playState, Stopped);
        EXPECT_FALSE(app->threadRunning.load());
        EXPECT_FALSE(app->playbackThread.joinable());
        app->playState = Paused;
        app->togglePause();
        EXPECT_FALSE(app->threadRunning.load());
        EXPECT_FALSE(app->playbackThread.joinable());
        app->playState = Stopped;
    }

    // A playable entry while no rhythm counts as loaded.
    loadNotations({"D-t-"}, 120, 4);
    app->rhythmLoaded = false;
    app->start();
    EXPECT_FALSE(app->threadRunning.load());
    EXPECT_EQ(app->playState, Stopped);

    // An entry in its default state, never read: the thread's routine itself refuses it.
    destroyEntries(app->entries);
    app->entries = makeEntries(1);
    app->entryCount = 1;
    app->rhythmLoaded = true;
    app->start();
    EXPECT_FALSE(app->threadRunning.load());
    app->threadRunning.store(true);
    EXPECT_EQ(TutorApp::playbackLoop(app), 0);
    EXPECT_FALSE(app->threadRunning.load()) << "the routine still clears its running flag";
    EXPECT_EQ(identify({}).slot, nullptr);
}

TEST_F(Transport, MovingOntoAnEntryThatCannotPlayStopsPlay) {
    loadNotations({"D-t-", "", "S-t-"}, 120, 4);
    app->start();
    ASSERT_TRUE(nextStep());
    app->advanceRequested.store(true);
    app->changeEntry();
    EXPECT_EQ(app->currentEntry, 1);
    EXPECT_FALSE(app->threadRunning.load());
    EXPECT_FALSE(app->playbackThread.joinable());
    // Play was refused, and the state says so rather than claiming to play.
    EXPECT_EQ(app->playState, Stopped);

    // The next entry is not started by itself; Play starts it.
    app->advanceRequested.store(true);
    app->changeEntry();
    EXPECT_EQ(app->currentEntry, 2);
    EXPECT_FALSE(app->threadRunning.load());
    app->start();
    expectIndex(0);
    auto step = nextStep();
    ASSERT_TRUE(step);
    EXPECT_EQ(step->entry, 2);
    EXPECT_EQ(step->slot, &app->slapSlot);
}

}  // namespace
