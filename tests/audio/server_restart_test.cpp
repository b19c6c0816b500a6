// The device outputs through a real sound server that goes away: a private PulseAudio server
// is killed while strokes play, through the server's own output or SDL's pulse driver, and
// started again on the same socket; or left away until the server's output moves to SDL2 (its
// disk driver, chosen for the fallback only). What the learner hears is what the sink's
// monitor or SDL's file takes down. Skipped without pulseaudio or parec.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

#include "platform/audio/audio.h"
#include "measure/onset_detect.h"
#include "measure/sound_server.h"
#include "wav_fixtures.h"

namespace {

using namespace std::chrono_literals;
constexpr int kRate = 48000;
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(thread_sanitizer) || __has_feature(address_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

// The output's own: "" for the sound server's, else the SDL driver to play through.
class ServerRestart : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (!sound_server::available())
            GTEST_SKIP() << "pulseaudio, parec or pactl is missing (scripts/deps.sh installs them)";
        if (*GetParam() && kSanitized)
            GTEST_SKIP() << "SDL's pulse driver races and leaks inside libpulse once its server "
                            "has gone, which the sanitizers report";
        if (*GetParam()) setenv("SDL_AUDIODRIVER", GetParam(), 1);
        else unsetenv("SDL_AUDIODRIVER");
        ASSERT_TRUE(server.start(dir.file("pulse")));
        recorder.start(dir.file("before.raw"));
        audio::setDefaultOutput(audio::OutputKind::Device);
        ASSERT_EQ(audio::systemCreate(&system), audio::Ok);
        ASSERT_EQ(system->init(8, audio::InitNormal, nullptr), audio::Ok);
        ASSERT_EQ(audio::outputKind(system), audio::OutputKind::Device);
        const std::string path = dir.file("click.wav");
        ASSERT_TRUE(audio_test::writeWav(path, audio_test::Float32, 2, kRate,
                                         audio_test::constantStereo(kRate / 100, 0.5f, 0.5f)));
        ASSERT_EQ(system->createSound(path.c_str(), 0x29, nullptr, &click), audio::Ok);
        ASSERT_TRUE(audio_test::writeWav(path, audio_test::Float32, 2, kRate,
                                         audio_test::constantStereo(kRate / 100, 0.25f, 0.25f)));
        ASSERT_EQ(system->createSound(path.c_str(), 0x29, nullptr, &quiet), audio::Ok);
        ASSERT_EQ(system->getChannel(0, &channel), audio::Ok);
    }
    void TearDown() override {
        if (system) system->release();
        unsetenv("SDL_AUDIODRIVER");
    }

    // count clicks, spacing apart, each stamped with its due time as the playback thread does.
    void playClicks(audio::Sound* sound, int count, std::chrono::milliseconds spacing) {
        const auto first = std::chrono::steady_clock::now() + 20ms;
        for (int i = 0; i < count; ++i) {
            const auto due = first + i * spacing;
            std::this_thread::sleep_until(due);
            audio::stampNextStart(system, std::chrono::duration<double>(std::chrono::steady_clock::now() - due).count());
            EXPECT_EQ(system->playSound(audio::ChannelReuse, sound, false, &channel), audio::Ok);
        }
    }
    // Whether done comes true within 10 s (a loaded machine's bound).
    static bool eventually(const std::function<bool()>& done) {
        for (auto until = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < until;) {
            if (done()) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    bool statusBecomes(bool (*done)(const audio::DeviceStatus&)) {
        return eventually([&] { return done(audio::deviceStatus(system)); });
    }
    static std::vector<std::size_t> onsetsIn(const std::vector<float>& stream) {
        return findOnsets(stream.data(), stream.size() / 2, kRate, OnsetOptions{0.1f, 0.02});
    }
    // What the screen adds to a stroke's due time: the mixer's latency and the device's, which
    // a stream on a null sink puts at some milliseconds (a sink's own can reach hundreds).
    void expectHeardDelayFromTheDevice(const char* when) {
        const double mixer = static_cast<double>(audio::outputLatencyFrames(system)) / audio::outputSampleRate(system);
        const double heard = audio::heardDelay(system);
        EXPECT_GT(heard, mixer) << when;
        EXPECT_LT(heard, mixer + 0.5) << when;
    }
    // A file being written holds sound (the sink runs: an idle null sink takes up streams
    // only when its idle timer fires, up to 2 s later), or count onsets.
    static bool heard(const std::string& file, std::size_t count = 0) {
        return eventually([&] {
            const std::vector<float> stream = sound_server::readFloats(file);
            return count == 0 ? !stream.empty() : onsetsIn(stream).size() >= count;
        });
    }

    audio_test::TempDir dir;
    sound_server::Server server;
    sound_server::Recorder recorder;
    audio::System* system = nullptr;
    audio::Sound* click = nullptr;  // level 0.5
    audio::Sound* quiet = nullptr;  // level 0.25
    audio::Channel* channel = nullptr;
};

TEST_P(ServerRestart, StrokesAreHeardAgainOnTheirFramesAfterTheServerReturns) {
    ASSERT_TRUE(heard(dir.file("before.raw")));
    playClicks(click, 3, 150ms);
    heard(dir.file("before.raw"), 3);
    expectHeardDelayFromTheDevice("before the restart");
    server.kill();  // as a crash or an update ends it; the recorder goes with it
    recorder.stop();
    EXPECT_FALSE(onsetsIn(recorder.samples()).empty()) << "nothing heard before the server went";
    ASSERT_TRUE(statusBecomes([](const audio::DeviceStatus& s) { return s.losses == 1 && !s.playing; }));


    playClicks(quiet, 4, 100ms);  // mixed into nothing while the server is away, never heard late
    ASSERT_TRUE(server.restart());
    recorder.start(dir.file("after.raw"));
    ASSERT_TRUE(statusBecomes([](const audio::DeviceStatus& s) { return s.recoveries == 1 && s.playing; }));
    ASSERT_TRUE(heard(dir.file("after.raw")));
    playClicks(click, 5, 150ms);
    heard(dir.file("after.raw"), 5);
    expectHeardDelayFromTheDevice("after the restart");
    std::this_thread::sleep_for(100ms);
    recorder.stop();

    // Every onset is one of these clicks (level 0.5), none a quiet one or a pile-up of them;
    // a loaded machine may drop one in an underrun, but not most.
    const std::vector<float> after = recorder.samples();
    const auto onsets = onsetsIn(after);
    ASSERT_GE(onsets.size(), 3u) << testing::PrintToString(onsets);
    for (std::size_t i = 0; i < onsets.size(); ++i) {
        float level = 0;
        for (std::size_t f = onsets[i]; f < std::min(onsets[i] + 240, after.size() / 2); ++f)
            level = std::max(level, std::abs(after[2 * f]));
        EXPECT_NEAR(level, 0.5f, 0.05f) << "onset " << i << " at frame " << onsets[i];
        if (i == 0) continue;
        // Stamped starts land on their frames: 150 ms apart (or a multiple, past a dropout).
        const double interval = static_cast<double>(onsets[i] - onsets[i - 1]) / (0.150 * kRate);
        EXPECT_NEAR(interval, std::round(interval), 0.07) << testing::PrintToString(onsets);
    }
    const audio::DeviceStatus status = audio::deviceStatus(system);
    EXPECT_FALSE(status.fallback);
    EXPECT_EQ(status.losses, 1u);
}

class ServerStaysAway : public ServerRestart {};

TEST_P(ServerStaysAway, TheServersOutputPlaysOnThroughSdl) {
    const std::string raw = dir.file("fallback.raw");
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);  // SDL's own choice is no device here
    setenv("SDL_AUDIODRIVER", "disk", 1);
    // A request hands the output's thread all this thread did before it (the queue
    // synchronises), the environment that SDL will read among it.
    ASSERT_EQ(system->playSound(audio::ChannelReuse, quiet, false, &channel), audio::Ok);
    server.kill();
    ASSERT_TRUE(statusBecomes([](const audio::DeviceStatus& s) { return s.fallback && s.playing; }));
    ASSERT_TRUE(heard(raw));
    playClicks(click, 3, 200ms);
    heard(raw, 3);
    expectHeardDelayFromTheDevice("on SDL");
    ASSERT_EQ(system->release(), audio::Ok);
    system = nullptr;
    const auto onsets = onsetsIn(sound_server::readFloats(raw));
    EXPECT_EQ(onsets.size(), 3u) << testing::PrintToString(onsets);
}

INSTANTIATE_TEST_SUITE_P(Outputs, ServerRestart, testing::Values("", "pulseaudio"),
                         [](const auto& info) { return *info.param ? "SdlPulse" : "Server"; });
INSTANTIATE_TEST_SUITE_P(Output, ServerStaysAway, testing::Values(""));

}  // namespace
