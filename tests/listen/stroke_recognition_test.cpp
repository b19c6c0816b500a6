// Telling strokes apart: the default calibration and one from a learner's take hear the
// right kinds; calibrations survive their text form and damaged ones are refused; a take
// that is not four doums, four teks and four slaps is refused with a reason.
#include <gtest/gtest.h>

#include <cstdlib>

#include "listen/stroke_calibration.h"
#include "listen/stroke_listener.h"
#include "tests/listen/listen_takes.h"

using namespace listen_takes;

namespace {

// Four teks, two of them half, as a learner who plays both would.
const std::vector<Sample> calibrationOrder = {
    Sample::Doum, Sample::Doum,    Sample::Doum, Sample::Doum,    Sample::Tek,  Sample::HalfTek,
    Sample::Tek,  Sample::HalfTek, Sample::Slap, Sample::Slap,    Sample::Slap, Sample::Slap};

// Every stroke heard once, within a millisecond, and all but at most `wrong` as their kinds
// (a soft half tek just after a loud doum can pass for a slap).
void expectHeard(const StrokeCalibration& calibration, unsigned seed, int wrong, float noiseDb = -55.f) {
    const std::vector<Sample> mixed = {Sample::Slap, Sample::Doum, Sample::HalfTek, Sample::Tek,
                                       Sample::Doum, Sample::Tek,  Sample::Slap,    Sample::Doum,
                                       Sample::HalfTek, Sample::Slap, Sample::Tek,  Sample::Doum};
    const auto strokes = inSequence(mixed, 0.23, seed);
    const Take take = makeTake(strokes, 4.0, noiseDb, seed);
    StrokeListener listener(take.rate, calibration);
    std::vector<HeardStroke> heard;
    for (std::size_t at = 0; at < take.samples.size(); at += 512)
        listener.feed(take.samples.data() + at, std::min<std::size_t>(512, take.samples.size() - at), heard);
    listener.flush(heard);
    ASSERT_EQ(heard.size(), strokes.size());
    std::string kinds, truth;
    for (std::size_t i = 0; i < strokes.size(); ++i) {
        EXPECT_LE(std::llabs(heard[i].frame - strokes[i].frame), 44) << i;
        kinds += strokeLetter(heard[i].kind);
        truth += strokeLetter(kindOf(strokes[i].sample));
        wrong -= kinds.back() != truth.back();
        EXPECT_NEAR(heard[i].level, strokes[i].gainDb - 3.f, 2.f) << i;  // the samples peak at -3 dBFS
    }
    EXPECT_GE(wrong, 0) << "heard " << kinds << " for " << truth;
}

}  // namespace

TEST(StrokeRecognition, theShippedDefaultCalibrationHearsTheSamples) {
    StrokeCalibration calibration;
    std::string error;
    ASSERT_TRUE(readCalibration(dataText("soundFont/default.cal"), calibration, error)) << error;
    EXPECT_FALSE(calibration.learner);
    expectHeard(calibration, 5, 0);
}

TEST(StrokeRecognition, aLearnersTakeCalibratesAndHearsAFreshTake) {
    const Take take = makeTake(inSequence(calibrationOrder, 0.6, 11), 8.5, -50.f, 11);
    const CalibrationResult result = calibrateFromTake(take.samples.data(), take.samples.size(), take.rate);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_TRUE(result.calibration.learner);
    expectHeard(result.calibration, 12, 1);
    // Clean (noise at -300 dB), as a tutor listening to its own output hears.
    const Take clean = makeTake(inSequence(calibrationOrder, 0.6, 11), 8.5, -300.f, 11);
    const CalibrationResult fromClean = calibrateFromTake(clean.samples.data(), clean.samples.size(), clean.rate);
    ASSERT_TRUE(fromClean.ok) << fromClean.message;
    expectHeard(fromClean.calibration, 12, 1, -300.f);
}

TEST(StrokeRecognition, aBadCalibrationTakeIsRefusedWithWhatWasWrong) {
    struct Case { std::vector<Sample> order; double gap; const char* message; };
    const std::vector<Sample> tenStrokes(calibrationOrder.begin(), calibrationOrder.begin() + 10);
    std::vector<Sample> teksAsDoums = calibrationOrder;
    for (int i = 4; i < 8; ++i) teksAsDoums[i] = Sample::Doum;
    const Case cases[] = {
        {tenStrokes, 0.6, "Heard 10 strokes; play four doums, then four teks, then four slaps, each at least half a second apart."},
        {teksAsDoums, 0.6, "The doums and the teks sounded too alike to tell apart"},
    };
    for (const Case& c : cases) {
        const Take take = makeTake(inSequence(c.order, c.gap, 2), 8.5, -50.f, 2);
        const CalibrationResult result = calibrateFromTake(take.samples.data(), take.samples.size(), take.rate);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message.rfind(c.message, 0), 0u) << result.message;
    }
}

TEST(StrokeRecognition, aCalibrationSurvivesItsTextAndADamagedTextIsRefused) {
    StrokeCalibration calibration;
    std::string error;
    ASSERT_TRUE(readCalibration(dataText("soundFont/default.cal"), calibration, error)) << error;
    calibration.learner = true;
    calibration.rate = 48000;
    const std::string text = calibrationText(calibration);
    StrokeCalibration back;
    ASSERT_TRUE(readCalibration(text, back, error)) << error;
    EXPECT_EQ(calibrationText(back), text);
    EXPECT_TRUE(back.learner);

    const std::string damaged[] = {
        text.substr(0, text.size() / 2),                              // cut short
        text.substr(0, text.find("slap")) + "end\n",                  // a kind missing
        "tabladex-calibration 2" + text.substr(text.find('\n')),      // a later version
        text.substr(0, text.find("tek")) + "tek 4 x" + text.substr(text.find("tek") + 5),
    };
    for (const std::string& bad : damaged) {
        StrokeCalibration untouched;
        error.clear();
        EXPECT_FALSE(readCalibration(bad, untouched, error)) << bad;
        EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
    }
}
