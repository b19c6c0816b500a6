// playback_onsets - how evenly and how exactly the tutor's own playback thread sounds a rhythm.
//
// Starts the tutor on the headless backend with the shipped samples, loads one 16-step
// entry at 120 BPM, four steps a beat (a step every 0.125 s), and plays it through the real
// playback thread and the audio library for 30 s (--seconds N), on two paths:
//   silent  the silent output, paced by the steady clock, capturing what it renders;
//   server  the device output through a real sound server: a private PulseAudio server that
//           the benchmark starts with a null sink, the audio library's own output to it, and
//           the sink's monitor recorded with parec. Skipped, with a note, when pulseaudio, parec or
//           pactl is missing.
// Each path runs on a quiet machine and again while the benchmark keeps every core busy with
// two spinning processes per core at normal priority. For each run it prints the error of
// every inter-onset interval against the step time in frames (median, p99, max), the drift
// after the run (the last onset's time minus its ideal time, both counted from the first
// onset), late starts (steps the thread woke too late for, and starts the mixer could not
// place), underruns the server logged and gaps (stretches of digital silence) in the
// recording, the output's latency, and the process's CPU time per second of playing.
// --restart kills the server a while into a server run and starts it again a second later:
// how long until the output plays on it and the first stroke is heard, and the timing after.
// --server-only skips the silent output; --keep keeps the recordings and the server's log; --soak plays 10 minutes on the server path, quiet,
// instead of the four runs. The last line is
//   RESULT p99_frames=... max_frames=... drift_ms=... loaded_p99_frames=...
//          loaded_drift_ms=... server_p99_frames=... server_underruns=... latency_ms=...
// (the figures without "server" or "latency" in their names are on the silent output).
//
// The pattern sounds every step with the half tek: the onset finder needs quiet before each
// attack, and the half tek falls below its threshold within 51 ms, well inside a 125 ms step.
// It also rings longer than a step, so the sound never stops while the rhythm plays.
//
// Needs no display and no sound card.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/app_window.h"
#include "app/resource_ids.h"
#include "measure/onset_detect.h"
#include "platform/audio/audio.h"
#include "measure/sound_server.h"
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

double steadyNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
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
    unsigned lateSteps = 0;      // steps the thread woke too late to place
    std::size_t lateStarts = 0;  // starts the mixer received after their frame
    double stampLatencyMs = 0.0;  // the audio library's constant latency for stamped starts
    double outputLatencyMs = 0.0; // the output's own buffering (as the server reports it)
    int underruns = -1;           // logged by the server; -1 without one
};

// Processes that spin at normal priority while they live: two per core keep every core busy.
// Processes rather than threads, so the CPU figure stays the tutor's own.
class Load {
public:
    explicit Load(unsigned processes) {
        for (unsigned i = 0; i < processes; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                volatile unsigned long spins = 0;
                for (;;) spins = spins + 1;
            }
            if (pid > 0) pids_.push_back(pid);
        }
    }
    ~Load() {
        for (pid_t pid : pids_) kill(pid, SIGKILL);
        for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
    }

private:
    std::vector<pid_t> pids_;
};

// Plays for the given time on the real playback thread and stops; halfway it calls midway.
void play(TutorApp* app, double seconds, Run* run, const std::function<void()>& midway = {}) {
    using Clock = std::chrono::steady_clock;
    const double cpuBefore = processCpuSeconds();
    const auto started = Clock::now();
    app->start();
    if (midway) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds / 2));
        midway();
    }
    std::this_thread::sleep_until(started + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(seconds)));
    const long passes = app->entries[0].repeatsDone.load();
    const long index = app->stepIndex.load();
    app->stop();
    run->playedSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    run->cpuSeconds = processCpuSeconds() - cpuBefore;
    run->stepsPlayed = passes * app->entries[0].stepCount + index;
    run->lateSteps = app->lateSteps.load();
    run->lateStarts = audio::lateStarts(app->audioSystem);
    run->stampLatencyMs =
        1000.0 * audio::outputLatencyFrames(app->audioSystem) / audio::outputSampleRate(app->audioSystem);
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

bool runServer(double seconds, const sound_server::Server& server, const std::filesystem::path& recording,
               Run* run) {
    // The recorder comes first: a null sink with nothing connected idles on a long timer, and
    // a low-latency stream on its monitor wakes it up, as a real device would be.
    sound_server::Recorder recorder;
    recorder.start(recording);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    unsetenv("SDL_AUDIODRIVER");  // the program's own choice of device: the server
    audio::setDefaultOutput(audio::OutputKind::Device);
    TutorApp* app = openTutor();
    const bool opened = app && audio::outputKind(app->audioSystem) == audio::OutputKind::Device;
    if (opened) {
        run->rate = 48000;  // the sink's rate, at which the monitor is recorded
        // Play once the stream flows: an idle null sink takes up a new stream only when its
        // idle timer next fires, up to two seconds later (a device sink starts at once).
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        std::size_t logLine = 0;
        server.underrunsFrom(0, &logLine);
        loadPattern(app);
        play(app, seconds, run, [&] { run->outputLatencyMs = server.streamLatencyMs(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        run->underruns = server.underrunsFrom(logLine);
    } else {
        std::fprintf(stderr, "playback_onsets: no device output opened on the server\n");
    }
    if (app) closeTutor(app);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    recorder.stop();
    if (!opened) return false;
    run->stream = recorder.samples();
    return !run->stream.empty();
}

// --restart: the server is killed while the rhythm plays and started again a second later on
// the same socket, as an update restarts it. What the learner waits for: from the server's
// return (it answers) to the output's new stream, and to the first stroke heard. A stroke's
// time is read back from the end of the recording (the monitor records without gaps once its
// sink runs). An idle null sink takes up streams only when its idle timer fires, up to 2 s
// after the return; a device sink starts at once, so the reconnection is the output's own
// figure and the first stroke heard an upper bound.
struct Restart {
    Run after;                // the recording from the server's return on
    double reconnectMs = -1;  // return to the output's new stream
    double heardMs = -1;      // return to the first stroke heard
    double sinkMs = -1;       // return to the sink's running (the recording's first frame)
};

bool runRestart(sound_server::Server& server, const std::filesystem::path& folder, Restart* restart) {
    using namespace std::chrono_literals;
    sound_server::Recorder before;
    before.start(folder / "before.raw");
    std::this_thread::sleep_for(500ms);
    unsetenv("SDL_AUDIODRIVER");
    audio::setDefaultOutput(audio::OutputKind::Device);
    TutorApp* app = openTutor();
    if (!app || audio::outputKind(app->audioSystem) != audio::OutputKind::Device) {
        if (app) closeTutor(app);
        return false;
    }
    std::this_thread::sleep_for(2500ms);
    loadPattern(app);
    app->start();
    std::this_thread::sleep_for(2s);
    server.kill();
    before.stop();
    std::this_thread::sleep_for(1s);
    const bool back = server.restart();
    const double returned = steadyNow();
    sound_server::Recorder after;
    after.start(folder / "after.raw");
    while (back && steadyNow() < returned + 5.0) {
        if (audio::deviceStatus(app->audioSystem).recoveries > 0) {
            restart->reconnectMs = 1000.0 * (steadyNow() - returned);
            break;
        }
        std::this_thread::sleep_for(2ms);
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(returned + 5.0 - steadyNow()));
    app->stop();
    std::this_thread::sleep_for(300ms);
    const double stopped = steadyNow();
    after.stop();
    closeTutor(app);
    restart->after.rate = 48000;
    restart->after.playedSeconds = 5.0;
    restart->after.stream = after.samples();
    const std::vector<float>& stream = restart->after.stream;
    const auto onsets = findOnsets(stream.data(), stream.size() / 2, 48000, OnsetOptions{0.05f, 0.01});
    const auto heardAt = [&](std::size_t frame) {
        return 1000.0 * (stopped - static_cast<double>(stream.size() / 2 - frame) / 48000.0 - returned);
    };
    if (!stream.empty()) restart->sinkMs = heardAt(0);
    if (!onsets.empty()) restart->heardMs = heardAt(onsets.front());
    return back;
}

struct Figures {
    std::size_t onsets = 0;
    long stepsSpanned = 0;   // steps from the first onset to the last
    long missing = 0;        // steps with no onset of their own
    double median = 0.0;
    double p99 = 0.0;
    double max = 0.0;
    double driftMs = 0.0;
    long gaps = 0;           // stretches of digital silence between the first and last onset
};

// Onset timing in the run's stream.
Figures measure(const Run& run) {
    Figures figures;
    const std::size_t frames = run.stream.size() / 2;
    const auto onsets = findOnsets(run.stream.data(), frames, run.rate, OnsetOptions{0.05f, 0.01});
    figures.onsets = onsets.size();
    if (onsets.size() < 2) return figures;
    const double stepFrames = stepSeconds * run.rate;
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
    const double actual = static_cast<double>(onsets.back() - onsets.front()) / run.rate;
    figures.driftMs = (actual - static_cast<double>(figures.stepsSpanned) * stepSeconds) * 1000.0;
    // The half tek rings longer than a step, so the sound never stops while the rhythm plays:
    // a millisecond of exact zeros is the output running dry.
    const std::size_t gapFrames = static_cast<std::size_t>(run.rate / 1000);
    std::size_t silent = 0;
    for (std::size_t i = onsets.front(); i < onsets.back(); ++i) {
        const bool zero = run.stream[2 * i] == 0.0f && run.stream[2 * i + 1] == 0.0f;
        silent = zero ? silent + 1 : 0;
        if (silent == gapFrames) ++figures.gaps;
    }
    return figures;
}

void print(const char* name, const Run& run, const Figures& f) {
    std::printf("%s: %.2f s played, %ld steps sounded, %zu onsets (%ld steps without one)\n", name,
                run.playedSeconds, run.stepsPlayed, f.onsets, f.missing);
    std::printf("  inter-onset error: median %.1f  p99 %.1f  max %.1f frames (step %.1f frames at %d Hz)\n",
                f.median, f.p99, f.max, stepSeconds * run.rate, run.rate);
    std::printf("  drift after %ld steps: %.3f ms\n", f.stepsSpanned, f.driftMs);
    std::printf("  late starts: %u steps woken too late, %zu starts placed late by the mixer\n",
                run.lateSteps, run.lateStarts);
    std::printf("  gaps in the sound: %ld", f.gaps);
    if (run.underruns >= 0) std::printf("; underruns logged by the server: %d", run.underruns);
    std::printf("\n  latency: stamped starts %.1f ms", run.stampLatencyMs);
    if (run.outputLatencyMs > 0.0) std::printf(", output (server-reported) %.1f ms", run.outputLatencyMs);
    std::printf("\n  process CPU: %.2f s for %.2f s of playing = %.1f %%\n", run.cpuSeconds,
                run.playedSeconds, 100.0 * run.cpuSeconds / run.playedSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 30.0;
    bool soak = false;
    bool serverOnly = false;
    bool keep = false;
    bool restartOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--keep") == 0) {
            keep = true;
        } else if (std::strcmp(argv[i], "--server-only") == 0) {
            serverOnly = true;
        } else if (std::strcmp(argv[i], "--restart") == 0) {
            restartOnly = true;
        } else if (std::strcmp(argv[i], "--soak") == 0) {
            soak = true;
            seconds = 600.0;
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N | --soak] [--server-only] [--restart] [--keep]\n", argv[0]);
            return 2;
        }
    }
    if (!(seconds >= 1.0)) {
        std::fprintf(stderr, "playback_onsets: --seconds needs at least 1\n");
        return 2;
    }
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("playback_onsets: pattern %s at %d BPM, %d steps a beat (%.3f s a step), %.0f s a run\n",
                pattern, tempo, subdivision, stepSeconds, seconds);
    double load[1] = {0.0};
    if (getloadavg(load, 1) == 1) std::printf("load average %.2f on %u cores\n", load[0], cores);

    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("tabladex-playback-onsets-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    struct Result {
        Run run;
        Figures figures;
        bool done = false;
    };
    Result silent, silentLoaded, server, serverLoaded;
    int status = 0;
    const auto check = [&](bool ok, const char* name) {
        if (!ok) {
            std::fprintf(stderr, "playback_onsets: the %s run failed\n", name);
            status = 1;
        }
        return ok;
    };

    if (restartOnly) {
        if (!sound_server::available()) {
            std::printf("restart: pulseaudio, parec or pactl is missing; nothing to measure\n");
            return 0;
        }
        sound_server::Server sound;
        Restart restart;
        if (!check(sound.start(folder) && runRestart(sound, folder, &restart), "restart")) return status;
        const Figures after = measure(restart.after);
        std::printf("server killed while playing, back after 1 s on the same socket:\n");
        std::printf("  output's new stream %.0f ms after the server answered; its sink ran after %.0f ms"
                    " (a null sink's idle timer); first stroke heard after %.0f ms\n",
                    restart.reconnectMs, restart.sinkMs, restart.heardMs);
        print("PulseAudio null sink, after the restart", restart.after, after);
        std::printf("RESULT reconnect_ms=%.0f sink_ms=%.0f heard_ms=%.0f after_p99_frames=%.1f after_onsets=%zu\n",
                    restart.reconnectMs, restart.sinkMs, restart.heardMs, after.p99, after.onsets);
        std::error_code ignored;
        if (status == 0 && !keep) std::filesystem::remove_all(folder, ignored);
        return status;
    }
    if (!soak && !serverOnly) {
        silent.done = check(runSilent(seconds, &silent.run), "silent");
        {
            Load busy(2 * cores);
            silentLoaded.done = check(runSilent(seconds, &silentLoaded.run), "loaded silent");
        }
    }
    if (!sound_server::available()) {
        std::printf("server: pulseaudio, parec or pactl is missing (scripts/deps.sh installs them "
                    "for the full checks); the server runs are skipped\n");
    } else {
        sound_server::Server sound;
        if (check(sound.start(folder), "sound server start")) {
            server.done = check(runServer(seconds, sound, folder / "quiet.raw", &server.run), "server");
            if (!soak) {
                Load busy(2 * cores);
                serverLoaded.done =
                    check(runServer(seconds, sound, folder / "loaded.raw", &serverLoaded.run), "loaded server");
            }
        }
    }
    for (Result* result : {&silent, &silentLoaded, &server, &serverLoaded})
        if (result->done) result->figures = measure(result->run);
    if (silent.done) print("silent output, quiet", silent.run, silent.figures);
    if (silentLoaded.done) print("silent output, every core busy", silentLoaded.run, silentLoaded.figures);
    if (server.done) print("PulseAudio null sink, quiet", server.run, server.figures);
    if (serverLoaded.done)
        print("PulseAudio null sink, every core busy", serverLoaded.run, serverLoaded.figures);
    std::error_code ignored;
    if (status == 0 && !keep) std::filesystem::remove_all(folder, ignored);
    else std::fprintf(stderr, "playback_onsets: recordings and the server log kept in %s\n", folder.c_str());

    std::printf("RESULT p99_frames=%.1f max_frames=%.1f drift_ms=%.3f loaded_p99_frames=%.1f "
                "loaded_drift_ms=%.3f server_p99_frames=%.1f server_underruns=%d latency_ms=%.1f\n",
                silent.figures.p99, silent.figures.max, silent.figures.driftMs,
                silentLoaded.figures.p99, silentLoaded.figures.driftMs, server.figures.p99,
                server.run.underruns, server.run.outputLatencyMs);
    return status;
}
