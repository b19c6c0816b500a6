#include "tests/tutor/playback_fixture.h"

#include <algorithm>
#include <cmath>

#include "platform/audio/audio.h"
#include "platform/manual_clock.h"

namespace testing_support {

namespace {

// The slots' windows are compared sample by sample; the same sound through the same mixer
// state renders the same floats, so only rounding-free equality is expected.
constexpr float matchTolerance = 1e-6f;

float largestDifference(const std::vector<float>& a, const std::vector<float>& b) {
    float largest = 0.0f;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        largest = std::max(largest, std::fabs(a[i] - b[i]));
    return largest;
}

}  // namespace

void PlaybackFixture::SetUp() {
    TutorFixture::SetUp();
    if (HasFatalFailure()) return;
    platform::useManualClock(true);
    // The step timer was started on the steady clock; restart it on the manual one.
    ASSERT_TRUE(app->stepTimer.init());

    slots = {&app->doumSlot, &app->halfTekSlot, &app->tekSlot, &app->slapSlot};
    std::size_t longest = 0;
    for (SoundSlot* slot : slots) {
        std::size_t frames = 0;
        ASSERT_EQ(slot->sound->getLengthFrames(&frames), audio::Ok);
        longest = std::max(longest, frames);
    }
    window.assign((longest + 1024) * 2, 0.0f);

    // The offline clock stays at 0 and the first frames are rendered past the output's
    // latency, so every later request starts at the first frame of the next render.
    audio::offlineSetTime(app->audioSystem, 0.0);
    std::vector<float> lead(4096 * 2);
    ASSERT_EQ(audio::offlineRender(app->audioSystem, lead.data(), 4096), audio::Ok);
    renderedFrames = 4096;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        ASSERT_EQ(app->audioSystem->playSound(audio::ChannelReuse, slots[i]->sound, false,
                                              &slots[i]->channel),
                  audio::Ok);
        ASSERT_EQ(audio::offlineRender(app->audioSystem, window.data(), window.size() / 2),
                  audio::Ok);
        renderedFrames += static_cast<int64_t>(window.size() / 2);
        slotWindows[i] = window;
    }
    for (std::size_t i = 0; i < slots.size(); ++i) {
        ASSERT_GT(largestDifference(slotWindows[i], std::vector<float>(window.size(), 0.0f)),
                  0.05f)
            << "slot " << i << " renders silence";
        for (std::size_t j = 0; j < i; ++j)
            ASSERT_GT(largestDifference(slotWindows[i], slotWindows[j]), 0.05f)
                << "slots " << j << " and " << i << " cannot be told apart";
    }
    seenIndex = 0;
}

bool PlaybackFixture::advance(double seconds) {
    platform::advanceManualClock(seconds);
    // Forgets the time the thread slept towards, which a re-timed step may have moved
    // earlier: the thread sets it again once it has taken the wake-up in.
    app->sleepingUntil.store(-1.0);
    app->wakePlayback();
    const double now = app->stepTimer.seconds();
    // Taken in once the thread sleeps towards a time still to come (or has ended).
    return spinUntil([&] { return !app->threadRunning.load() || app->sleepingUntil.load() > now; });
}

std::optional<SoundedStep> PlaybackFixture::nextStep(double increment, double limit) {
    // A step already due (the first one after a start) is seen at the time it is now.
    if (!advance(0.0)) ADD_FAILURE() << "the playback thread stopped taking time in";
    double at = platform::manualClockSeconds();
    double waited = 0.0;
    for (;;) {
        const int32_t index = app->stepIndex.load();
        if (index != seenIndex) {
            SoundedStep step;
            step.entry = app->currentEntry;
            const RhythmEntry* entry = app->current();
            step.step = seenIndex >= 0 && entry && seenIndex < entry->stepCount ? seenIndex : 0;
            step.at = at;
            // The step's picture, handed to the screen with it: its beat, and its due time
            // (the thread places a stroke ahead of it), which is when it counts as sounded.
            for (HeardStep heard; app->heardSteps.pop(&heard);) {
                if (heard.countIn > 0) {
                    step.clicks.push_back(heard.heardAt - app->heardDelayNow());
                    continue;
                }
                step.beat = heard.beat;
                step.at = heard.heardAt - app->heardDelayNow();
                step.silent = heard.silent;
                step.ladderTempo = heard.ladderTempo;
            }
            seenIndex = index;
            return identify(step);
        }
        if (!app->threadRunning.load()) {
            // The thread stores its last step before it ends: look once more.
            if (app->stepIndex.load() != seenIndex) continue;
            return std::nullopt;
        }
        if (waited >= limit) return std::nullopt;
        // The time at which the thread can first see this increment; a step it sounds on
        // the way sounded then (later sleeps inside the thread do not move it).
        at = platform::manualClockSeconds() + increment;
        if (!advance(increment)) {
            ADD_FAILURE() << "the playback thread stopped taking time in";
            return std::nullopt;
        }
        waited += increment;
    }
}

SoundedStep PlaybackFixture::identify(SoundedStep step) {
    std::fill(window.begin(), window.end(), 0.0f);
    EXPECT_EQ(audio::offlineRender(app->audioSystem, window.data(), window.size() / 2), audio::Ok);
    renderedFrames += static_cast<int64_t>(window.size() / 2);
    float loudest = 0.0f;
    for (float sample : window) loudest = std::max(loudest, std::fabs(sample));
    step.slot = nullptr;
    step.unknownSound = false;
    if (loudest <= matchTolerance) return step;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (largestDifference(window, slotWindows[i]) <= matchTolerance) {
            step.slot = slots[i];
            return step;
        }
    }
    step.unknownSound = true;
    return step;
}

SoundSlot* PlaybackFixture::slotOf(char letter) const {
    switch (letter) {
        case 'd':
        case 'D':
            return &app->doumSlot;
        case 't':
        case 'k':
        case 'T':
        case 'K':
            return &app->tekSlot;
        case 'P':
            return &app->halfTekSlot;
        case 'S':
            return &app->slapSlot;
        default:
            return nullptr;
    }
}

}  // namespace testing_support
