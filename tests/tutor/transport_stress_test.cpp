// A thousand random transport operations from the main thread against the playback thread
// on the steady clock, with very short steps so that entries end by themselves too. Run it
// under ThreadSanitizer: it must end without a report and without hanging, and the tutor
// must keep its state consistent after every operation.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "platform/audio/audio.h"
#include "tests/support/tutor_fixture.h"

namespace {

using TransportStress = testing_support::TutorFixture;

TEST_F(TransportStress, AThousandRandomOperationsEndCleanly) {
    // The third entry cannot play; the fourth never ends by itself.
    loadNotations({"D-tk", "S-P-t", "", "DDDD-k"}, 300, 4, {1, 2, 1, 0});
    for (int32_t i = 0; i < app->entryCount; ++i) app->entries[i].stepTime.store(0.001);

    std::mt19937 random(20261207);
    std::vector<float> rendered(256 * 2);
    int operations[10] = {};
    for (int i = 0; i < 1000; ++i) {
        const int operation = static_cast<int>(random() % 10);
        ++operations[operation];
        switch (operation) {
            case 0:
                app->start();
                break;
            case 1:
                app->togglePause();
                break;
            case 2:
                app->stop();
                break;
            case 3:
                app->advanceRequested.store(true);
                app->changeEntry();
                break;
            case 4:
                app->previousRequested.store(true);
                app->changeEntry();
                break;
            case 5:
                // What the tempo slider does to the entry the thread is playing.
                if (RhythmEntry* entry = app->current())
                    entry->stepTime.store(0.0005 * static_cast<double>(1 + random() % 4));
                break;
            case 6:
                app->volume.store(static_cast<float>(random() % 101) / 100.0f);
                app->volumeChanged.store(true);
                break;
            case 7:
                // A frame: serves the entry changes the thread asks for, draws the screen.
                runFrame();
                break;
            case 8:
                audio::offlineRender(app->audioSystem, rendered.data(), 256);
                break;
            default:
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
                break;
        }
        ASSERT_GE(app->currentEntry, 0) << "after operation " << i;
        ASSERT_LT(app->currentEntry, app->entryCount) << "after operation " << i;
        if (app->playState != Playing) {
            ASSERT_FALSE(app->threadRunning.load()) << "a thread runs while not playing, op " << i;
        }
        ASSERT_GE(app->stepIndex.load(), 0);
        ASSERT_LE(app->stepIndex.load(), app->current()->stepCount);
    }
    for (int count : operations) EXPECT_GT(count, 0);

    app->stop();
    EXPECT_EQ(app->playState, Stopped);
    EXPECT_FALSE(app->threadRunning.load());
    EXPECT_FALSE(app->playbackThread.joinable());
    EXPECT_EQ(app->stepIndex.load(), 0);
}

}  // namespace
