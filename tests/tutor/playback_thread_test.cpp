// The playback thread on the manual clock: when steps sound, what they sound, the beat flag,
// the pass count, time beyond a step dropped, tempo and volume changes taken up on the next
// pass, and a playlist played entry after entry with a breath between entries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tutor/playback_fixture.h"

namespace {

using testing_support::SoundedStep;
using PlaybackThread = testing_support::PlaybackFixture;

constexpr double increment = 0.0025;
// A step is seen after the increment that carries the step clock past the step time, so a
// measured interval is the step time plus less than one increment.
constexpr double slack = increment + 1e-6;

// Sixteen steps with rests on the beats at 4 and 12 and every kind of stroke.
const std::string sixteenSteps = "D-tk-PS-Dk-T-tPS";

TEST_F(PlaybackThread, SoundsSixteenStepsAnEighthOfASecondApartWithBeatsEveryFourth) {
    loadNotations({sixteenSteps}, 120, 4);
    app->start();
    ASSERT_TRUE(threadRunning.load());

    std::vector<SoundedStep> steps;
    for (int i = 0; i < 33; ++i) {
        auto step = nextStep(increment);
        ASSERT_TRUE(step) << "step " << i << " never sounded";
        steps.push_back(*step);
    }
    for (int i = 0; i < 33; ++i) {
        const SoundedStep& step = steps[i];
        const char letter = sixteenSteps[i % 16];
        EXPECT_EQ(step.step, i % 16) << i;
        EXPECT_FALSE(step.unknownSound) << "step " << i << " sounded something unexpected";
        EXPECT_EQ(step.slot, slotOf(letter)) << "step " << i << " '" << letter << "'";
        EXPECT_EQ(step.beat, i % 4 == 0) << "beat flag at step " << i;
    }
    for (int i = 1; i < 33; ++i) {
        const double interval = steps[i].at - steps[i - 1].at;
        EXPECT_GE(interval, 0.125 - 1e-6) << "before step " << i;
        EXPECT_LE(interval, 0.125 + slack) << "before step " << i;
    }
    EXPECT_NEAR(steps[16].at - steps[0].at, 2.0, 16 * slack);
    EXPECT_NEAR(steps[32].at - steps[16].at, 2.0, 16 * slack);

    // A repeat count of 0 never ends the entry: the passes are counted and play goes on.
    EXPECT_EQ(app->entries[0].repeatsDone.load(), 2);
    EXPECT_TRUE(threadRunning.load());
    EXPECT_FALSE(advanceRequested.load());
    EXPECT_FALSE(stopRequested.load());

    // Each slot kept its own channel.
    const std::pair<SoundSlot*, int> channels[] = {
        {&app->doumSlot, 0}, {&app->halfTekSlot, 1}, {&app->tekSlot, 2}, {&app->slapSlot, 3}};
    for (const auto& [slot, expected] : channels) {
        int index = -1;
        ASSERT_NE(slot->channel, nullptr);
        slot->channel->getIndex(&index);
        EXPECT_EQ(index, expected);
    }
}

TEST_F(PlaybackThread, DropsTimeBeyondTheStepAndFollowsAStepTimeChangeAtOnce) {
    loadNotations({"DtPS"}, 120, 4);
    RhythmEntry& entry = app->entries[0];
    app->start();

    // 0.2 s at once sounds one step, not one and a half.
    ASSERT_TRUE(advance(0.2));
    EXPECT_EQ(app->stepIndex.load(), 1);
    EXPECT_EQ(app->stepClock.load(), 0.0);
    // The 0.075 s beyond it were dropped: 0.1 s more is not yet a step ...
    ASSERT_TRUE(advance(0.1));
    EXPECT_EQ(app->stepIndex.load(), 1);
    // ... and 0.03 s more is.
    ASSERT_TRUE(advance(0.03));
    EXPECT_EQ(app->stepIndex.load(), 2);

    // Slower in the middle of a step: the longer step time counts from the step's start.
    ASSERT_TRUE(advance(0.1));
    entry.stepTime.store(0.25);
    ASSERT_TRUE(advance(0.1));
    EXPECT_EQ(app->stepIndex.load(), 2);
    ASSERT_TRUE(advance(0.06));
    EXPECT_EQ(app->stepIndex.load(), 3);

    // Faster in the middle of a step: 0.1 s have gone by, so a 0.05 s step sounds on the
    // next pass without any more time, and the pass wraps to step 0.
    ASSERT_TRUE(advance(0.1));
    EXPECT_EQ(app->stepIndex.load(), 3);
    entry.stepTime.store(0.05);
    EXPECT_TRUE(spinUntil([&] { return app->stepIndex.load() == 0; }));
    EXPECT_EQ(entry.repeatsDone.load(), 1);
}

TEST_F(PlaybackThread, TakesAVolumeChangeToTheGroupOnItsNextPass) {
    loadNotations({"D-t-"}, 120, 4);
    float volume = 0.0f;

    // Made while stopped: nothing applies it until a thread runs.
    app->volume.store(0.25f);
    app->volumeChanged.store(true);
    ASSERT_EQ(app->masterGroup->getVolume(&volume), audio::Ok);
    EXPECT_EQ(volume, 1.0f);

    // The thread's first pass applies it, before any time has passed or any step sounded.
    app->start();
    ASSERT_TRUE(spinUntil([&] { return !app->volumeChanged.load(); }));
    app->masterGroup->getVolume(&volume);
    EXPECT_EQ(volume, 0.25f);

    // While playing, between steps.
    app->volume.store(0.75f);
    app->volumeChanged.store(true);
    ASSERT_TRUE(spinUntil([&] { return !app->volumeChanged.load(); }));
    app->masterGroup->getVolume(&volume);
    EXPECT_EQ(volume, 0.75f);
    EXPECT_EQ(app->stepIndex.load(), 0);
    EXPECT_TRUE(threadRunning.load());
}

TEST_F(PlaybackThread, PlaysAPlaylistInOrderWithItsRepeatsAndABreathAfterEachEntry) {
    // 300 BPM, four steps a beat: 0.05 s steps, shorter than the breath after an entry.
    const std::vector<std::string> notations = {"D-P-", "S-t-", "PDk-"};
    const std::vector<int32_t> repeats = {2, 1, 3};
    loadNotations(notations, 300, 4, repeats);
    app->start();

    struct Expected {
        int32_t entry;
        int32_t step;
    };
    std::vector<Expected> expected;
    for (int32_t entry : {0, 0, 1, 2, 2, 2, 0})
        for (int32_t step = 0; step < 4; ++step) expected.push_back({entry, step});

    std::vector<SoundedStep> steps;
    int endings = 0;
    while (steps.size() < expected.size()) {
        auto step = nextStep(increment);
        if (step) {
            steps.push_back(*step);
            continue;
        }
        // The thread ended the entry after its last pass: it asks for the next one.
        ASSERT_FALSE(threadRunning.load()) << "silent for 5 s after " << steps.size() << " steps";
        ASSERT_TRUE(advanceRequested.load());
        const int32_t left = app->currentEntry;
        EXPECT_EQ(app->entries[left].repeatsDone.load(), repeats[left]);
        ASSERT_LT(++endings, 4);
        // The frame loop serves the request; the thread starts again on the next entry.
        app->update(1.0f / 45.0f);
        EXPECT_FALSE(advanceRequested.load());
        EXPECT_EQ(app->currentEntry, (left + 1) % 3);
        EXPECT_EQ(app->entries[left].repeatsDone.load(), 0) << "the left entry starts afresh";
        EXPECT_EQ(app->playState, Playing);
        expectIndex(0);
    }
    EXPECT_EQ(endings, 3);

    for (std::size_t i = 0; i < steps.size(); ++i) {
        const char letter = notations[expected[i].entry][expected[i].step];
        EXPECT_EQ(steps[i].entry, expected[i].entry) << i;
        EXPECT_EQ(steps[i].step, expected[i].step) << i;
        EXPECT_FALSE(steps[i].unknownSound) << i;
        EXPECT_EQ(steps[i].slot, slotOf(letter)) << "entry " << expected[i].entry << " step "
                                                 << expected[i].step;
        if (i == 0) continue;
        const double interval = steps[i].at - steps[i - 1].at;
        if (steps[i].entry != steps[i - 1].entry) {
            EXPECT_GE(interval, 0.120) << "no breath before entry " << steps[i].entry;
        } else {
            EXPECT_GE(interval, 0.05 - 1e-6) << i;
            EXPECT_LE(interval, 0.05 + slack) << i;
        }
    }
    // Back on the first entry after the wrap, one pass into its two.
    EXPECT_EQ(app->currentEntry, 0);
    EXPECT_EQ(app->entries[0].repeatsDone.load(), 1);
    EXPECT_EQ(app->entries[1].repeatsDone.load(), 0);
    EXPECT_EQ(app->entries[2].repeatsDone.load(), 0);
}

}  // namespace
