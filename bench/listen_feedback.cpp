// listen_feedback: the tutor listening to itself through a private sound server (its output
// into a null sink whose monitor is the default input) as a learner would hear it on the
// screen: how long after each stroke reaches the microphone its mark shows under the step,
// and how the passes score (every stroke the tutor plays is the "learner's", so all should
// be on time, of their kind, with no lean).
//
// It starts the tutor on the headless backend the way the tests do, plays a rhythm with
// Listen and Headphones on for --seconds (default 20), runs the frame loop's work at 45
// frames a second, and prints per pass the summary, then the feedback delay's median, p95
// and max. Last line:
//   RESULT feedback_med_ms=… feedback_p95_ms=… feedback_max_ms=… mean_offset_ms=… on_time=… extra_per_100=…
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_window.h"
#include "app/main_loop.h"
#include "measure/sound_server.h"
#include "platform/audio/audio.h"
#include "tests/support/test_support.h"
#include "tutor/tutor_app.h"

namespace {

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 20;
    std::string rhythm = "rhythms/maqsum.krf";
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--rhythm") && i + 1 < argc) rhythm = argv[++i];
        else {
            std::fprintf(stderr, "usage: listen_feedback [--seconds S] [--rhythm rhythms/NAME.krf]\n");
            return 2;
        }
    }
    if (!sound_server::available()) {
        std::fprintf(stderr, "listen_feedback: pulseaudio, parec or pactl is missing (scripts/deps.sh installs them)\n");
        return 2;
    }
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tabladex-feedback-" + std::to_string(getpid()));
    sound_server::Server server;
    if (!server.start(folder / "pulse")) return 1;
    const auto pactl = [](std::vector<std::string> args) {
        args.insert(args.begin(), "pactl");
        return sound_server::waitFor(sound_server::spawn(args));
    };
    // A sink without rewinds: a rewinding sink's monitor holds frames back by an amount the
    // server's timing does not tell (a microphone has no such thing).
    if (pactl({"load-module", "module-null-sink", "sink_name=loop", "rate=48000", "format=float32le", "norewinds=1"}) != 0 ||
        pactl({"set-default-sink", "loop"}) != 0 || pactl({"set-default-source", "loop.monitor"}) != 0)
        return 1;

    testing_support::resetWorld();
    std::filesystem::current_path(testing_support::programFolder());
    audio::setDefaultOutput(audio::OutputKind::Device);
    if (!appWindow.create(GetModuleHandleA(nullptr), tutorWindowDesc())) return 1;
    TutorApp* app = new TutorApp();
    tutorApp = app;
    app->window = appWindow.window;
    if (!app->startUp()) return 1;
    std::ifstream file("soundFont/default.cal");
    std::stringstream text;
    text << file.rdbuf();
    StrokeCalibration calibration;
    std::string error;
    if (!readCalibration(text.str(), calibration, error)) {
        std::fprintf(stderr, "listen_feedback: soundFont/default.cal: %s\n", error.c_str());
        return 1;
    }
    app->listening.setCalibration(calibration);
    app->listening.choices.on = true;
    app->listening.choices.headphones = true;
    if (!app->requestLoad(LoadKind::Rhythm, rhythm.c_str())) return 1;
    app->update(0.0f, FrameInput{}, *appWindow.backBuffer);
    // The input opens with Listen; it settles before Play, as when a learner turns it on.
    const auto settle = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < settle) {
        app->update(1.0f / 45, FrameInput{}, *appWindow.backBuffer);
        std::this_thread::sleep_for(std::chrono::milliseconds(22));
    }
    app->start();
    int strokes = 0, onTime = 0, extra = 0;
    double offsetSum = 0;
    int offsetCount = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    auto next = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < until) {
        app->update(1.0f / 45, FrameInput{}, *appWindow.backBuffer);
        for (const ScoredPassReport& report : app->listening.takeScored()) {
            const ScoreSummary& s = report.summary;
            std::printf("pass %lld: %d strokes, %d on time, %d early, %d late, %d wrong, %d missed, %d extra; "
                        "mean %+.2f ms, spread %.2f ms\n",
                        static_cast<long long>(report.pass), s.strokes, s.onTime, s.early, s.late, s.wrong, s.missed,
                        s.extra, s.meanOffsetMs, s.spreadMs);
            strokes += s.strokes;
            onTime += s.onTime;
            extra += s.extra;
            const int right = s.onTime + s.early + s.late;
            offsetSum += s.meanOffsetMs * right;
            offsetCount += right;
        }
        next += std::chrono::microseconds(1000000 / 45);
        std::this_thread::sleep_until(next);
    }
    app->stop();
    std::vector<double> delays = app->listening.feedbackDelays();
    for (double& delay : delays) delay *= 1000.0;
    std::printf("feedback: %zu strokes marked; from the microphone to the mark median %.1f ms, p95 %.1f ms, max %.1f ms\n",
                delays.size(), percentile(delays, 0.5), percentile(delays, 0.95), percentile(delays, 1.0));
    std::printf("RESULT feedback_med_ms=%.1f feedback_p95_ms=%.1f feedback_max_ms=%.1f mean_offset_ms=%.2f "
                "on_time=%.3f extra_per_100=%.1f\n",
                percentile(delays, 0.5), percentile(delays, 0.95), percentile(delays, 1.0),
                offsetCount ? offsetSum / offsetCount : 0.0, strokes ? double(onTime) / strokes : 0.0,
                strokes ? 100.0 * extra / strokes : 0.0);
    app->shutDown();
    delete app;
    tutorApp = nullptr;
    std::filesystem::remove_all(folder);
    return 0;
}
