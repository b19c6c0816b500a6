// playback_fixture.h - a started tutor whose playback thread runs for real but on the manual
// clock, so tests decide when time passes and see every step the thread sounds.
//
// How a step is seen: the test advances the manual clock in small increments and, after each,
// wakes the thread and waits (a bounded spin) until it has taken the time in. A change of stepIndex means
// the thread sounded a step; its sound is then identified from the offline output: every play
// request reaches the mixer after its stamped frame (the offline clock stays at 0), so it
// starts at the first frame of the next render, and a window longer than the longest sample
// holds that sample alone. Each slot's window is recorded once at set-up, by playing the slot
// straight from the test.
//
// Threads: the test's thread only (the tutor starts and ends its playback thread itself).
// Ownership: the fixture owns the tutor (through TutorFixture) and the recorded windows.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "tests/support/tutor_fixture.h"

namespace testing_support {

// One step the playback thread sounded, as the test saw it.
struct SoundedStep {
    int32_t entry = -1;     // the current entry while it sounded
    int32_t step = -1;      // its index in the entry
    SoundSlot* slot = nullptr;  // what sounded; nullptr for a rest
    bool unknownSound = false;  // something sounded that matches no single slot
    bool beat = false;      // the step begins a beat (as handed to the screen)
    double at = 0.0;        // manual-clock seconds: the due time the thread gave the step
    bool silent = false;    // a step of a silent pass
    int32_t ladderTempo = 0;    // the speed trainer's new tempo from this step on; 0: none
    std::vector<double> clicks; // count-in clicks handed over before it: their due times
};

class PlaybackFixture : public TutorFixture {
protected:
    void SetUp() override;

    // Advances the manual clock by seconds, wakes the playback thread and waits until it has
    // taken the time in (it sleeps towards a time still to come) or has ended. False when the
    // thread did neither within a generous bound of real time.
    bool advance(double seconds);

    // Advances in increments until the thread sounds its next step; nothing when it ends or
    // stays silent for limit seconds of manual time.
    std::optional<SoundedStep> nextStep(double increment = 0.005, double limit = 5.0);

    // Tells the fixture the step index the main thread has just set (start, stop, entry
    // changes), so that the next step is seen from there.
    void expectIndex(int32_t index) { seenIndex = index; }

    // Renders one window of the offline output and names the slot that sounded in it.
    SoundedStep identify(SoundedStep step);

    // The slot a notation letter sounds (nullptr for a rest).
    SoundSlot* slotOf(char letter) const;

    // Waits (real time, bounded) until condition holds; false on time-out.
    template <class Condition>
    static bool spinUntil(Condition condition);

    std::vector<float> window;
    std::array<std::vector<float>, 4> slotWindows;
    std::array<SoundSlot*, 4> slots{};
    int32_t seenIndex = 0;
    int64_t renderedFrames = 0;  // frames of the offline output rendered so far
};

}  // namespace testing_support

template <class Condition>
bool testing_support::PlaybackFixture::spinUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}
