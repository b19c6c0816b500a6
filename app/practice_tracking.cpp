// The practice log in the running program.
#include "app/practice_tracking.h"

#include <algorithm>

#include "store/practice_log.h"
#include "tutor/tutor_app.h"

namespace {

// A frame further from the last than this is a machine that slept, not practice.
constexpr double longestFrameSeconds = 1.0;
// Less playing than this, and no pass, is not written.
constexpr double shortestRecordSeconds = 1.0;

}  // namespace

void PracticeTracker::begin(const TutorApp& app) {
    const RhythmEntry* entry = app.shownEntry();
    tracking_ = true;
    loads_ = app.loadCount;
    entry_ = app.shown.entry;
    file_ = entry->file;
    title_ = entry->title;
    lastSeen_ = -1;
    seconds_ = 0;
    passes_ = slowest_ = fastest_ = 0;
    passesDone_ = app.shown.repeatsDone;
    passTempo_ = app.tempo;
    // Heard from its first step (or from the count-in before it): a whole pass so far.
    passWhole_ = app.shown.countIn > 0 || app.shown.stepIndex <= 1;
}

void PracticeTracker::frame(const TutorApp& app, HWND owner) {
    const RhythmEntry* entry = app.shownEntry();
    if (tracking_ && (app.loadCount != loads_ || app.shown.entry != entry_ || app.shownState == Stopped))
        flush(owner);
    if (app.shownState != Playing || !app.rhythmLoaded || !entry) {
        lastSeen_ = -1;  // paused: the tally waits, and the pause is not counted
        return;
    }
    if (!tracking_) begin(app);
    const double now = app.stepTimer.seconds();
    if (lastSeen_ >= 0 && now - lastSeen_ <= longestFrameSeconds) seconds_ += now - lastSeen_;
    lastSeen_ = now;
    if (app.shown.repeatsDone > passesDone_) {
        passes_ += app.shown.repeatsDone - passesDone_;
        if (passWhole_ && passTempo_ > 0) {
            slowest_ = slowest_ == 0 ? passTempo_ : std::min(slowest_, passTempo_);
            fastest_ = std::max(fastest_, passTempo_);
        }
        // The next pass's tempo is taken once its first step is heard: the speed trainer's
        // new tempo comes with that step.
        passTempo_ = 0;
        passWhole_ = true;
    }
    if (passTempo_ == 0) {
        if (app.shown.stepIndex >= 1 || entry->stepCount <= 1) passTempo_ = app.tempo;
    } else if (app.tempo != passTempo_) {
        passWhole_ = false;  // the tempo changed by hand within the pass
    }
    passesDone_ = app.shown.repeatsDone;
}

void PracticeTracker::flush(HWND owner) {
    const bool worth = tracking_ && (seconds_ >= shortestRecordSeconds || passes_ > 0);
    tracking_ = false;
    if (!worth) return;
    PracticeRecord record;
    record.date = todayLocalDate();
    record.file = file_;
    record.title = title_;
    record.minutes = seconds_ / 60.0;
    record.passes = passes_;
    record.slowestTempo = slowest_;
    record.fastestTempo = fastest_;
    const std::string path = practiceLogPath();
    std::string error;
    if (path.empty() || appendPracticeRecord(path, record, error) || warned_) return;
    warned_ = true;
    MessageBoxA(owner, error.c_str(), "Tabladex", MB_OK | MB_ICONWARNING);
}

void checkPracticeLog(HWND owner) {
    const PracticeLogRead read = readPracticeLog(practiceLogPath());
    if (!read.message.empty()) MessageBoxA(owner, read.message.c_str(), "Tabladex", MB_OK | MB_ICONWARNING);
}

void showPracticeLog(PracticeTracker& tracker, HWND owner) {
    tracker.flush(owner);
    const PracticeLogRead read = readPracticeLog(practiceLogPath());
    if (!read.message.empty()) MessageBoxA(owner, read.message.c_str(), "Tabladex", MB_OK | MB_ICONWARNING);
    const std::string text = practiceLogText(summarizePractice(read.records, read.scored, todayLocalDate()));
    MessageBoxA(owner, text.c_str(), "Practice Log", MB_OK);
}
