// The onset detector on takes built from the shipped samples, noisy and clean: each stroke found
// once, to within a millisecond, however the stream is cut into blocks, and no later than promised.
#include <gtest/gtest.h>

#include <cstdlib>

#include "listen/onset_detector.h"
#include "tests/listen/listen_takes.h"

using namespace listen_takes;

namespace {

// A busy phrase from frame: every sample, quick and slow gaps, soft and loud.
std::vector<Placed> phrase(int64_t frame) {
    std::vector<Placed> strokes;
    const Sample order[] = {Sample::Doum, Sample::Tek, Sample::HalfTek, Sample::Slap, Sample::Tek,
                            Sample::Doum, Sample::Slap, Sample::HalfTek};
    for (int i = 0; i < 32; ++i) {
        strokes.push_back({order[i % 8], frame, -float((i * 7) % 11)});
        frame += 44100 * (i % 3 == 0 ? 110 : 230 + (i * 37) % 200) / 1000;
    }
    return strokes;
}

void expectEachFoundOnce(float noiseDb, int64_t first) {
    SCOPED_TRACE(noiseDb);
    const auto strokes = phrase(first);
    const Take take = makeTake(strokes, double(strokes.back().frame) / 44100 + 1.0, noiseDb, 3);
    for (std::size_t block : {std::size_t(1), std::size_t(97), std::size_t(4096), take.samples.size()}) {
        OnsetDetector detector(OnsetSettings{take.rate, 0.04});
        std::vector<Onset> found;
        for (std::size_t at = 0; at < take.samples.size(); at += block) {
            const std::size_t before = found.size();
            const std::size_t n = std::min(block, take.samples.size() - at);
            detector.feed(take.samples.data() + at, n, found);
            for (std::size_t i = std::max<std::size_t>(before, first == 0); i < found.size(); ++i)
                EXPECT_LE(detector.framesFed() - found[i].frame, detector.latencyFrames() + int64_t(block));
        }
        detector.flush(found);
        ASSERT_EQ(found.size(), strokes.size()) << "blocks of " << block;
        for (std::size_t i = 0; i < strokes.size(); ++i)
            EXPECT_LE(std::llabs(found[i].frame - strokes[i].frame), 44) << "stroke " << i << ", blocks of " << block;
    }
}

}  // namespace

TEST(OnsetDetector, findsEachStrokeOnceToTheMillisecondWhateverTheBlocks) {
    expectEachFoundOnce(-60.f, 11025);
    expectEachFoundOnce(-300.f, 0);  // clean: a doum's ringing once read as strokes
}

TEST(OnsetDetector, hearsNothingInAMinuteOfRoomNoise) {
    const Take take = makeTake({}, 60.0, -50.f, 1);  // once heard five strokes in it
    OnsetDetector detector(OnsetSettings{take.rate, 0.04});
    std::vector<Onset> found;
    detector.feed(take.samples.data(), take.samples.size(), found);
    detector.flush(found);
    EXPECT_TRUE(found.empty()) << found.size() << " onsets, the first at frame " << found[0].frame;
}
