// practice_tracking.h - the practice log in the running program: what the learner plays is
// gathered frame by frame and written to the log (store/practice_log.h), and the Practice
// Log panel shows the last 30 days.
//
// The tracker follows what the screen shows is heard: while a rhythm plays, the time it
// plays and the passes heard to their end, and the tempo of each pass played whole at one
// tempo (from its first step, with no change of the tempo on the way; a pass the speed
// trainer plays counts at its tempo). A pause keeps the tally; a stop, another rhythm on
// the screen (the playlist's next entry, a load) or the end of the program writes it as one
// record. Less than a second of playing and no pass is not worth a record.
//
// Threads: main thread only. Ownership: the tracker keeps copies of the rhythm's file and
// title; the tutor stays the caller's.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_api.h"

class TutorApp;

class PracticeTracker {
public:
    // Each frame, after the tutor followed the steps heard.
    void frame(const TutorApp& app, HWND owner);
    // Writes what has been gathered as a record of the log, if anything; a box owned by
    // owner says so, once a run, when it could not be written.
    void flush(HWND owner);

private:
    void begin(const TutorApp& app);

    bool tracking_ = false;
    uint32_t loads_ = 0;     // the tutor's loads and its shown entry when tracking began
    int32_t entry_ = -1;
    std::string file_;
    std::string title_;
    double lastSeen_ = -1;   // step timer seconds of the last frame that saw it playing
    double seconds_ = 0;
    int32_t passes_ = 0;
    int32_t slowest_ = 0;
    int32_t fastest_ = 0;
    int32_t passesDone_ = 0;  // the entry's passes done as last seen
    int32_t passTempo_ = 0;   // the tempo of the pass under way; 0 until its first step is heard
    bool passWhole_ = false;  // it has been heard from its first step at one tempo
    bool warned_ = false;
};

// Reads the log as the program starts: a damaged log is set aside and a box owned by owner
// says so (once; what could be read goes on).
void checkPracticeLog(HWND owner);

// The Practice Log panel: what the tracker gathered is written first, then the last 30
// days of the log are shown per rhythm in a box owned by owner.
void showPracticeLog(PracticeTracker& tracker, HWND owner);
