// playback_onsets - how evenly and how exactly the tutor's own playback thread sounds a rhythm.
//
// Starts the tutor on the headless backend with the shipped samples, loads one 16-step
// entry at 120 BPM, four steps a beat (a step every 0.125 s), and plays it through the real
// playback thread and the audio library for 30 s (--seconds N), on two paths:
//   silent  the silent output, paced by the steady clock, capturing what it renders;
//   server  the device output through a real sound server: a private PulseAudio server that
//           the benchmark starts with a null sink, the audio library's own output to it, and
//           the sink's monitor recorded in this process through libpulse, with the time each
//           frame is heard. Skipped, with a note, when pulseaudio, parec or pactl is missing.
// Each path runs on a quiet machine and again while the benchmark keeps every core busy with
// two spinning processes per core at normal priority. For each run it prints the error of
// every inter-onset interval against the step time in frames (median, p99, max), the drift
// after the run (the last onset's time minus its ideal time, both counted from the first
// onset), late starts (steps the thread woke too late for, and starts the mixer could not
// place), underruns the server logged and gaps (stretches of digital silence) in the
// recording, the output's latency, and the process's CPU time per second of playing. On the
// server it also prints what the learner waits for and what the screen relies on: Play to the
// first stroke heard (from the play call to the first onset in the sink's monitor), and the
// heardDelay the library reports against the measured time from a stroke's stamp (its due
// time) to its onset.
// --restart kills the server a while into a server run and starts it again a second later:
// how long until the output plays on it and the first stroke is heard, and the timing after.
// --server-only skips the silent output; --keep keeps the server's log; --soak plays 10
// minutes (or --seconds N) on the server path with every core busy, instead of the four runs.
// While the server plays, a real-time probe thread per processor notes when the machine itself
// stopped running threads (measure/freeze_probe.h); an underrun logged within 50 ms of such a
// freeze is counted as the machine's, the others as the program's or the server's, and the
// timing is given again over the intervals that no freeze touched.
// The last line is
//   RESULT p99_frames=... max_frames=... drift_ms=... loaded_p99_frames=...
//          loaded_drift_ms=... server_p99_frames=... server_underruns=... latency_ms=...
//          first_heard_ms=... heard_delay_ms=... stamp_to_onset_ms=...
// (the figures without "server", "latency", "heard" or "onset" in their names are on the
// silent output), and after a soak
//   RESULT soak_seconds=... underruns=... underruns_outside_freezes=... freezes=... gaps=...
//          p99_frames=... max_frames=... p99_outside_freezes_frames=...
//          first_heard_ms=... heard_delay_ms=... stamp_to_onset_ms=...
//
// The pattern sounds every step with the half tek: the onset finder needs quiet before each
// attack, and the half tek falls below its threshold within 51 ms, well inside a 125 ms step.
// It also rings longer than a step, so the sound never stops while the rhythm plays.
//
// Needs no display and no sound card.
#include <fcntl.h>
#include <pulse/pulseaudio.h>
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
#include "measure/freeze_probe.h"
#include "measure/onset_detect.h"
#include "measure/record_stream.h"
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
    int underrunsInFreezes = 0;   // of those, the ones that began while the machine was frozen
    std::vector<freeze_probe::Freeze> freezes;  // the machine's own stops while playing
    bool probed = false;          // the freeze probe watched the run
    bool freezesRealtime = true;  // the probe ran at a real-time priority
    double playCalled = 0.0;      // steady seconds: the play call
    double firstDue = 0.0;        // steady seconds: the first stroke's due time, its stamp
    std::vector<double> dues;     // the timeline's next due time, once a second while playing
    std::vector<double> heardDelays;  // audio::heardDelay, once a second while playing
    double finderLag = 0.0;  // seconds from the sound's first frame to its onset as found
    // For the server's recording: frames read and the steady time of frame 0 at each read.
    std::vector<std::pair<double, double>> origins;
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
// Meanwhile it notes the first stroke's due time and samples the library's heardDelay.
void play(TutorApp* app, double seconds, Run* run, const std::function<void()>& midway = {}) {
    using Clock = std::chrono::steady_clock;
    const double cpuBefore = processCpuSeconds();
    const auto started = Clock::now();
    const auto end = started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    const double before = app->stepClock.load();
    run->playCalled = steadyNow();
    app->start();
    // The timeline moves one step on once the first stroke is handed over: due time + step.
    while (app->stepClock.load() == before && Clock::now() < started + std::chrono::seconds(1))
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    run->firstDue = app->stepClock.load() - stepSeconds;
    bool halfway = !midway;
    for (auto next = Clock::now(); next < end;) {
        next = std::min(end, next + std::chrono::seconds(1));
        std::this_thread::sleep_until(next);
        run->heardDelays.push_back(audio::heardDelay(app->audioSystem));
        run->dues.push_back(app->stepClock.load());
        if (!halfway && next >= started + (end - started) / 2) {
            halfway = true;
            midway();
        }
    }
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

// The sink's monitor recorded in this process through libpulse, with the time each frame is
// heard. After every read the server's timing says how old the next frame to read is (for a
// monitor, negative while the sink has yet to play it), so the frames about it are heard at
// origin + n / rate. The origin is taken near each frame asked about (the median of the reads
// about it), so that frames the monitor lost on a busy machine do not move later ones.
class MonitorRecorder {
public:
    MonitorRecorder() = default;
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;
    ~MonitorRecorder() { stop(); }

    bool start(double expectedSeconds) {
        samples_.reserve(static_cast<std::size_t>(expectedSeconds * kRate) * 2);
        // Fragments of 10 ms, as parec was asked.
        return stream_.start("playback_onsets monitor", "tabla.monitor", kRate / 100 * 2 * sizeof(float),
                             PA_STREAM_NOFLAGS, &MonitorRecorder::read, this, nullptr);
    }

    void stop() { stream_.stop(); }

    // After stop: what was recorded, and for each read the frames read by then and the steady
    // time frame 0 would have been heard at.
    std::vector<float> takeSamples() { return std::move(samples_); }
    std::vector<std::pair<double, double>> takeOrigins() { return std::move(origins_); }

private:
    static constexpr uint32_t kRate = record_stream::rate;

    static void read(pa_stream* stream, std::size_t, void* user) {
        auto* self = static_cast<MonitorRecorder*>(user);
        const void* data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
            const std::size_t count = bytes / sizeof(float);
            if (data) {
                const auto* floats = static_cast<const float*>(data);
                self->samples_.insert(self->samples_.end(), floats, floats + count);
            } else {
                self->samples_.insert(self->samples_.end(), count, 0.0f);  // a hole: nothing played
            }
            pa_stream_drop(stream);
        }
        pa_usec_t usec = 0;
        int negative = 0;
        if (pa_stream_get_latency(stream, &usec, &negative) == 0) {
            const double age = (negative ? -1e-6 : 1e-6) * static_cast<double>(usec);
            const double frames = static_cast<double>(self->samples_.size() / 2);
            self->origins_.emplace_back(frames, steadyNow() - age - frames / kRate);
        }
    }

    record_stream::Stream stream_;
    std::vector<float> samples_;   // the loop's thread while it runs
    std::vector<std::pair<double, double>> origins_;  // likewise
};

// Where the onset finder marks the half tek, in seconds after the sound's first frame (the
// offline output, a start at its stamped frame): part of any stamp-to-onset time that no
// output adds. NaN when it cannot be rendered.
double finderLagSeconds() {
    constexpr int rate = 48000;
    audio::setDefaultOutput(audio::OutputKind::Offline);
    audio::setOfflineSampleRate(rate);
    double lag = std::nan("");
    audio::System* system = nullptr;
    audio::Sound* sound = nullptr;
    audio::Channel* channel = nullptr;
    const std::string path = (testing_support::programFolder() / "soundFont" / "half_tek_front.wav").string();
    if (audio::systemCreate(&system) == audio::Ok && system->init(1, audio::InitNormal, nullptr) == audio::Ok &&
        system->createSound(path.c_str(), audio::LoopOff | audio::Mode2D | audio::Hardware, nullptr, &sound) == audio::Ok &&
        system->playSound(0, sound, false, &channel) == audio::Ok) {
        std::vector<float> out(2 * rate);
        audio::offlineRender(system, out.data(), rate);
        const auto onsets = findOnsets(out.data(), rate, rate, OnsetOptions{0.05f, 0.01});
        if (!onsets.empty())
            lag = static_cast<double>(static_cast<long>(onsets.front()) - audio::outputLatencyFrames(system)) / rate;
    }
    if (system) system->release();
    audio::setOfflineSampleRate(0);
    return lag;
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

bool runServer(double seconds, const sound_server::Server& server, Run* run) {
    // The recorder comes first: a null sink with nothing connected idles on a long timer, and
    // a low-latency stream on its monitor wakes it up, as a real device would be.
    MonitorRecorder recorder;
    if (!recorder.start(seconds + 5.0)) {
        std::fprintf(stderr, "playback_onsets: the sink's monitor could not be recorded\n");
        return false;
    }
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
        freeze_probe::Probe probe;
        probe.start();
        play(app, seconds, run, [&] { run->outputLatencyMs = server.streamLatencyMs(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        run->probed = true;
        run->freezesRealtime = probe.realtime();
        run->freezes = probe.stop();
        const std::vector<double> underruns = server.underrunsFrom(logLine);
        run->underruns = static_cast<int>(underruns.size());
        // The stream holds about 30 ms beyond the sink's part: a freeze of a processor that
        // runs the output's or the server's thread empties it while it lasts.
        for (double at : underruns) run->underrunsInFreezes += freeze_probe::during(run->freezes, at, 0.05);
    } else {
        std::fprintf(stderr, "playback_onsets: no device output opened on the server\n");
    }
    if (app) closeTutor(app);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    recorder.stop();
    if (!opened) return false;
    run->stream = recorder.takeSamples();
    run->origins = recorder.takeOrigins();
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
    // Where the stream's heard times are known (the server): from the play call to the first
    // onset, and the median time from a stroke's stamp to its onset; NaN elsewhere.
    double firstHeardMs = std::nan("");
    double stampToOnsetMs = std::nan("");
    // The inter-onset error (frames) of the intervals that no freeze of the machine touched,
    // and how many those are; NaN without a freeze probe.
    double p99OutsideFreezes = std::nan("");
    double maxOutsideFreezes = std::nan("");
    std::size_t intervalsOutsideFreezes = 0;
};

double median(std::vector<double> values) {
    if (values.empty()) return std::nan("");
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

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
    const std::vector<double> inOrder = errors;
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
    if (!run.origins.empty()) {
        // The steady time a frame is heard: by the origins of the reads in the half second
        // after it (the server's timing takes a moment to settle after a sink wakes up).
        const auto heardAt = [&](std::size_t frame) {
            const auto from = std::lower_bound(run.origins.begin(), run.origins.end(),
                                               std::make_pair(static_cast<double>(frame), -HUGE_VAL));
            std::vector<double> near;
            for (auto i = from; i < run.origins.end() && i->first < frame + 0.5 * run.rate; ++i)
                near.push_back(i->second);
            if (near.empty()) near.push_back(run.origins.back().second);
            return median(near) + static_cast<double>(frame) / run.rate;
        };
        figures.firstHeardMs = 1000.0 * (heardAt(onsets.front()) - run.playCalled);
        // Each onset belongs to the stroke due nearest its time less the reported delay, on the
        // timeline as last seen before it (a step the thread had to sound late moves the ones
        // after it), so a stroke lost in a dropout does not shift the others.
        const double reported = median(run.heardDelays);
        std::vector<double> delays;
        for (const std::size_t onset : onsets) {
            const double due = heardAt(onset) - reported;
            double timeline = run.firstDue;
            for (const double seen : run.dues)
                if (seen <= due + stepSeconds / 2) timeline = seen;
            const double steps = std::round((due - timeline) / stepSeconds);
            delays.push_back(heardAt(onset) - (timeline + steps * stepSeconds));
        }
        figures.stampToOnsetMs = 1000.0 * (median(delays) - run.finderLag);
        if (run.probed) {
            // An interval is the machine's when a freeze (give or take 50 ms) falls between
            // the due times of its two strokes: a thread held off then sounds the second late.
            std::vector<double> outside;
            for (std::size_t i = 1; i < onsets.size(); ++i) {
                const double from = heardAt(onsets[i - 1]) - reported - 0.05;
                const double to = heardAt(onsets[i]) - reported + 0.05;
                const bool frozen = std::any_of(run.freezes.begin(), run.freezes.end(), [&](const auto& f) {
                    return f.start < to && f.start + f.seconds > from;
                });
                if (!frozen) outside.push_back(inOrder[i - 1]);
            }
            std::sort(outside.begin(), outside.end());
            figures.intervalsOutsideFreezes = outside.size();
            if (!outside.empty()) {
                figures.p99OutsideFreezes = outside[static_cast<std::size_t>(std::ceil(0.99 * outside.size())) - 1];
                figures.maxOutsideFreezes = outside.back();
            }
        }
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
    if (run.underruns > 0) std::printf(" (%d while the machine was frozen)", run.underrunsInFreezes);
    if (!std::isnan(f.p99OutsideFreezes))
        std::printf("\n  outside the machine's freezes (%zu intervals): p99 %.1f  max %.1f frames",
                    f.intervalsOutsideFreezes, f.p99OutsideFreezes, f.maxOutsideFreezes);
    if (!run.freezes.empty()) {
        double longest = 0;
        for (const auto& f : run.freezes) longest = std::max(longest, f.seconds);
        std::printf("\n  the machine froze %zu times for over 15 ms, up to %.0f ms (a%s probe thread per processor)",
                    run.freezes.size(), 1000.0 * longest, run.freezesRealtime ? " real-time" : "n ordinary");
    }
    std::printf("\n  latency: stamped starts %.1f ms", run.stampLatencyMs);
    if (run.outputLatencyMs > 0.0) std::printf(", output (server-reported) %.1f ms", run.outputLatencyMs);
    std::printf("\n  process CPU: %.2f s for %.2f s of playing = %.1f %%\n", run.cpuSeconds,
                run.playedSeconds, 100.0 * run.cpuSeconds / run.playedSeconds);
    if (!std::isnan(f.firstHeardMs)) {
        const auto [low, high] = std::minmax_element(run.heardDelays.begin(), run.heardDelays.end());
        std::printf("  Play to the first stroke heard: %.1f ms\n", f.firstHeardMs);
        std::printf("  heard delay: library reports %.1f ms (%.1f .. %.1f), measured stamp to onset %.1f ms\n",
                    1000.0 * median(run.heardDelays), 1000.0 * *low, 1000.0 * *high, f.stampToOnsetMs);
    }
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 30.0;
    bool soak = false;
    bool secondsGiven = false;
    bool serverOnly = false;
    bool keep = false;
    bool restartOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
            secondsGiven = true;
        } else if (std::strcmp(argv[i], "--keep") == 0) {
            keep = true;
        } else if (std::strcmp(argv[i], "--server-only") == 0) {
            serverOnly = true;
        } else if (std::strcmp(argv[i], "--restart") == 0) {
            restartOnly = true;
        } else if (std::strcmp(argv[i], "--soak") == 0) {
            soak = true;
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N] [--soak] [--server-only] [--restart] [--keep]\n", argv[0]);
            return 2;
        }
    }
    if (soak && !secondsGiven) seconds = 600.0;
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
            if (!soak) server.done = check(runServer(seconds, sound, &server.run), "server");
            Load busy(2 * cores);
            serverLoaded.done = check(runServer(seconds, sound, &serverLoaded.run), "loaded server");
        }
    }
    const double finderLag = finderLagSeconds();
    std::printf("the onset finder marks the half tek %.1f ms after its first frame; taken off the "
                "measured stamp-to-onset times\n", 1000.0 * finderLag);
    for (Result* result : {&silent, &silentLoaded, &server, &serverLoaded}) {
        result->run.finderLag = finderLag;
        if (result->done) result->figures = measure(result->run);
    }
    if (silent.done) print("silent output, quiet", silent.run, silent.figures);
    if (silentLoaded.done) print("silent output, every core busy", silentLoaded.run, silentLoaded.figures);
    if (server.done) print("PulseAudio null sink, quiet", server.run, server.figures);
    if (serverLoaded.done)
        print("PulseAudio null sink, every core busy", serverLoaded.run, serverLoaded.figures);
    std::error_code ignored;
    if (status == 0 && !keep) std::filesystem::remove_all(folder, ignored);
    else std::fprintf(stderr, "playback_onsets: the server's log kept in %s\n", folder.c_str());

    if (soak) {
        const Run& run = serverLoaded.run;
        const Figures& f = serverLoaded.figures;
        std::printf("RESULT soak_seconds=%.0f underruns=%d underruns_outside_freezes=%d freezes=%zu gaps=%ld "
                    "p99_frames=%.1f max_frames=%.1f p99_outside_freezes_frames=%.1f first_heard_ms=%.1f "
                    "heard_delay_ms=%.1f stamp_to_onset_ms=%.1f\n",
                    run.playedSeconds, run.underruns, run.underruns - run.underrunsInFreezes, run.freezes.size(),
                    f.gaps, f.p99, f.max, f.p99OutsideFreezes, f.firstHeardMs,
                    1000.0 * median(run.heardDelays), f.stampToOnsetMs);
        return status;
    }

    std::printf("RESULT p99_frames=%.1f max_frames=%.1f drift_ms=%.3f loaded_p99_frames=%.1f "
                "loaded_drift_ms=%.3f server_p99_frames=%.1f server_underruns=%d latency_ms=%.1f "
                "first_heard_ms=%.1f heard_delay_ms=%.1f stamp_to_onset_ms=%.1f\n",
                silent.figures.p99, silent.figures.max, silent.figures.driftMs,
                silentLoaded.figures.p99, silentLoaded.figures.driftMs, server.figures.p99,
                server.run.underruns, server.run.outputLatencyMs, server.figures.firstHeardMs,
                1000.0 * median(server.run.heardDelays), server.figures.stampToOnsetMs);
    return status;
}
