// av_sync_probe - the measuring half of the av_sync benchmark (bench/av_sync.sh starts the
// servers and the program, then runs this on its window).
//
//   av_sync_probe --window ID --steps N --step-seconds S --background BMP
//                 [--beats N] [--source NAME] [--settle SECONDS] [--keep DIR]
//
// The tutor must show its rhythm, stopped, in the window given; the rhythm sounds one stroke
// on every step and has one step a beat. The probe
//   1. finds the window's client area on the screen by its background image;
//   2. records the sink's monitor in this process (MonitorRecorder), each frame dated as the
//      moment the sink played it, and waits --settle seconds (3) for an idle null sink to
//      take up the streams;
//   3. takes the lamp and the notation as references and watches both every millisecond
//      (CueWatcher);
//   4. presses Play with a synthetic click (XTest) on the button at (17, 237) of the client
//      area, and lets --beats strokes (60) sound;
//   5. finds the strokes in the recording (measure/onset_detect.h) and pairs each with the
//      lamp's lighting and with the marker's arrival on a step, each nearest within half a
//      step.
// All times are CLOCK_MONOTONIC in this one process: the screen's the moments the X server
// had the new pixels, the sound's the moments the sink played the stroke.
// It prints per cue the screen-minus-sound median, p95 and max in ms (negative: the screen
// leads), Play to the first stroke heard, and last a line
//   FIGURES marker_med_ms=… marker_p95_ms=… marker_max_ms=… lamp_med_ms=… lamp_p95_ms=…
//           lamp_max_ms=… play_to_sound_ms=…
// Exit status 1 when fewer than 40 strokes were paired with a cue, 2 when it could not run.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/av_sync_cues.h"
#include "bench/av_sync_monitor.h"
#include "bench/av_sync_screen.h"
#include "measure/onset_detect.h"

namespace {

constexpr std::size_t minimumPairs = 40;
constexpr int playX = 17, playY = 237;  // the Play button's middle in the client area

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void sleepSeconds(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

struct Options {
    Window window = 0;
    int steps = 0;
    double stepSeconds = 0.0;
    std::string background;
    int beats = 60;
    std::string source = "tabla.monitor";
    double settle = 3.0;
    std::string keep;
};

bool parse(int argc, char** argv, Options* options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--window") options->window = std::strtoul(value, nullptr, 0);
        else if (name == "--steps") options->steps = std::atoi(value);
        else if (name == "--step-seconds") options->stepSeconds = std::atof(value);
        else if (name == "--background") options->background = value;
        else if (name == "--beats") options->beats = std::atoi(value);
        else if (name == "--source") options->source = value;
        else if (name == "--settle") options->settle = std::atof(value);
        else if (name == "--keep") options->keep = value;
        else return false;
    }
    return argc % 2 == 1 && options->window != 0 && options->steps > 0 && options->stepSeconds > 0.0 &&
           !options->background.empty() && options->beats > 0;
}

// A change seen only after a stall of the watcher (the machine busy elsewhere) cannot be
// dated; the strokes it shows are left out and counted.
constexpr double maxUncertainty = 0.0025;

struct Figures {
    std::vector<double> differencesMs;  // screen minus sound, one per paired stroke
    std::size_t strokes = 0;
    std::size_t undated = 0;  // strokes whose change was seen too late to date
    double median = NAN, p95 = NAN, max = NAN, min = NAN;
};

double percentile(const std::vector<double>& sorted, double fraction) {
    const auto index = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size()))) - 1;
    return sorted[std::min(index, sorted.size() - 1)];
}

// Pairs every stroke with the change of the cue that shows a stroke (the marker arriving on
// a step, the lamp lighting) nearest to it within half a step. The strokes are paired by
// time, not by their count: a program that falls behind sounds a step late and carries on
// from there, and a stroke lost in a dropout would shift every count after it. The marker
// counts from its first arrival on the first step: before that it may show the last step
// (the step that "sounded last" before Play).
Figures pair(const std::vector<double>& strokes, const std::vector<CueChange>& changes, bool marker,
             double stepSeconds) {
    Figures figures;
    figures.strokes = strokes.size();
    const auto first = marker ? std::find_if(changes.begin(), changes.end(),
                                             [](const CueChange& change) { return change.marked == 0; })
                              : changes.begin();
    for (double stroke : strokes) {
        double best = stepSeconds / 2, uncertainty = 0.0;
        bool found = false;
        for (auto change = first; change != changes.end(); ++change) {
            const bool shows = marker ? change->marked >= 0 : change->lit;
            if (shows && std::fabs(change->at - stroke) < std::fabs(best)) {
                best = change->at - stroke;
                uncertainty = change->uncertainty;
                found = true;
            }
        }
        if (!found) continue;
        if (uncertainty > maxUncertainty) ++figures.undated;
        else figures.differencesMs.push_back(1000.0 * best);
    }
    std::vector<double> sorted = figures.differencesMs;
    std::sort(sorted.begin(), sorted.end());
    if (!sorted.empty()) {
        figures.median = percentile(sorted, 0.5);
        figures.p95 = percentile(sorted, 0.95);
        figures.max = sorted.back();
        figures.min = sorted.front();
    }
    return figures;
}

void report(const char* name, const Figures& figures) {
    std::printf("%s: %zu of %zu strokes paired (%zu more seen only after a stall of the watcher); screen minus sound: median %.1f ms, p95 %.1f ms, "
                "max %.1f ms (min %.1f ms)\n",
                name, figures.differencesMs.size(), figures.strokes, figures.undated, figures.median, figures.p95, figures.max,
                figures.min);
}

// What the run recorded, for a look afterwards: the monitor as raw stereo float at 48 kHz,
// and every cue change and stroke with its time from the press.
void keep(const std::string& folder, const MonitorRecorder& recorder, const CueWatcher& watcher,
          const std::vector<double>& strokes, double pressAt) {
    std::filesystem::create_directories(folder);
    std::ofstream raw(folder + "/monitor.f32", std::ios::binary);
    raw.write(reinterpret_cast<const char*>(recorder.samples().data()),
              static_cast<std::streamsize>(recorder.samples().size() * sizeof(float)));
    std::ofstream events(folder + "/events.txt");
    events << "# ms from the press\n";
    for (const CueChange& change : watcher.markerChanges())
        events << 1000.0 * (change.at - pressAt) << " marker " << change.marked << "\n";
    for (const CueChange& change : watcher.lampChanges())
        events << 1000.0 * (change.at - pressAt) << " lamp " << (change.lit ? "on" : "off") << "\n";
    for (double stroke : strokes) events << 1000.0 * (stroke - pressAt) << " stroke\n";
    std::ofstream anchors(folder + "/fragments.txt");
    anchors << "# first frame, frames, taken at (ms from the press), record stream latency (ms)\n";
    for (const MonitorRecorder::Anchor& anchor : recorder.anchors())
        anchors << anchor.frame << " " << anchor.frames << " " << 1000.0 * (anchor.readAt - pressAt) << " "
                << 1000.0 * anchor.latency << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: %s --window ID --steps N --step-seconds S --background BMP [--beats N] "
                     "[--source NAME] [--settle SECONDS] [--keep DIR]\n",
                     argv[0]);
        return 2;
    }
    Picture background;
    if (!loadBmp(options.background, &background)) {
        std::fprintf(stderr, "av_sync_probe: cannot read the background image %s\n", options.background.c_str());
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (!display || !XTestQueryExtension(display, &event, &error, &major, &minor)) {
        std::fprintf(stderr, "av_sync_probe: no display, or no XTest on it\n");
        return 2;
    }

    // The window may still be painting its first frames.
    int originX = 0, originY = 0;
    std::string problem;
    bool found = false;
    for (int tries = 0; tries < 50 && !(found = findClientOrigin(display, options.window, background, &originX,
                                                                 &originY, &problem));
         ++tries)
        sleepSeconds(0.2);
    if (!found) {
        std::fprintf(stderr, "av_sync_probe: %s\n", problem.c_str());
        return 2;
    }
    std::printf("client area at (%d, %d) of the screen\n", originX, originY);

    MonitorRecorder recorder;
    if (!recorder.start(options.source, &problem)) {
        std::fprintf(stderr, "av_sync_probe: %s\n", problem.c_str());
        return 2;
    }
    sleepSeconds(options.settle);
    if (!recorder.waitSteady(15.0))
        std::printf("sound: the record stream's clock did not hold still within 15 s; the strokes are dated "
                    "by their neighbours all the same\n");

    CueWatcher watcher;
    if (!watcher.prepare(nullptr, originX, originY, options.steps, &problem)) {
        std::fprintf(stderr, "av_sync_probe: %s\n", problem.c_str());
        return 2;
    }
    watcher.start();
    const int screen = DefaultScreen(display);
    XTestFakeMotionEvent(display, screen, originX + playX, originY + playY, CurrentTime);
    XSync(display, False);
    sleepSeconds(0.3);
    // The press counts from when the server took it: between the request and its reply.
    const double beforePress = monotonicSeconds();
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XSync(display, False);
    const double pressAt = 0.5 * (beforePress + monotonicSeconds());
    // Held like a hand holds it, over a few frames.
    sleepSeconds(0.1);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
    sleepSeconds(options.stepSeconds * (options.beats + 1) + 1.0);
    watcher.stop();
    recorder.stop();
    XCloseDisplay(display);

    const MonitorRecorder::Calibration& calibration = recorder.calibration();
    std::printf("screen: %ld polls, median interval %.2f ms, %s; a change's time uncertain by at most %.1f ms\n",
                watcher.polls(), watcher.medianIntervalMs(), watcher.shared() ? "XShm" : "XGetImage",
                watcher.maxUncertaintyMs());
    std::printf("sound: %zu frames recorded from %s, %zu dropped by the server; %zu fragments dated by the "
                "record stream's latency, %zu of them from the moment its clock held still (latency median "
                "%.1f ms, range %.1f to %.1f ms); their offsets lie %.2f to %.2f ms (p5, p95) from the median "
                "that dates the recording; a frame reached this process %.1f ms (median) after the sink played "
                "it\n",
                recorder.frames(), options.source.c_str(), calibration.holeFrames, calibration.anchors,
                calibration.used, calibration.latencyMedianMs, calibration.latencyMinMs, calibration.latencyMaxMs,
                calibration.spreadP5Ms, calibration.spreadP95Ms, calibration.arrivalMedianMs);
    if (calibration.anchors == 0) {
        std::fprintf(stderr, "av_sync_probe: the record stream gave no timing; nothing can be dated\n");
        return 2;
    }

    const std::vector<std::size_t> onsets =
        findOnsets(recorder.samples().data(), recorder.frames(), recorder.rate(), OnsetOptions{0.05f, 0.01});
    std::vector<double> strokes;
    for (std::size_t frame : onsets)
        if (const double at = recorder.playedAt(static_cast<double>(frame)); at > pressAt) strokes.push_back(at);
    if (!options.keep.empty()) keep(options.keep, recorder, watcher, strokes, pressAt);
    if (strokes.empty()) {
        std::fprintf(stderr, "av_sync_probe: no stroke was heard after Play\n");
        return 1;
    }
    const double playToSoundMs = 1000.0 * (strokes.front() - pressAt);
    std::printf("strokes heard: %zu over %.1f s (%.0f steps' time); Play pressed to the first stroke heard: %.1f ms\n",
                strokes.size(), strokes.back() - strokes.front(),
                (strokes.back() - strokes.front()) / options.stepSeconds + 1, playToSoundMs);

    const Figures marker = pair(strokes, watcher.markerChanges(), true, options.stepSeconds);
    const Figures lamp = pair(strokes, watcher.lampChanges(), false, options.stepSeconds);
    report("marker", marker);
    report("lamp", lamp);
    std::printf("FIGURES marker_med_ms=%.1f marker_p95_ms=%.1f marker_max_ms=%.1f lamp_med_ms=%.1f "
                "lamp_p95_ms=%.1f lamp_max_ms=%.1f play_to_sound_ms=%.1f\n",
                marker.median, marker.p95, marker.max, lamp.median, lamp.p95, lamp.max, playToSoundMs);
    if (marker.differencesMs.size() < minimumPairs || lamp.differencesMs.size() < minimumPairs) {
        std::fprintf(stderr, "av_sync_probe: fewer than %zu strokes paired with a cue; the figures are void\n",
                     minimumPairs);
        return 1;
    }
    return 0;
}
