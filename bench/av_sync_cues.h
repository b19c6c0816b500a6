// av_sync_cues.h - watches the two playback cues of the tutor's screen on the X server, every
// millisecond, on a thread of its own: the metronome lamp (the 150 x 150 flash at (225, 80)
// of the back buffer) and the step marker (the marked cell among the notation's 20 x 20
// cells from (10, 290), 28 to a row).
//
// Each poll grabs the lamp's and the notation's rectangles (two XShm requests) and compares
// them with references taken while the tutor was stopped: the lamp is lit when enough of its
// pixels differ; the marked step is the cell that differs most, if any does enough. A change
// is dated halfway between the poll that first saw it and the poll before (each poll's time
// being the middle of its request), so its error is at most half a poll interval, which
// maxUncertaintyMs reports.
//
// Threads: start, stop and the results on one controlling thread; the polls on the
// watcher's own thread with its own X connection. Ownership: the watcher owns its thread,
// its connection and what it recorded.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "bench/av_sync_screen.h"

struct CueChange {
    double at = 0.0;     // CLOCK_MONOTONIC seconds
    double uncertainty = 0.0;  // half the time between the polls that bracket it, seconds
    int marked = -1;     // the marker's step after the change (-1: none), or
    bool lit = false;    //   the lamp's state after it
};

class CueWatcher {
public:
    CueWatcher() = default;
    CueWatcher(const CueWatcher&) = delete;
    CueWatcher& operator=(const CueWatcher&) = delete;
    ~CueWatcher() { stop(); }

    // Opens its own connection to the display, places the rectangles at the client origin
    // (root coordinates) for a rhythm of the given steps, and takes the references now: the
    // tutor must be stopped with the rhythm shown. False with a message when it cannot.
    bool prepare(const char* displayName, int originX, int originY, int steps, std::string* error);
    void start();
    void stop();

    const std::vector<CueChange>& markerChanges() const { return marker_; }
    const std::vector<CueChange>& lampChanges() const { return lamp_; }
    long polls() const { return polls_; }
    double medianIntervalMs() const { return medianIntervalMs_; }
    double maxUncertaintyMs() const { return maxUncertaintyMs_; }
    bool shared() const { return shared_; }  // the grabs went through XShm

private:
    void run();
    bool lampLit() const;
    int markedStep() const;

    Display* display_ = nullptr;
    ScreenRegion lampRegion_;
    ScreenRegion notesRegion_;
    Picture lampReference_;
    Picture notesReference_;
    int steps_ = 0;
    bool shared_ = false;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::vector<CueChange> marker_;
    std::vector<CueChange> lamp_;
    long polls_ = 0;
    double medianIntervalMs_ = 0.0;
    double maxUncertaintyMs_ = 0.0;
};
