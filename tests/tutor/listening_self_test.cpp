// The tutor listening to itself: its output played into a private sound server's null sink,
// whose monitor is the default input. Every stroke it plays comes back as the learner's,
// so every one must be scored on time, of the right kind, within 2 ms on the whole, and
// the sound-delay check's clicks must come back when the sound system says they are heard.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/app_window.h"
#include "app/main_loop.h"
#include "measure/sound_server.h"
#include "platform/audio/audio.h"
#include "tests/support/test_support.h"
#include "tests/support/tutor_fixture.h"

namespace testing_support {
namespace {

class ListeningToItself : public ::testing::Test {
protected:
    void TearDown() override {
        if (app) {
            app->shutDown();
            delete app;
        }
        tutorApp = nullptr;
        audio::setDefaultOutput(audio::OutputKind::Device);
        resetWorld();
    }
    TutorApp* app = nullptr;
};

TEST_F(ListeningToItself, EveryStrokeItPlaysIsScoredOnTimeAndOfItsKind) {
    if (!sound_server::available()) GTEST_SKIP() << "pulseaudio, parec or pactl is missing (scripts/deps.sh installs them)";
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("tabladex-self-" + std::to_string(getpid()));
    sound_server::Server server;
    ASSERT_TRUE(server.start(folder / "pulse"));
    const auto pactl = [](std::vector<std::string> args) {
        args.insert(args.begin(), "pactl");
        return sound_server::waitFor(sound_server::spawn(args));
    };
    // A sink without rewinds: a rewinding sink's monitor holds frames back by an amount the
    // server's timing does not tell (a microphone has no such thing).
    ASSERT_EQ(pactl({"load-module", "module-null-sink", "sink_name=loop", "rate=48000", "format=float32le", "norewinds=1"}), 0);
    ASSERT_EQ(pactl({"set-default-sink", "loop"}), 0);
    ASSERT_EQ(pactl({"set-default-source", "loop.monitor"}), 0);

    resetWorld();
    std::filesystem::current_path(programFolder());
    audio::setDefaultOutput(audio::OutputKind::Device);
    ASSERT_TRUE(appWindow.create(GetModuleHandleA(nullptr), tutorWindowDesc()));
    app = new TutorApp();
    tutorApp = app;
    app->window = appWindow.window;
    ASSERT_TRUE(app->startUp());
    ASSERT_EQ(audio::outputKind(app->audioSystem), audio::OutputKind::Device);
    std::ifstream file("soundFont/default.cal");
    std::stringstream text;
    text << file.rdbuf();
    std::string error;
    ASSERT_TRUE(readCalibration(text.str(), app->listening.calibration, error)) << error;
    ASSERT_TRUE(app->requestLoad(LoadKind::Rhythm, "rhythms/maqsum.krf"));
    app->update(0.0f, FrameInput{}, *appWindow.backBuffer);
    ASSERT_TRUE(app->rhythmLoaded);

    // Headphones: every pass is scored, so the tutor's own strokes are the learner's.
    app->listening.choices.on = true;
    app->listening.choices.headphones = true;
    // The input opens with Listen and settles before Play, as when a learner turns it on.
    const auto settle = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < settle) {
        app->update(1.0f / 45, FrameInput{}, *appWindow.backBuffer);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    app->start();
    std::vector<ScoredPassReport> scored;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (scored.size() < 3 && std::chrono::steady_clock::now() < until) {
        app->update(1.0f / 45, FrameInput{}, *appWindow.backBuffer);
        for (const ScoredPassReport& report : app->listening.takeScored()) scored.push_back(report);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    app->stop();
    ASSERT_GE(scored.size(), 3u) << "passes scored in 20 s";
    for (std::size_t i = 0; i < scored.size(); ++i) {
        const ScoreSummary& s = scored[i].summary;
        SCOPED_TRACE("pass " + std::to_string(scored[i].pass) + ": " + std::to_string(s.onTime) + " of " +
                     std::to_string(s.strokes) + " on time, " + std::to_string(s.wrong) + " wrong, " +
                     std::to_string(s.missed) + " missed, " + std::to_string(s.extra) + " extra, mean " +
                     std::to_string(s.meanOffsetMs) + " ms");
        EXPECT_GT(s.strokes, 0);
        EXPECT_EQ(s.onTime, s.strokes);
        EXPECT_EQ(s.extra, 0);
        EXPECT_LE(std::abs(s.meanOffsetMs), 2.0);
    }

    // The sound-delay check: the clicks come back when the sound system says they are heard.
    ASSERT_TRUE(app->listening.beginLatencyCheck(*app));
    LatencyCheck check;
    const auto checkUntil = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!app->listening.latencyCheckDone(check) && std::chrono::steady_clock::now() < checkUntil) {
        app->update(1.0f / 45, FrameInput{}, *appWindow.backBuffer);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(check.heard, check.clicks);
    EXPECT_GT(check.clicks, 0);
    EXPECT_LE(std::abs(check.measuredMs), 3.0);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace testing_support
