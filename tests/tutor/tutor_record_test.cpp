// The tutor record: its start values and its shutdown, with and without a playback thread.
#include <gtest/gtest.h>

#include "app/app_window.h"
#include "platform/common/gdi_memory.h"
#include "tests/support/tutor_fixture.h"

namespace {

TEST(TutorRecord, StartsStoppedWithItsDefaults) {
    TutorApp app;
    EXPECT_EQ(app.playState, Stopped);
    EXPECT_EQ(app.tempo, 30);
    EXPECT_EQ(app.volume.load(), 1.0f);
    EXPECT_EQ(app.flashFrames, 30);
    EXPECT_EQ(app.stepIndex.load(), 0);
    EXPECT_EQ(app.entryCount, 0);
    EXPECT_EQ(app.entries, nullptr);
    EXPECT_EQ(app.buttonInterval, 0.2f);
    EXPECT_FALSE(app.rhythmLoaded);
    EXPECT_EQ(app.audioSystem, nullptr);
    EXPECT_EQ(app.background.pixels, nullptr);
    // Nothing is loaded, so start does nothing.
    app.start();
    EXPECT_EQ(app.playState, Stopped);
    EXPECT_FALSE(app.playbackThread.joinable());
    EXPECT_FALSE(app.threadRunning.load());
}

using TutorShutdown = testing_support::TutorFixture;

TEST_F(TutorShutdown, ReleasesEverythingWhenNothingWasPlayed) {
    app->shutDown();
    EXPECT_EQ(app->audioSystem, nullptr);
    EXPECT_EQ(app->entries, nullptr);
    EXPECT_EQ(app->doumSlot.sound, nullptr);
    EXPECT_EQ(app->background.pixels, nullptr);
    EXPECT_EQ(app->playlistButtons.pixels, nullptr);
    // A second shutdown finds nothing left to release.
    app->shutDown();
}

TEST_F(TutorShutdown, EndsARunningPlaybackThreadBeforeReleasingAudio) {
    loadNotations({"D-t-T-k-"}, 120, 2);
    app->start();
    ASSERT_EQ(app->playState, Playing);
    ASSERT_TRUE(app->threadRunning.load());
    app->shutDown();
    EXPECT_FALSE(app->threadRunning.load());
    EXPECT_FALSE(app->playbackThread.joinable());
    EXPECT_EQ(app->audioSystem, nullptr);
    EXPECT_EQ(app->entries, nullptr);
}

TEST_F(TutorShutdown, LaysOutTheNineControls) {
    const SpriteRect expected[] = {{10, 230, 25, 245},  {28, 230, 43, 245}, {46, 230, 61, 245},
                                   {439, 270, 469, 280}, {448, 96, 459, 211}, {528, 270, 558, 280},
                                   {537, 96, 548, 211},  {10, 200, 25, 215},  {78, 200, 93, 215}};
    for (int i = 0; i < controlCount; ++i) {
        EXPECT_EQ(app->controlRects[i].left, expected[i].left) << i;
        EXPECT_EQ(app->controlRects[i].top, expected[i].top) << i;
        EXPECT_EQ(app->controlRects[i].right, expected[i].right) << i;
        EXPECT_EQ(app->controlRects[i].bottom, expected[i].bottom) << i;
    }
    float volume = 0.0f;
    ASSERT_NE(app->masterGroup, nullptr);
    app->masterGroup->getVolume(&volume);
    EXPECT_EQ(volume, 1.0f);
}

}  // namespace
