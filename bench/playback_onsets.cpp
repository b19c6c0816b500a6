// playback_onsets - how evenly the tutor's own playback thread sounds a rhythm.
//
// Starts the tutor on the headless backend with the shipped samples, loads one 16-step
// entry at 120 BPM, four steps a beat (a step every 0.125 s), and plays it through the real
// playback thread and the audio library for 30 s (--seconds N for a shorter run), twice:
//   silent  the silent output, paced by the steady clock, capturing what it renders;
//   disk    the device output on SDL's disk driver, which writes the mix to a temporary file
//           that is read back afterwards.
// It finds every onset in what was rendered and prints, for each run, the error of every
// inter-onset interval against the step time in frames (median, p99, max), the drift after
// the run (the last onset's time minus its ideal time, both counted from the first onset),
// and the process's CPU time (user + system) per second of playing. The last line is
//   RESULT p99_frames=... max_frames=... drift_ms=... cpu_percent=...
// with the disk run's figures.
//
// The pattern sounds every step with the half tek: the onset finder needs quiet before each
// attack, and the half tek falls below its threshold within 51 ms, well inside a 125 ms step,
// even when the disk driver's file runs slower than its nominal rate (the tek takes 110 ms
// and the doum half a second, so their tails would run into the next attack).
//
// The disk driver paces itself with sleeps, so its file does not advance at exactly its
// nominal rate. Its rate is measured from the file's growth while playing, and its run's
// times and ideal intervals are counted at that rate (the figures at the nominal rate are
// printed too).
//
// Needs no display and no sound card.
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_window.h"
#include "app/resource_ids.h"
#include "onset_detect.h"
#include "platform/audio/audio.h"
#include "tests/support/test_support.h"
#include "tutor/tutor_app.h"

namespace {

constexpr const char* pattern = "PPPPPPPPPPPPPPPP";
constexpr int32_t tempo = 120;
constexpr int32_t subdivision = 4;
constexpr double stepSeconds = 60.0 / tempo / subdivision;

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// The tutor as the program starts it: the main window, then the record's start-up.
TutorApp* openTutor() {
    testing_support::resetWorld();
    std::filesystem::current_path(testing_support::programFolder());
    WindowDesc description;
    description.title = "Tabladex playback benchmark";
    description.style = WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU;
    description.exStyle = WS_EX_APPWINDOW;
    description.width = 600;
    description.height = 480;
    description.menuId = IDR_MAINMENU;
    if (!appWindow.create(GetModuleHandleA(nullptr), description)) return nullptr;
    auto* app = new TutorApp();
    tutorApp = app;
    if (!app->startUp()) {
        app->shutDown();
        delete app;
        tutorApp = nullptr;
        return nullptr;
    }
    return app;
}

void closeTutor(TutorApp* app) {
    app->shutDown();
    delete app;
    tutorApp = nullptr;
    testing_support::resetWorld();
}

// One playable entry with the pattern, as a rhythm file would load it; never ends.
void loadPattern(TutorApp* app) {
    destroyEntries(app->entries);
    app->entries = makeEntries(1);
    app->entryCount = 1;
    RhythmEntry& entry = app->entries[0];
    entry.title = "Benchmark";
    entry.tempo = tempo;
    entry.subdivision = subdivision;
    app->parseNotation(pattern, 20, 20, 28, 8, app->rhythmNotes, &entry);
    entry.stepTime.store(60.0 / tempo / subdivision);
    entry.repeatCount = 0;
    app->currentEntry = 0;
    app->tempo = tempo;
    app->rhythmLoaded = true;
}

struct Run {
    std::vector<float> stream;  // interleaved stereo
    int rate = 0;
    double cpuSeconds = 0.0;
    double playedSeconds = 0.0;
    long stepsPlayed = 0;
    double measuredRate = 0.0;  // frames per second of the steady clock, when measured
};

double fileFrames(const std::filesystem::path* file) {
    std::error_code error;
    const auto bytes = std::filesystem::file_size(*file, error);
    return error ? 0.0 : static_cast<double>(bytes) / (2 * sizeof(float));
}

// Plays for the given time on the real playback thread and stops. With a growing output
// file, measures the rate at which it grows meanwhile.
void play(TutorApp* app, double seconds, Run* run, const std::filesystem::path* growing = nullptr) {
    using Clock = std::chrono::steady_clock;
    const double cpuBefore = processCpuSeconds();
    const auto started = Clock::now();
    app->start();
    double framesBefore = 0.0;
    Clock::time_point measureFrom;
    if (growing) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        framesBefore = fileFrames(growing);
        measureFrom = Clock::now();
    }
    std::this_thread::sleep_until(started + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(seconds)));
    if (growing) {
        const double span = std::chrono::duration<double>(Clock::now() - measureFrom).count();
        run->measuredRate = (fileFrames(growing) - framesBefore) / span;
    }
    const long passes = app->entries[0].repeatsDone.load();
    const long index = app->stepIndex.load();
    app->stop();
    run->playedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run->cpuSeconds = processCpuSeconds() - cpuBefore;
    run->stepsPlayed = passes * app->entries[0].stepCount + index;
}

bool runSilent(double seconds, Run* run) {
    audio::setDefaultOutput(audio::OutputKind::Silent);
    TutorApp* app = openTutor();
    if (!app) return false;
    run->rate = audio::outputSampleRate(app->audioSystem);
    const auto frames = static_cast<std::size_t>((seconds + 2.0) * run->rate);
    if (audio::silentSetCapture(app->audioSystem, frames) != audio::Ok) {
        closeTutor(app);
        return false;
    }
    loadPattern(app);
    play(app, seconds, run);
    // Let the output render the last sounds' tails before taking what it kept.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    run->stream = audio::silentTakeCapture(app->audioSystem);
    closeTutor(app);
    return true;
}

bool runDisk(double seconds, const std::filesystem::path& file, Run* run) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    audio::setDefaultOutput(audio::OutputKind::Device);
    TutorApp* app = openTutor();
    if (!app) return false;
    if (audio::outputKind(app->audioSystem) != audio::OutputKind::Device) {
        std::fprintf(stderr, "playback_onsets: SDL's disk driver did not open\n");
        closeTutor(app);
        return false;
    }
    run->rate = audio::outputSampleRate(app->audioSystem);
    loadPattern(app);
    play(app, seconds, run, &file);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    closeTutor(app);  // closes the device, so the file is complete
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const auto bytes = static_cast<std::size_t>(in.tellg());
    run->stream.assign(bytes / sizeof(float), 0.0f);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(run->stream.data()), static_cast<std::streamsize>(bytes));
    return in.good();
}

struct Figures {
    std::size_t onsets = 0;
    long stepsSpanned = 0;   // steps from the first onset to the last
    long missing = 0;        // steps with no onset of their own
    double median = 0.0;
    double p99 = 0.0;
    double max = 0.0;
    double driftMs = 0.0;
};

// Onset timing in the run's stream, whose frames advance at rate per second.
Figures measure(const Run& run, double rate) {
    Figures figures;
    const auto onsets = findOnsets(run.stream.data(), run.stream.size() / 2, run.rate,
                                   OnsetOptions{0.05f, 0.01});
    figures.onsets = onsets.size();
    if (onsets.size() < 2) return figures;
    const double stepFrames = stepSeconds * rate;
    std::vector<double> errors;
    for (std::size_t i = 1; i < onsets.size(); ++i) {
        const double interval = static_cast<double>(onsets[i] - onsets[i - 1]);
        const long steps = std::max(1L, std::lround(interval / stepFrames));
        figures.stepsSpanned += steps;
        figures.missing += steps - 1;
        errors.push_back(std::fabs(interval - static_cast<double>(steps) * stepFrames));
    }
    std::sort(errors.begin(), errors.end());
    figures.median = errors[errors.size() / 2];
    figures.p99 = errors[static_cast<std::size_t>(std::ceil(0.99 * errors.size())) - 1];
    figures.max = errors.back();
    const double actual = static_cast<double>(onsets.back() - onsets.front()) / rate;
    figures.driftMs = (actual - static_cast<double>(figures.stepsSpanned) * stepSeconds) * 1000.0;
    return figures;
}

void print(const char* name, const Run& run, const Figures& f, double rate) {
    std::printf("%s, counted at %.1f Hz: %.2f s played, %ld steps sounded, %zu onsets (%ld steps "
                "without one)\n",
                name, rate, run.playedSeconds, run.stepsPlayed, f.onsets, f.missing);
    std::printf("  inter-onset error: median %.1f  p99 %.1f  max %.1f frames (step %.1f frames)\n",
                f.median, f.p99, f.max, stepSeconds * rate);
    std::printf("  drift after %ld steps: %.3f ms\n", f.stepsSpanned, f.driftMs);
    std::printf("  process CPU: %.2f s for %.2f s of playing = %.1f %%\n", run.cpuSeconds,
                run.playedSeconds, 100.0 * run.cpuSeconds / run.playedSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 30.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N]\n", argv[0]);
            return 2;
        }
    }
    if (!(seconds >= 1.0)) {
        std::fprintf(stderr, "playback_onsets: --seconds needs at least 1\n");
        return 2;
    }
    std::printf("playback_onsets: pattern %s at %d BPM, %d steps a beat (%.3f s a step), %.0f s a run\n",
                pattern, tempo, subdivision, stepSeconds, seconds);
    // The playback thread polls and drops time beyond each step, so a busy machine slows it:
    // the load says how far the figures can be trusted.
    double load[1] = {0.0};
    if (getloadavg(load, 1) == 1)
        std::printf("load average %.2f on %u cores\n", load[0], std::thread::hardware_concurrency());

    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("tabladex-playback-onsets-" + std::to_string(getpid()) + ".raw");
    Run silent;
    Run disk;
    const bool silentOk = runSilent(seconds, &silent);
    const bool diskOk = silentOk && runDisk(seconds, file, &disk);
    std::filesystem::remove(file);
    if (!silentOk || !diskOk) {
        std::fprintf(stderr, "playback_onsets: the %s run failed\n", silentOk ? "disk" : "silent");
        return 1;
    }
    const Figures silentFigures = measure(silent, silent.rate);
    const Figures diskNominal = measure(disk, disk.rate);
    const double diskRate = disk.measuredRate > 0.0 ? disk.measuredRate : disk.rate;
    const Figures diskFigures = measure(disk, diskRate);
    print("silent output", silent, silentFigures, silent.rate);
    print("SDL disk driver, nominal rate", disk, diskNominal, disk.rate);
    print("SDL disk driver, its measured rate", disk, diskFigures, diskRate);
    std::printf("RESULT p99_frames=%.1f max_frames=%.1f drift_ms=%.3f cpu_percent=%.1f\n",
                diskFigures.p99, diskFigures.max, diskFigures.driftMs,
                100.0 * disk.cpuSeconds / disk.playedSeconds);
    return silentFigures.missing == 0 && diskFigures.missing == 0 ? 0 : 1;
}
