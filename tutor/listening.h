// listening.h - the tutor listening to the learner's drum while it plays: the input opened
// while listening is wanted, the strokes heard in it, each stroke that was due matched to
// them, marks for the steps of the pass and a summary at its end.
//
// The input is open while Listen is on (playing or not) and while a check runs.
//
// What is scored: the passes the tutor leaves to the learner (silent passes, the answer of
// call and answer), so the microphone hears only the learner; with headphones every pass.
// The steps the screen shows as heard (their heardAt, on the step timer) are the strokes
// due; the input's frames carry the time they reached the microphone, so a stroke's offset
// is what the learner did, not what the machine's latencies added.
//
// The stroke calibration and the latency check use the same input while nothing plays:
// the first records a take of four doums, four teks and four slaps; the second sounds
// clicks and times them as they come back through the microphone.
//
// Threads: main thread only (it reads the input the audio library's capture thread fills
// through a lock-free ring). Ownership: the listener, the input buffers and the results are
// kept here; the tutor owns the record (TutorApp::listening).
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "gfx/screen.h"
#include "listen/stroke_calibration.h"
#include "listen/stroke_listener.h"
#include "listen/take_matcher.h"

class TutorApp;
struct HeardStep;

// The learner's choices (Practice > Listen), set by the menu.
struct ListenChoices {
    bool on = false;
    bool callAndAnswer = false;
    bool headphones = false;
    Tolerance tolerance = Tolerance::Normal;
    double inputOffset = 0.0;  // seconds the input arrives later than reported (latency check)
};

// One scored pass, for the practice log.
struct ScoredPassReport {
    int32_t entry = 0;
    int64_t pass = 0;
    int32_t tempo = 0;
    Tolerance tolerance = Tolerance::Normal;
    ScoreSummary summary;
};

// What the latency check found.
struct LatencyCheck {
    int clicks = 0;            // clicks sounded
    int heard = 0;             // clicks heard back
    double measuredMs = 0;     // median of heard minus due-as-reported, the round trip's excess
    double spreadMs = 0;       // their spread
    double reportedOutputMs = 0;
    double reportedInputMs = 0;
    double appliedMs = 0;      // the input offset already taken off the times heard
};

class Listening {
public:
    ListenChoices choices;
    StrokeCalibration calibration;  // read only: setCalibration changes it

    Listening();

    // Each frame, after the steps heard were followed: opens or closes the input as
    // listening is wanted, hears what came in, scores the passes under way.
    void frame(TutorApp& app);
    // A step the screen shows as heard now (followHeard hands each over).
    void stepShown(const TutorApp& app, const HeardStep& step);
    // The learner's strokes are told apart by this calibration from now on.
    void setCalibration(const StrokeCalibration& chosen);
    // Playback stopped or the rhythm changed: the pass under way is not scored; a new
    // rhythm or playlist (clearMarks) no longer shows the marks of the last.
    void forgetPasses();
    void clearMarks();

    // What the screen shows: a mark per step of the entry (empty: none), changed when
    // marksVersion changes; and the summary of the last pass scored while it is fresh.
    const std::vector<StepMark>& marks() const { return marks_; }
    uint32_t marksVersion() const { return marksVersion_; }
    int32_t marksEntry() const { return markedEntry_; }
    const std::string& notice(double now) const;
    // A pass's summary as the notice slot shows it: pages of at most noticeColumns letters,
    // each shown in turn (how many on time; wrong and missed strokes; the lean and spread).
    static std::vector<std::string> summaryPages(const ScoreSummary& summary);
    static constexpr std::size_t noticeColumns = 26;
    // Scored passes not yet taken by the practice log.
    std::vector<ScoredPassReport> takeScored();
    // Set when the input could not be opened: a message for one box, then cleared by the
    // caller; listening is switched off.
    std::string failure;

    // The stroke calibration (while stopped): records until four of each are heard, or 25 s.
    bool beginCalibration(TutorApp& app);
    bool calibrating() const { return mode_ == Mode::Calibrating; }
    // Done recording: the take's result (ok, or a message saying what was wrong).
    bool calibrationDone(CalibrationResult& result);
    // The latency check (while stopped): eight clicks half a second apart.
    bool beginLatencyCheck(TutorApp& app);
    bool checkingLatency() const { return mode_ == Mode::CheckingLatency; }
    bool latencyCheckDone(LatencyCheck& result);
    // The notice slot's text while calibrating or checking.
    std::string progressText() const;
    // A check runs and wants every frame; listening while stopped does not (the input's ring
    // holds seconds, read by the quiet tutor's slower frames).
    bool busy() const { return mode_ == Mode::Calibrating || mode_ == Mode::CheckingLatency; }

    // Seconds from each of the latest (up to 256) strokes heard reaching the microphone to
    // the frame that marks it, oldest first: what the learner waits for, for the benchmark.
    const std::vector<double>& feedbackDelays() const { return feedbackDelays_; }

    // The input's frames read so far, as times on the step timer (for tests and checks).
    double inputTime(int64_t frame) const;

private:
    enum class Mode { Idle, Scoring, Calibrating, CheckingLatency };
    struct PassScoring {
        int32_t entry = 0;
        int64_t pass = 0;
        int32_t tempo = 0;
        int32_t stepCount = 0;
        int32_t stepsShown = 0;
        bool scored = false;
        std::vector<ExpectedStroke> expected;
        std::vector<int32_t> stepOf;  // the step of each expected stroke
    };
    struct BlockTime {
        int64_t frame = 0;  // the listener's frame of the block's first sample
        double time = 0;    // when it reached the microphone, step timer seconds
    };

    bool openInput(TutorApp& app);
    void closeInput(TutorApp& app);
    void readInput(TutorApp& app);
    void scorePasses(TutorApp& app);
    double latestTime() const;
    void sendClicks(TutorApp& app);

    Mode mode_ = Mode::Idle;
    bool inputOpen_ = false;
    int rate_ = 48000;
    StrokeListener listener_;
    std::vector<float> block_;
    std::vector<HeardStroke> fresh_;
    std::deque<BlockTime> blockTimes_;
    std::deque<HeardAt> heard_;  // strokes heard, step timer seconds, oldest first
    int64_t framesRead_ = 0;
    int64_t listenerBase_ = 0;  // the input's frame the listener counts from
    std::deque<PassScoring> passes_;
    std::vector<StepMark> marks_;
    uint32_t marksVersion_ = 0;
    int32_t markedEntry_ = -1;  // the pass the marks are of
    int64_t markedPass_ = 0;
    std::vector<std::string> notice_;  // the pass's summary, a page at a time
    double noticeFrom_ = 0;
    std::vector<ScoredPassReport> scored_;
    std::vector<double> feedbackDelays_;
    // Calibration and the latency check, and their results once ready.
    bool resultReady_ = false;
    bool latencyChecked_ = false;  // the result ready is the latency check's
    CalibrationResult calibrationResult_;
    std::vector<float> take_;
    double modeStarted_ = 0;
    double lastStrokeAt_ = 0;
    int strokesHeard_ = 0;
    std::vector<double> clickTimes_;  // when each click is heard as reported, step timer seconds
    std::vector<double> clickTimesHeard_;
    int clicksSent_ = 0;
    int64_t clickFrameBase_ = 0;  // the input's frame the click detector counts from
    double firstClickDue_ = 0;
    std::vector<Onset> clickOnsets_;
    OnsetDetector clickDetector_;
    LatencyCheck latency_;
};
