// The millisecond watcher of the lamp and the marker.
#include "bench/av_sync_cues.h"

#include <time.h>

#include <algorithm>

namespace {

constexpr int lampLeft = 225, lampTop = 80, lampSize = 150;
constexpr int notesLeft = 10, notesTop = 290, cell = 20, cellsPerRow = 28;
// The lamp is compared on every third pixel of every third row (2500 pixels a poll); it is
// lit when 2 % of them differ from the dark lamp. A cell is marked when a tenth of its 400
// pixels differ from the unmarked notation.
constexpr int lampStep = 3;
constexpr int lampLitPixels = (lampSize / lampStep) * (lampSize / lampStep) / 50;
constexpr int markedPixels = cell * cell / 10;

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

bool CueWatcher::prepare(const char* displayName, int originX, int originY, int steps, std::string* error) {
    steps_ = std::clamp(steps, 1, cellsPerRow * 8);
    display_ = XOpenDisplay(displayName);
    if (!display_) {
        *error = "cannot open the display";
        return false;
    }
    const int rows = (steps_ + cellsPerRow - 1) / cellsPerRow;
    const int columns = std::min(steps_, cellsPerRow);
    if (!lampRegion_.create(display_, originX + lampLeft, originY + lampTop, lampSize, lampSize) ||
        !notesRegion_.create(display_, originX + notesLeft, originY + notesTop, cell * columns, cell * rows) ||
        !lampRegion_.grab() || !notesRegion_.grab()) {
        *error = "cannot grab the lamp or the notation";
        return false;
    }
    shared_ = lampRegion_.shared() && notesRegion_.shared();
    lampRegion_.copyTo(&lampReference_);
    notesRegion_.copyTo(&notesReference_);
    return true;
}

bool CueWatcher::lampLit() const {
    return lampRegion_.differing(lampReference_, 0, 0, lampSize, lampSize, lampStep) >= lampLitPixels;
}

int CueWatcher::markedStep() const {
    int best = -1, bestCount = markedPixels - 1;
    for (int step = 0; step < steps_; ++step) {
        const int count = notesRegion_.differing(notesReference_, cell * (step % cellsPerRow),
                                                 cell * (step / cellsPerRow), cell, cell);
        if (count > bestCount) {
            best = step;
            bestCount = count;
        }
    }
    return best;
}

void CueWatcher::start() {
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void CueWatcher::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        thread_.join();
    }
    if (display_) {
        // The regions' segments are detached on the connection before it closes.
        lampRegion_.release();
        notesRegion_.release();
        XCloseDisplay(display_);
        display_ = nullptr;
    }
}

void CueWatcher::run() {
    std::vector<double> intervals;
    intervals.reserve(200000);
    bool lit = false;
    int marked = -1;
    double lastLamp = 0.0, lastNotes = 0.0;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    while (!stopping_.load()) {
        next.tv_nsec += 1000000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        // A poll that came late starts the schedule afresh rather than catching up in a burst.
        const double before = monotonicSeconds();
        if (before - (static_cast<double>(next.tv_sec) + static_cast<double>(next.tv_nsec) * 1e-9) > 0.001)
            clock_gettime(CLOCK_MONOTONIC, &next);
        if (!lampRegion_.grab()) break;
        const double between = monotonicSeconds();
        if (!notesRegion_.grab()) break;
        const double after = monotonicSeconds();
        const double lampAt = 0.5 * (before + between), notesAt = 0.5 * (between + after);
        if (polls_ > 0) intervals.push_back(1000.0 * (lampAt - lastLamp));
        const bool nowLit = lampLit();
        const int nowMarked = markedStep();
        if (polls_ > 0 && nowLit != lit) {
            lamp_.push_back(CueChange{0.5 * (lastLamp + lampAt), 0.5 * (lampAt - lastLamp), -1, nowLit});
            maxUncertaintyMs_ = std::max(maxUncertaintyMs_, 500.0 * (lampAt - lastLamp));
        }
        if (polls_ > 0 && nowMarked != marked) {
            marker_.push_back(CueChange{0.5 * (lastNotes + notesAt), 0.5 * (notesAt - lastNotes), nowMarked, false});
            maxUncertaintyMs_ = std::max(maxUncertaintyMs_, 500.0 * (notesAt - lastNotes));
        }
        lit = nowLit;
        marked = nowMarked;
        lastLamp = lampAt;
        lastNotes = notesAt;
        ++polls_;
    }
    if (!intervals.empty()) {
        std::nth_element(intervals.begin(), intervals.begin() + static_cast<std::ptrdiff_t>(intervals.size() / 2),
                         intervals.end());
        medianIntervalMs_ = intervals[intervals.size() / 2];
    }
}
