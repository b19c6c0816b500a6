// The tutor listening: a learner's take fed through the offline input, the steps shown as
// heard, and what the tutor makes of it - the marks under the steps, the pass's summary and
// its report for the practice log.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "platform/audio/audio.h"
#include "platform/manual_clock.h"
#include "tests/tutor/playback_fixture.h"

namespace testing_support {
namespace {

class TutorListening : public PlaybackFixture {
protected:
    void SetUp() override {
        PlaybackFixture::SetUp();
        if (HasFatalFailure()) return;
        std::ifstream file("soundFont/default.cal");
        std::stringstream text;
        text << file.rdbuf();
        std::string error;
        ASSERT_TRUE(readCalibration(text.str(), app->listening.calibration, error)) << error;
    }

    // The learner's stroke of one kind, as the tutor's own sample of it (left channel).
    void place(std::vector<float>& take, int64_t frame, SoundSlot* slot) const {
        const std::size_t which = std::find(slots.begin(), slots.end(), slot) - slots.begin();
        const std::vector<float>& sound = slotWindows[which];
        for (std::size_t i = 0; i * 2 < sound.size() && frame + int64_t(i) < int64_t(take.size()); ++i)
            if (frame + int64_t(i) >= 0) take[frame + i] += 0.8f * sound[i * 2];
    }

    // Plays one silent pass of `notation` at 120 BPM, 4 steps a beat: the learner's strokes
    // as `played` says (a letter per step; '-' plays nothing), each offsetMs after its step
    // is heard; a sounding pass when silent is false. Returns the scored passes.
    std::vector<ScoredPassReport> playPass(const std::string& notation, const std::string& played, double offsetMs,
                                           bool silent = true) {
        loadNotations({notation}, 120, 4, {0});
        app->listening.choices.on = true;
        app->playState = Playing;
        app->listening.frame(*app);  // opens the (offline) input
        const int rate = audio::outputSampleRate(app->audioSystem);
        const double stepTime = 60.0 / 120 / 4;
        const double start = app->stepTimer.seconds();
        const double first = start + 0.5;
        std::vector<float> take(std::size_t((0.5 + stepTime * notation.size() + 1.0) * rate), 0.0f);
        for (std::size_t i = 0; i < played.size(); ++i)
            if (SoundSlot* slot = slotOf(played[i]))
                place(take, std::llround((first + i * stepTime + offsetMs / 1000.0 - start) * rate), slot);
        EXPECT_EQ(audio::offlineFeedCapture(app->audioSystem, take.data(), take.size(), start), audio::Ok);
        const int32_t steps = static_cast<int32_t>(notation.size());
        for (int32_t i = 0; i < steps; ++i) {
            platform::advanceManualClock(first + i * stepTime - app->stepTimer.seconds());
            const bool last = i + 1 == steps;
            app->listening.stepShown(*app, HeardStep{first + i * stepTime, 0, last ? 0 : i + 1, last ? 1 : 0,
                                                     i % 4 == 0, 0, silent, 0});
            app->listening.frame(*app);
        }
        platform::advanceManualClock(1.0);
        app->listening.frame(*app);
        return app->listening.takeScored();
    }
};

TEST_F(TutorListening, ASilentPassIsScoredAtTheOffsetsPlayedWithWrongAndMissedStrokesNamed) {
    // Step 4's tek is played as a slap, step 10's doum not at all.
    const std::vector<ScoredPassReport> scored = playPass("D--tD-t-D-t-tD-t", "D--tS-t-D---tD-t", 7.0);
    ASSERT_EQ(scored.size(), 1u);
    const ScoreSummary& summary = scored[0].summary;
    EXPECT_EQ(summary.strokes, 9);
    EXPECT_EQ(summary.onTime, 7);
    EXPECT_EQ(summary.wrong, 1);
    EXPECT_EQ(summary.missed, 1);
    EXPECT_EQ(summary.extra, 0);
    EXPECT_NEAR(summary.meanOffsetMs, 7.0, 1.0);
    EXPECT_LT(summary.spreadMs, 1.0);
    const std::vector<StepMark>& marks = app->listening.marks();
    ASSERT_EQ(marks.size(), 16u);
    EXPECT_EQ(marks[0], StepMark::OnTime);
    EXPECT_EQ(marks[1], StepMark::None);  // a rest
    EXPECT_EQ(marks[4], StepMark::Wrong);
    EXPECT_EQ(marks[10], StepMark::Missed);
    // The summary, a page at a time, each within the notice slot's 26 letters.
    EXPECT_EQ(app->listening.notice(app->stepTimer.seconds()), "7 OF 9 ON TIME");
    EXPECT_EQ(::Listening::summaryPages(summary),
              (std::vector<std::string>{"7 OF 9 ON TIME", "1 WRONG  1 MISSED", "LATE 7 MS  SPREAD 0 MS"}));
}

TEST_F(TutorListening, StrictToleranceCallsTheSameStrokesLateAndASoundingPassIsNotScored) {
    app->listening.choices.tolerance = Tolerance::Strict;
    std::vector<ScoredPassReport> scored = playPass("D-t-D-t-", "D-t-D-t-", 15.0);
    ASSERT_EQ(scored.size(), 1u);
    EXPECT_EQ(scored[0].summary.late, 4);
    EXPECT_EQ(app->listening.marks()[2], StepMark::Late);
    // Through loudspeakers the tutor would hear itself: its sounding passes are left alone,
    // and the marks of the pass scored before stay.
    EXPECT_TRUE(playPass("D-t-D-t-", "D-t-D-t-", 0.0, false).empty());
    EXPECT_EQ(app->listening.marks()[2], StepMark::Late);
}

TEST_F(TutorListening, ACalibrationTakeOfFourOfEachTeachesTheStrokesAndABadOneSaysWhy) {
    const int rate = audio::outputSampleRate(app->audioSystem);
    for (const std::string& played : {std::string("DDDDttttSSSS"), std::string("DDDDtttt")}) {
        ASSERT_TRUE(app->listening.beginCalibration(*app));
        std::vector<float> take(std::size_t((played.size() * 0.6 + 2.0) * rate), 0.0f);
        for (std::size_t i = 0; i < played.size(); ++i) place(take, std::llround((0.5 + i * 0.6) * rate), slotOf(played[i]));
        // Fed as it comes in, a frame's worth at a time: the input's ring holds a few seconds.
        const double start = app->stepTimer.seconds();
        const std::size_t piece = rate / 45;
        CalibrationResult result;
        for (std::size_t fed = 0; fed < 45 * 30 * piece && !app->listening.calibrationDone(result); fed += piece) {
            if (fed < take.size())
                audio::offlineFeedCapture(app->audioSystem, take.data() + fed, std::min(piece, take.size() - fed),
                                          start + double(fed) / rate);
            platform::advanceManualClock(double(piece) / rate);
            app->listening.frame(*app);
        }
        SCOPED_TRACE(played + ": " + result.message);
        EXPECT_EQ(result.ok, played.size() == 12);
        EXPECT_FALSE(result.message.empty());
    }
}

}  // namespace
}  // namespace testing_support
