// The playback thread on the manual clock: when steps sound, what they sound, the beat flag,
// the pass count, the timeline of due times that carries time beyond a step, starts placed
// on their due frame, wake-ups by the transport and the volume, and a playlist played entry
// after entry with a breath between entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/audio/audio.h"
#include "platform/manual_clock.h"
#include "tests/support/test_support.h"
#include "tests/tutor/playback_fixture.h"
#include "tutor/controls.h"

namespace {

using testing_support::SoundedStep;
using PlaybackThread = testing_support::PlaybackFixture;

constexpr double increment = 0.0025;
// A step is seen after the increment that carries the clock past its due time, so a measured
// interval is the step time give or take less than one increment.
constexpr double slack = increment + 1e-6;

// Sixteen steps with rests on the beats at 4 and 12 and every kind of stroke.
const std::string sixteenSteps = "D-tk-PS-Dk-T-tPS";

TEST_F(PlaybackThread, SoundsSixteenStepsAnEighthOfASecondApartWithBeatsEveryFourth) {
    loadNotations({sixteenSteps}, 120, 4);
    app->start();
    ASSERT_TRUE(app->threadRunning.load());

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
        EXPECT_NEAR(interval, 0.125, slack) << "before step " << i;
    }
    // Whole passes take exactly their time: nothing is lost between steps.
    EXPECT_NEAR(steps[16].at - steps[0].at, 2.0, slack);
    EXPECT_NEAR(steps[32].at - steps[16].at, 2.0, slack);

    // A repeat count of 0 never ends the entry: the passes are counted and play goes on.
    EXPECT_EQ(app->entries[0].repeatsDone.load(), 2);
    EXPECT_TRUE(app->threadRunning.load());
    EXPECT_FALSE(app->advanceRequested.load());
    EXPECT_FALSE(app->stopRequested.load());

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

TEST_F(PlaybackThread, KeepsEveryStepOnItsTimelineAndPlacesLateWakeUpsOnTheirFrame) {
    // Half teks on every fourth step: each sounds alone, with silence before the next.
    loadNotations({"P---"}, 120, 4);
    RhythmEntry& entry = app->entries[0];
    audio::System* system = app->audioSystem;
    const int rate = audio::outputSampleRate(system);
    const int latency = audio::outputLatencyFrames(system);
    // Past every frame rendered at set-up, so the output's clock (kept on the manual clock's
    // time from here) can place every start; the stamps then decide the frames.
    platform::advanceManualClock(3.0);
    audio::offlineSetTime(system, platform::manualClockSeconds());
    // Sets the output's clock while the thread sleeps, then moves time on and wakes it.
    const auto late = [&](double seconds) {
        audio::offlineSetTime(system, platform::manualClockSeconds() + seconds);
        return advance(seconds);
    };

    std::vector<double> dues{platform::manualClockSeconds()};
    app->start();  // the first step sounds at once, stamped with the clock set above
    ASSERT_TRUE(advance(0.0));
    double stepTime = 0.125;
    for (int step = 1; step < 1000; ++step) {
        if (step == 500) {
            entry.stepTime.store(0.1);  // faster from the step awaited: it is re-timed
            ASSERT_TRUE(advance(0.0));
            stepTime = 0.1;
        }
        dues.push_back(dues.back() + stepTime);
        // Woken 3 ms after the step was due, or 1 ms after, by turns.
        const double wake = dues.back() + (step % 2 ? 0.003 : 0.001);
        ASSERT_TRUE(late(wake - platform::manualClockSeconds())) << step;
        ASSERT_EQ(app->stepIndex.load(), (step + 1) % 4) << step;
        ASSERT_EQ(app->stepClock.load(), dues.back() + stepTime) << "drift at step " << step;
    }
    EXPECT_EQ(app->lateSteps.load(), 0u);

    // Half a second late is beyond what the output absorbs: one stroke sounds at once, the
    // four overdue steps are not made up, and the timeline goes on from the wake-up.
    ASSERT_TRUE(late(dues.back() + stepTime + 0.5 - platform::manualClockSeconds()));
    EXPECT_EQ(app->stepIndex.load(), 1);
    EXPECT_EQ(app->lateSteps.load(), 1u);
    EXPECT_EQ(app->stepClock.load(), platform::manualClockSeconds() + stepTime);
    dues.push_back(platform::manualClockSeconds());

    // Every half tek starts exactly on its due frame, plus the output's constant latency.
    std::size_t firstSound = 0;
    while (slotWindows[1][2 * firstSound] == 0.0f) ++firstSound;
    const int64_t end = std::llround(dues.back() * rate) + latency + 4096;
    std::vector<float> audio(static_cast<std::size_t>(end - renderedFrames) * 2);
    ASSERT_EQ(audio::offlineRender(system, audio.data(), audio.size() / 2), audio::Ok);
    // An onset: the first sound after at least a millisecond of exact silence.
    std::vector<int64_t> onsets;
    std::size_t silent = 48;
    for (std::size_t i = 0; i < audio.size() / 2; ++i) {
        if (audio[2 * i] == 0.0f && audio[2 * i + 1] == 0.0f) {
            ++silent;
            continue;
        }
        if (silent >= 48) onsets.push_back(renderedFrames + static_cast<int64_t>(i - firstSound));
        silent = 0;
    }
    ASSERT_EQ(onsets.size(), 251u);
    for (std::size_t k = 0; k < onsets.size(); ++k) {
        const double due = k < 250 ? dues[4 * k] : dues.back();
        EXPECT_EQ(onsets[k], std::llround(due * rate) + latency) << "stroke " << k;
    }
}

TEST_F(PlaybackThread, StopPauseEntryChangesAndLoadsWakeASleepingThreadAtOnce) {
    loadNotations({"D-t-", "S-P-"}, 120, 4);
    // After the first step the next is due in an hour: only a wake-up ends the sleep.
    app->entries[0].stepTime.store(3600.0);
    app->entries[1].stepTime.store(3600.0);
    const double clock = platform::manualClockSeconds();
    const auto sleeping = [&] {
        return spinUntil([&] { return app->sleepingUntil.load() > clock + 1000.0; });
    };
    app->start();
    ASSERT_TRUE(sleeping());
    app->togglePause();
    EXPECT_FALSE(app->threadRunning.load());
    app->start();
    ASSERT_TRUE(sleeping());
    app->stop();
    EXPECT_FALSE(app->threadRunning.load());
    app->start();
    ASSERT_TRUE(sleeping());
    app->advanceRequested.store(true);
    runFrame();
    EXPECT_EQ(app->currentEntry, 1);
    ASSERT_TRUE(sleeping());
    const std::string rhythm = (testing_support::programFolder() / "rhythms" / "maqsum.krf").string();
    std::snprintf(app->selectedPath, selectedPathSize, "%s", rhythm.c_str());
    app->loadRhythmRequested = true;
    runFrame();
    EXPECT_EQ(app->entries[0].title, "Maqsum");
    EXPECT_TRUE(app->threadRunning.load());
    EXPECT_EQ(platform::manualClockSeconds(), clock) << "the transport waited out time";
}

TEST_F(PlaybackThread, ATempoDragRetimesThePendingStepAtOnce) {
    loadNotations({"DDDD"}, 30, 4);  // half-second steps
    // Takes the knob, drags it to a row and lets go; the step time that results.
    const auto dragTempoTo = [&](int32_t row) {
        runFrame(0.0f);  // the knob where the tempo puts it
        const int32_t knobTop = app->controlRects[TempoKnob].top;
        app->updateState(0.0f, FrameInput{true, POINT{450, knobTop + 1}});
        app->updateState(0.0f, FrameInput{true, POINT{450, row}});
        app->updateState(0.0f, FrameInput{});
        return app->entries[0].stepTime.load();
    };
    app->start();
    ASSERT_TRUE(advance(0.0));
    const double first = app->stepClock.load() - 0.5;  // the first stroke's due time
    // Faster, the pending step's new time already past: it sounds at once, and the timeline
    // goes on from it.
    ASSERT_TRUE(advance(0.25));
    const double fast = dragTempoTo(controls::knobBottomRow - controls::knobTravel);
    EXPECT_EQ(app->tempo, 300);
    ASSERT_TRUE(spinUntil([&] { return app->stepIndex.load() == 2; }));
    EXPECT_NEAR(app->stepClock.load(), first + 0.25 + fast, 1e-9);
    // Slower just after that stroke: the next is due one new step time after it.
    const double slow = dragTempoTo(150);
    ASSERT_GT(slow, fast);
    ASSERT_TRUE(spinUntil([&] { return std::fabs(app->stepClock.load() - (first + 0.25 + slow)) < 1e-9; }));
    expectIndex(2);
    const auto step = nextStep(increment);
    ASSERT_TRUE(step);
    EXPECT_NEAR(step->at, first + 0.25 + slow, slack);
}

TEST_F(PlaybackThread, TakesAVolumeChangeToTheGroupAtOnce) {
    loadNotations({"D-t-"}, 120, 4);
    float volume = 0.0f;

    // Made while stopped: nothing applies it until a thread runs.
    app->volume.store(0.25f);
    app->volumeChanged.store(true);
    ASSERT_EQ(app->masterGroup->getVolume(&volume), audio::Ok);
    EXPECT_EQ(volume, 1.0f);

    // The thread applies it as it starts.
    app->start();
    ASSERT_TRUE(spinUntil([&] { return !app->volumeChanged.load(); }));
    app->masterGroup->getVolume(&volume);
    EXPECT_EQ(volume, 0.25f);

    // While it sleeps between steps: woken, it applies the change without waiting for a step.
    ASSERT_TRUE(advance(0.0));
    const int32_t index = app->stepIndex.load();
    app->volume.store(0.75f);
    app->volumeChanged.store(true);
    app->wakePlayback();
    ASSERT_TRUE(spinUntil([&] { return !app->volumeChanged.load(); }));
    app->masterGroup->getVolume(&volume);
    EXPECT_EQ(volume, 0.75f);
    EXPECT_EQ(app->stepIndex.load(), index);
    EXPECT_TRUE(app->threadRunning.load());
}

TEST_F(PlaybackThread, PlaysAPlaylistInOrderWithItsRepeatsAndABreathAfterEachEntry) {
    // 300 BPM, four steps a beat: 0.05 s steps, shorter than the breath after an entry.
    const std::vector<std::string> notations = {"D-P-", "S-t-", "PDk-"};
    const std::vector<int32_t> repeats = {2, 1, 3};
    loadNotations(notations, 300, 4, repeats);
    // The middle entry is slower than the breath: its last step keeps its whole length.
    app->entries[1].stepTime.store(0.25);
    const double stepTimes[] = {0.05, 0.25, 0.05};
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
        ASSERT_FALSE(app->threadRunning.load()) << "silent for 5 s after " << steps.size() << " steps";
        ASSERT_TRUE(app->advanceRequested.load());
        const int32_t left = app->currentEntry;
        EXPECT_EQ(app->entries[left].repeatsDone.load(), repeats[left]);
        ASSERT_LT(++endings, 4);
        // The frame loop serves the request; the thread starts again on the next entry.
        runFrame();
        EXPECT_FALSE(app->advanceRequested.load());
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
        // A seam lasts the old entry's step, or the breath where that is longer.
        const double before = stepTimes[steps[i - 1].entry];
        const double expectedInterval =
            steps[i].entry != steps[i - 1].entry ? std::max(before, 0.120) : before;
        EXPECT_NEAR(interval, expectedInterval, slack) << i;
    }
    // Back on the first entry after the wrap, one pass into its two.
    EXPECT_EQ(app->currentEntry, 0);
    EXPECT_EQ(app->entries[0].repeatsDone.load(), 1);
    EXPECT_EQ(app->entries[1].repeatsDone.load(), 0);
    EXPECT_EQ(app->entries[2].repeatsDone.load(), 0);
}

TEST_F(PlaybackThread, APracticeSessionCountsInClimbsWherePassesBeginAndLeavesPassesSilent) {
    // Two beats a cycle: a bar of count-in is two clicks. Half a second a beat at 120 BPM.
    loadNotations({"D-t-"}, 120, 2);
    PracticeChoices& practice = app->practice;
    practice.countInBars.store(2);
    practice.speedStep.store(10);
    practice.speedRange.store(20);
    practice.silentPlay.store(1);
    practice.silentRest.store(1);
    app->start();
    std::vector<SoundedStep> steps;
    while (steps.size() < 16) {
        auto step = nextStep(increment);
        ASSERT_TRUE(step) << "step " << steps.size() << " never sounded";
        steps.push_back(*step);
    }
    // Four clicks a beat apart, and the first stroke one beat after the last, to the tick.
    ASSERT_EQ(steps[0].clicks.size(), 4u);
    for (std::size_t i = 1; i < 4; ++i) EXPECT_NEAR(steps[0].clicks[i] - steps[0].clicks[i - 1], 0.5, 1e-9);
    EXPECT_NEAR(steps[0].at - steps[0].clicks.back(), 0.5, 1e-9);
    // 120, 130, 140 BPM and holding; a new tempo times the steps of its pass from its first.
    const int32_t tempos[] = {120, 130, 140, 140};
    for (int i = 0; i < 16; ++i) {
        const int pass = i / 4;
        EXPECT_EQ(steps[i].silent, pass % 2 == 1) << i;
        // The offline output renders the clicks with the first stroke: more than one sound.
        if (i == 0) EXPECT_TRUE(steps[i].unknownSound);
        else EXPECT_EQ(steps[i].slot, steps[i].silent ? nullptr : slotOf("D-t-"[i % 4])) << i;
        EXPECT_EQ(steps[i].ladderTempo, i % 4 == 0 && pass > 0 && pass < 3 ? tempos[pass] : 0) << i;
        if (i == 0) continue;
        const double stepTime = 60.0 / (2 * tempos[(i - 1) / 4]);
        EXPECT_NEAR(steps[i].at - steps[i - 1].at, stepTime, 1e-9) << i;
    }
    // Stop: the trainer's entry goes back to where it started.
    app->stop();
    EXPECT_EQ(app->tempo, 120);
    EXPECT_EQ(app->entries[0].tempo, 120);
    expectIndex(0);

    // Play again: a new count-in; a resume after a pause has none; a tempo set by hand ends
    // the trainer there, and Stop leaves it.
    app->start();
    auto first = nextStep(increment);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->clicks.size(), 4u);
    app->togglePause();
    app->start();
    auto resumed = nextStep(increment);
    ASSERT_TRUE(resumed);
    EXPECT_TRUE(resumed->clicks.empty());
    app->setTempoByHand(100);
    for (int i = 2; i < 8; ++i) {
        auto step = nextStep(increment);
        ASSERT_TRUE(step);
        EXPECT_EQ(step->ladderTempo, 0) << i;
        if (i > 2) {
            EXPECT_NEAR(step->at - resumed->at, (i - 1) * 0.3, 1e-9) << i;
        }
    }
    app->stop();
    EXPECT_EQ(app->tempo, 100);
}

TEST_F(PlaybackThread, AHeldEntryRepeatsUntilReleasedAndThenEndsItsPass) {
    loadNotations({"D-", "t-"}, 300, 4, {1, 1});
    app->practice.hold.store(true);
    app->start();
    for (int i = 0; i < 6; ++i) {
        auto step = nextStep(increment);
        ASSERT_TRUE(step) << i;
        EXPECT_EQ(step->entry, 0) << i;
        if (i == 4) app->practice.hold.store(false);  // released in the third pass
    }
    EXPECT_FALSE(nextStep(increment));
    EXPECT_TRUE(app->advanceRequested.load());
    EXPECT_EQ(app->entries[0].repeatsDone.load(), 3);
}

}  // namespace
