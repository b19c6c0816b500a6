// The frame clock against outputs that ask for blocks late in different ways: where it puts
// the device's frames must not wander by more than a millisecond, whatever the lateness.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>

#include "platform/audio/frame_clock.h"

namespace {

constexpr int kRate = 48000;
constexpr int kBlock = 512;

struct Scenario {
    const char* name;
    double deviceRate;  // frames a second the device really plays
    // When block k is asked for, given the time the device needs it.
    std::function<double(std::int64_t k, double due)> askedAt;
    double shiftAt = 1e9;  // the device's schedule moves for good here
    double shift = 0;       // ... by this many seconds
    double rateAfter = 0;   // from shiftAt on, a new device at this rate: the clock restarts
};

// A small deterministic generator: lateness of a scheduler, 0 to `spread` seconds.
double lateness(std::int64_t k, double spread) {
    const std::uint64_t x = static_cast<std::uint64_t>(k) * 6364136223846793005ull + 1442695040888963407ull;
    return spread * static_cast<double>(x >> 40) / static_cast<double>(1ull << 24);
}

class FrameClockLateness : public testing::TestWithParam<Scenario> {};

TEST_P(FrameClockLateness, KeepsTheDevicesFramesWithinAMillisecond) {
    const Scenario& s = GetParam();
    audio::FrameClock clock(kRate);
    double lowest = 1e9, highest = -1e9;
    double lastAsked = 0;
    for (std::int64_t k = 0; k < 10 * kRate / kBlock; ++k) {
        double on = static_cast<double>(k * kBlock) / s.deviceRate;
        if (s.rateAfter > 0 && on >= s.shiftAt) {
            if (lastAsked < s.shiftAt + s.shift) clock.restart();
            on = s.shiftAt + (static_cast<double>(k * kBlock) - s.shiftAt * s.deviceRate) / s.rateAfter;
        }
        const double due = on < s.shiftAt ? on : on + s.shift;
        const double asked = std::max(lastAsked, s.askedAt(k, due));  // requests keep their order
        lastAsked = asked;
        clock.update(asked, k * kBlock);
        // From 3 s on, and from 0.3 s after a lasting shift: the frame the clock gives for the
        // time the device needs this block.
        if (on < 3.0 || (on >= s.shiftAt && on < s.shiftAt + 0.3)) continue;
        const double offset = clock.frameAt(due) - static_cast<double>(k * kBlock);
        lowest = std::min(lowest, offset);
        highest = std::max(highest, offset);
    }
    EXPECT_LT(highest - lowest, kRate / 1000.0) << s.name << ": frames wander by " << highest - lowest;
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, FrameClockLateness,
    testing::Values(
        Scenario{"scheduler jitter up to 3 ms", kRate, [](std::int64_t k, double due) { return due + lateness(k, 0.003); }},
        Scenario{"a device 3.7 % fast", kRate * 1.037, [](std::int64_t k, double due) { return due + lateness(k, 0.002); }},
        // A driver that plays 480 frames a 10 ms tick and hands a buffer back at the first
        // tick after it has been played.
        Scenario{"buffers handed back on 10 ms ticks", kRate,
                 [](std::int64_t k, double) {
                     const std::int64_t tick = ((k + 1) * kBlock + 479) / 480;
                     return tick * 0.010 + lateness(k, 0.001);
                 }},
        // The output's thread held off for 150 ms at 5 s, then asking for every block it
        // missed at once; the same again for 60 ms at 7 s.
        Scenario{"stalls followed by bursts", kRate,
                 [](std::int64_t k, double due) {
                     const double late = due + lateness(k, 0.001);
                     if (due >= 5.0 && due < 5.15) return 5.15;
                     if (due >= 7.0 && due < 7.06) return 7.06;
                     return late;
                 }},
        // Sound lost in a 40 ms dropout at 5 s: every later block is needed 40 ms later;
        // and a device that skips 30 ms ahead.
        Scenario{"a dropout", kRate, [](std::int64_t k, double due) { return due + lateness(k, 0.002); }, 5.0, 0.040},
        Scenario{"a skip ahead", kRate, [](std::int64_t k, double due) { return due + lateness(k, 0.002); }, 5.0, -0.030},
        // A device 3.7 % fast gone at 5 s; 200 ms later another, at its nominal rate.
        Scenario{"a new device", kRate * 1.037, [](std::int64_t k, double due) { return due + lateness(k, 0.002); },
                 5.0, 0.2, kRate}),
    [](const testing::TestParamInfo<Scenario>& info) { return std::to_string(info.index); });

}  // namespace
