// audio_onsets - how exactly the audio library starts a rhythm's sounds.
//
// Plays a 16-step pattern at 120 BPM, four steps per beat (a step every 0.125 s), for 30
// seconds, with a playback thread that asks for every sound at its steady-clock time, and
// finds every onset in what was rendered:
//   offline   the offline output on its virtual clock (the mixer alone);
//   baseline  the same with starts moved to the next block boundary (the naive mixer);
//   realtime  the real output path: SDL's disk driver writes the mix to a temporary file,
//             which is read back afterwards;
//   silent    the silent output, capturing: the same threads and clock as the real path,
//             but paced by the steady clock like a sound card instead of by SDL's sleeps.
// For each it prints the error of every inter-onset interval against the ideal interval in
// frames (median, p99, max), and the mixer's CPU time per second of audio. The last line is
//   RESULT offline_p99_frames=... realtime_p99_frames=... baseline_p99_frames=... mixer_cpu_percent=...
// Needs no sound card. Takes about 65 seconds.
#include <sndfile.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/audio.h"
#include "measure/onset_detect.h"

namespace {

constexpr double kStepSeconds = 0.125;  // 120 BPM, 4 steps per beat
constexpr double kRunSeconds = 30.0;
constexpr int kSteps = static_cast<int>(kRunSeconds / kStepSeconds);
// Which of the 16 steps sound, and on which of the four drum slots ('.' is a rest).
constexpr const char* kPattern = "D.TkD.T.S.TkD.TT";

int slotOf(char c) { return c == 'D' ? 0 : c == 'T' ? 1 : c == 'k' ? 2 : 3; }

struct Stats {
    double median = 0;
    double p99 = 0;
    double max = 0;
    std::size_t count = 0;
};

Stats statsOf(std::vector<double> errors) {
    Stats s;
    s.count = errors.size();
    if (errors.empty()) return s;
    for (double& e : errors) e = std::fabs(e);
    std::sort(errors.begin(), errors.end());
    s.median = errors[errors.size() / 2];
    s.p99 = errors[static_cast<std::size_t>(std::ceil(0.99 * errors.size())) - 1];
    s.max = errors.back();
    return s;
}

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// A click for each slot: a decaying cosine whose very first sample is loud, 8 ms long, so
// the onset is the first sample over the threshold.
bool writeClick(const std::string& path, int rate, double frequency) {
    const int frames = rate * 8 / 1000;
    std::vector<float> samples(static_cast<std::size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const float v = static_cast<float>(0.7 * std::cos(2 * std::numbers::pi * frequency * t) *
                                           std::exp(-t / 0.002));
        samples[2 * i] = v;
        samples[2 * i + 1] = v;
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    const bool ok = sf_writef_float(file, samples.data(), frames) == frames;
    return sf_close(file) == 0 && ok;
}

// The tutor's set-up: four sounds on channels 0..3 bound to one group.
struct Rig {
    audio::System* system = nullptr;
    audio::Sound* sounds[4] = {};
    audio::Channel* channels[4] = {};
    int rate = 0;

    bool open(const std::filesystem::path& dir) {
        if (audio::systemCreate(&system) != audio::Ok) return false;
        if (audio::Result r = system->init(32, audio::InitNormal, nullptr); r != audio::Ok) {
            std::fprintf(stderr, "init: %s\n", audio::errorString(r));
            return false;
        }
        rate = audio::outputSampleRate(system);
        audio::ChannelGroup* group = nullptr;
        if (system->createChannelGroup("Mastah Group", &group) != audio::Ok) return false;
        group->setVolume(1.0f);
        const double frequencies[4] = {300, 2000, 1500, 3000};
        for (int i = 0; i < 4; ++i) {
            const std::string path = (dir / ("click" + std::to_string(i) + ".wav")).string();
            if (!writeClick(path, rate, frequencies[i])) return false;
            if (audio::Result r = system->createSound(path.c_str(), 0x29, nullptr, &sounds[i]); r != audio::Ok) {
                std::fprintf(stderr, "createSound: %s\n", audio::errorString(r));
                return false;
            }
            if (system->getChannel(i, &channels[i]) != audio::Ok) return false;
            if (channels[i]->setChannelGroup(group) != audio::Ok) return false;
        }
        return true;
    }
    bool play(int step) {
        const char c = kPattern[step % 16];
        if (c == '.') return true;
        const int slot = slotOf(c);
        return system->playSound(audio::ChannelReuse, sounds[slot], false, &channels[slot]) == audio::Ok;
    }
    void close() {
        if (system) system->release();
        system = nullptr;
    }
};

std::vector<int> soundingSteps() {
    std::vector<int> steps;
    for (int s = 0; s < kSteps; ++s) {
        if (kPattern[s % 16] != '.') steps.push_back(s);
    }
    return steps;
}

// Interval errors in frames for a stream whose frames advance at `rate` per second. Each
// onset is matched to a sounding step by its distance from the previous matched onset, so
// a missing or merged onset costs only its own intervals instead of shifting all later ones.
// With callTimes (seconds, by step), the ideal interval is the one between the moments the
// requests were actually made, which leaves out how late the playback thread woke.
std::vector<double> intervalErrors(const std::vector<std::size_t>& onsets, const std::vector<int>& steps,
                                   double rate, const std::vector<double>* callTimes = nullptr) {
    std::vector<double> errors;
    if (onsets.empty() || steps.empty()) return errors;
    const double stepFrames = kStepSeconds * rate;
    int previousStep = steps.front();
    for (std::size_t i = 1; i < onsets.size(); ++i) {
        const double apart = static_cast<double>(onsets[i]) - static_cast<double>(onsets[i - 1]);
        const int step = previousStep + static_cast<int>(std::lround(apart / stepFrames));
        if (std::binary_search(steps.begin(), steps.end(), step) && step > previousStep) {
            const double seconds = callTimes ? (*callTimes)[step] - (*callTimes)[previousStep]
                                             : (step - previousStep) * kStepSeconds;
            errors.push_back(apart - std::round(seconds * rate));
        }
        previousStep = step;
    }
    return errors;
}

std::vector<std::size_t> detect(const std::vector<float>& stream, int rate) {
    return findOnsets(stream.data(), stream.size() / 2, rate, OnsetOptions{0.05f, 0.02});
}

void printStats(const char* name, const Stats& s) {
    std::printf("  %-58s median %6.1f  p99 %6.1f  max %6.1f frames  (%zu intervals)\n", name, s.median,
                s.p99, s.max, s.count);
}

struct OfflineRun {
    std::vector<float> stream;
    double cpu = 0;
    std::size_t late = 0;
    int rate = 0;
};

// The offline output: before each request, render what a real output would have rendered
// by then, set the virtual clock to the request's time and ask.
bool runOffline(const std::filesystem::path& dir, bool quantize, OfflineRun* run) {
    audio::setDefaultOutput(audio::OutputKind::Offline);
    Rig rig;
    if (!rig.open(dir)) return false;
    audio::setQuantizeStarts(rig.system, quantize);
    run->rate = rig.rate;
    const auto total = static_cast<std::size_t>((kRunSeconds + 0.5) * rig.rate);
    run->stream.assign(total * 2, 0.0f);
    std::size_t cursor = 0;
    const auto renderTo = [&](std::size_t end) {
        end = std::min(end, total);
        if (end <= cursor) return;
        const double before = cpuSeconds();
        audio::offlineRender(rig.system, run->stream.data() + cursor * 2, end - cursor);
        run->cpu += cpuSeconds() - before;
        cursor = end;
    };
    const double start = 0.05;
    for (int step = 0; step < kSteps; ++step) {
        const double t = start + step * kStepSeconds;
        renderTo(static_cast<std::size_t>(t * rig.rate));
        audio::offlineSetTime(rig.system, t);
        if (!rig.play(step)) return false;
    }
    renderTo(total);
    run->late = audio::lateStarts(rig.system);
    rig.close();
    return true;
}

struct RealtimeRun {
    std::vector<float> stream;
    std::vector<double> callTimes;  // steady seconds at which each step's request was made
    std::size_t late = 0;
    int rate = 0;
    int block = 0;
    bool device = false;
};

// A real output: SDL's disk driver, paced by SDL itself (kind Device), or the silent output
// capturing (kind Silent), and a playback thread that waits for each step's time on the
// steady clock (sleeping, then spinning the last stretch).
bool runRealtime(const std::filesystem::path& dir, audio::OutputKind kind, RealtimeRun* run) {
    const std::string raw = (dir / "disk-output.raw").string();
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
    audio::setDefaultOutput(kind);
    Rig rig;
    if (!rig.open(dir)) return false;
    run->device = audio::outputKind(rig.system) == kind;
    if (kind == audio::OutputKind::Silent) {
        const auto frames = static_cast<std::size_t>((kRunSeconds + 2) * rig.rate);
        if (audio::silentSetCapture(rig.system, frames) != audio::Ok) return false;
    }
    run->rate = rig.rate;
    run->block = audio::outputBlockFrames(rig.system);
    bool ok = true;
    run->callTimes.assign(kSteps, 0.0);
    std::thread playback([&] {
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now() + std::chrono::milliseconds(500);
        for (int step = 0; step < kSteps; ++step) {
            const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(step * kStepSeconds));
            std::this_thread::sleep_until(due - std::chrono::milliseconds(1));
            while (Clock::now() < due) {
            }
            run->callTimes[step] = std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
            ok = rig.play(step) && ok;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    });
    playback.join();
    run->late = audio::lateStarts(rig.system);
    if (kind == audio::OutputKind::Silent) {
        run->stream = audio::silentTakeCapture(rig.system);
        rig.close();
        return ok;
    }
    rig.close();
    std::ifstream in(raw, std::ios::binary | std::ios::ate);
    const auto bytes = static_cast<std::size_t>(in.tellg());
    run->stream.assign(bytes / sizeof(float), 0.0f);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(run->stream.data()), static_cast<std::streamsize>(bytes));
    return ok && in.good();
}

}  // namespace

int main() {
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("tabladex-audio-onsets-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::vector<int> steps = soundingSteps();
    std::printf("audio_onsets: %d steps of %.3f s (pattern %s), %zu sounds, %.0f s per run\n", kSteps,
                kStepSeconds, kPattern, steps.size(), kRunSeconds);

    OfflineRun offline;
    OfflineRun baseline;
    RealtimeRun realtime;
    RealtimeRun silent;
    if (!runOffline(dir, false, &offline) || !runOffline(dir, true, &baseline) ||
        !runRealtime(dir, audio::OutputKind::Device, &realtime) ||
        !runRealtime(dir, audio::OutputKind::Silent, &silent)) {
        std::fprintf(stderr, "audio_onsets: a run failed\n");
        std::filesystem::remove_all(dir);
        return 1;
    }
    std::filesystem::remove_all(dir);

    const auto offlineOnsets = detect(offline.stream, offline.rate);
    const auto baselineOnsets = detect(baseline.stream, baseline.rate);
    const auto realtimeOnsets = detect(realtime.stream, realtime.rate);
    const Stats offlineStats = statsOf(intervalErrors(offlineOnsets, steps, offline.rate));
    const Stats baselineStats = statsOf(intervalErrors(baselineOnsets, steps, baseline.rate));
    const Stats realtimeStats = statsOf(intervalErrors(realtimeOnsets, steps, realtime.rate));
    // The disk driver paces itself with whole-millisecond sleeps, so it consumes frames at
    // its own rate rather than the nominal one; this is its mean rate over the run, measured
    // from the first and last onsets.
    double deviceRate = realtime.rate;
    if (realtimeOnsets.size() >= 2 && realtimeOnsets.size() == steps.size()) {  // else nominal
        deviceRate = (static_cast<double>(realtimeOnsets.back()) - static_cast<double>(realtimeOnsets.front())) /
                     ((steps.back() - steps.front()) * kStepSeconds);
    }
    const Stats realtimeOwnRate = statsOf(intervalErrors(realtimeOnsets, steps, deviceRate));
    const auto silentOnsets = detect(silent.stream, silent.rate);
    const Stats silentStats = statsOf(intervalErrors(silentOnsets, steps, silent.rate));
    const Stats silentCalls = statsOf(intervalErrors(silentOnsets, steps, silent.rate, &silent.callTimes));
    const Stats realtimeCalls =
        statsOf(intervalErrors(realtimeOnsets, steps, deviceRate, &realtime.callTimes));

    std::printf("offline output, %d Hz: %zu/%zu onsets, %zu late\n", offline.rate, offlineOnsets.size(),
                steps.size(), offline.late);
    printStats("sample-accurate starts", offlineStats);
    std::printf("baseline, %d Hz: %zu/%zu onsets\n", baseline.rate, baselineOnsets.size(), steps.size());
    printStats("starts at the next block boundary", baselineStats);
    std::printf("realtime, SDL disk driver (%s), %d Hz, %d-frame blocks: %zu/%zu onsets, %zu late\n",
                realtime.device ? "device" : "NOT OPENED, silent", realtime.rate, realtime.block,
                realtimeOnsets.size(), steps.size(), realtime.late);
    printStats("against the nominal rate", realtimeStats);
    char label[96];
    std::snprintf(label, sizeof label, "against the driver's own mean rate (%.1f Hz)", deviceRate);
    printStats(label, realtimeOwnRate);
    printStats("same, against the times the requests were really made", realtimeCalls);
    std::printf("silent output, steady-clock paced, %d Hz, %d-frame blocks: %zu/%zu onsets, %zu late\n",
                silent.rate, silent.block, silentOnsets.size(), steps.size(), silent.late);
    printStats("against the nominal rate", silentStats);
    printStats("same, against the times the requests were really made", silentCalls);
    const double cpuPercent = 100.0 * offline.cpu / (offline.stream.size() / 2.0 / offline.rate);
    std::printf("mixer CPU: %.3f s for %.1f s of audio\n", offline.cpu, offline.stream.size() / 2.0 / offline.rate);

    double load[1] = {0};
    if (getloadavg(load, 1) == 1) {
        std::printf("machine load average (1 min): %.2f on %u cores; the disk driver's figures "
                    "follow it\n", load[0], std::thread::hardware_concurrency());
    }
    const bool complete = offlineOnsets.size() == steps.size() && baselineOnsets.size() == steps.size() &&
                          realtimeOnsets.size() == steps.size() && silentOnsets.size() == steps.size();
    if (!complete) {
        std::printf("WARNING: onset counts differ from the sounds played; intervals of unmatched "
                    "onsets are left out\n");
    }
    std::printf("RESULT offline_p99_frames=%.0f realtime_p99_frames=%.0f baseline_p99_frames=%.0f "
                "mixer_cpu_percent=%.3f\n",
                offlineStats.p99, realtimeStats.p99, baselineStats.p99, cpuPercent);
    // The offline figures are the library's own; the real paths depend on the machine.
    return offlineOnsets.size() == steps.size() ? 0 : 1;
}
