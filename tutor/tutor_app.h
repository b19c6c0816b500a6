// tutor_app.h - the one record of everything the tutor knows at run time: the transport
// state, the loaded entries and the position in them, step timing, volume, the on-screen
// controls' hot rectangles, the thirteen images, and the audio handles with the four drum
// samples.
//
// Threads: the main thread runs every operation here except playbackLoop, which runs on the
// playback thread (at most one at a time). The fields both threads touch are atomics:
// stepIndex, stepClock, volumeChanged, volume and soundDelay (and, in the current entry,
// repeatsDone and stepTime); heardSteps is a lock-free queue from the playback thread to
// the main thread, which alone reads it, sets beatFlag from it and keeps shown. The main thread changes currentEntry, entryCount and entries
// only while no playback thread runs. The playback thread sleeps on wakeSignal until its
// next step is due; requestStop and wakePlayback wake it at once from any thread.
// Ownership: the record owns its entries, images, step timer and, through audioSystem, the
// audio objects; the program entry owns the record. Entries' steps point at the four slots,
// so the slots never move while entries exist.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "gfx/screen.h"
#include "gfx/surface.h"
#include "platform/audio/audio.h"
#include "platform/audio/spsc_queue.h"
#include "platform/frame_timer.h"
#include "platform/win_api.h"
#include "rhythm/rhythm_entry.h"
#include "tutor/controls.h"
#include "tutor/listening.h"

enum PlayState : int32_t { Playing = 0, Paused = 1, Stopped = 2 };

// One drum sample and the channel it sounds on.
struct SoundSlot {
    audio::Sound* sound = nullptr;
    audio::Channel* channel = nullptr;
};


// A step as the screen shows it once its stroke is heard. The playback thread hands one over
// for every step it sounds (rests too) as it places the stroke; the main thread shows it
// when heardAt has come, so the marker, the lamp and the label change with the sound.
struct HeardStep {
    double heardAt = 0.0;     // step timer seconds: the step's due time and the sound's delay
    int32_t entry = 0;        // the entry the step belongs to
    int32_t stepIndex = 0;    // the position after the step, as stepIndex
    int32_t repeatsDone = 0;  // the entry's passes done after the step
    bool beat = false;        // the step begins a beat
    // The practice session: a count-in click rather than a step (the beats still to click,
    // this one included; 0 for a step), a step of a silent pass, and the pass's tempo when
    // the speed trainer set it at this step (0 otherwise), which the knob then shows.
    int32_t countIn = 0;
    bool silent = false;
    int32_t ladderTempo = 0;
};

// The practice session the learner chose (the Practice menu): the main thread writes, the
// playback thread reads each choice when a pass begins, so a change applies from the next
// pass (the count-in from the next Play from Stopped).
struct PracticeChoices {
    std::atomic<int32_t> countInBars{0};
    std::atomic<int32_t> speedStep{0};   // BPM a rung of the speed trainer, below 0 slower; 0: off
    std::atomic<int32_t> speedEvery{1};  // passes a rung
    std::atomic<int32_t> speedRange{20}; // BPM from the start tempo where the trainer holds
    std::atomic<int32_t> silentPlay{0};  // of each cycle, passes that sound, then silentRest
    std::atomic<int32_t> silentRest{0};  // silent ones; either 0: every pass sounds
    std::atomic<bool> hold{false};       // the current entry repeats until released
    // Call and answer: the tutor plays a pass and the learner answers the next, by turns
    // (over the silent passes' choice).
    std::atomic<bool> callAndAnswer{false};
    // Set by the main thread: the speed trainer was chosen anew (it starts again from the
    // tempo then playing at the next pass), or the learner set the tempo by hand (it ends).
    std::atomic<bool> speedChosen{false};
    std::atomic<bool> speedEndedByHand{false};
};

// Where the session of the current entry stands: the playback thread's while it runs, the
// main thread's otherwise.
struct PracticeSession {
    int64_t pass = 0;            // the pass under way, from 1; 0 before the entry's first stroke
    int32_t ladderFrom = 0;      // the speed trainer's first tempo; 0: no trainer runs
    int32_t ladderTo = 0;        // where it holds
    int64_t ladderFirstPass = 1; // the pass it began on
    bool countInDue = false;     // the next start clicks the count-in first
};

// Where playback stands on the screen: the position after the last step heard.
struct ShownPosition {
    int32_t entry = 0;
    int32_t stepIndex = 0;
    int32_t repeatsDone = 0;
    int32_t countIn = 0;  // a count-in click: the beats still to click, this one included
    bool silent = false;  // a step of a silent pass
};

// What the composed screen shows, in a few numbers: two frames with equal keys look the
// same, so the frame loop composes and presents only when the key changes.
struct ScreenKey {
    int32_t playState = -1;
    int32_t stepIndex = 0;
    int32_t tempo = 0;
    int32_t currentEntry = 0;
    int32_t entryCount = 0;
    int32_t repeatsDone = 0;
    uint32_t loads = 0;
    float volume = 0.0f;
    bool rhythmLoaded = false;
    bool showNotes = false;
    bool flashing = false;
    int32_t countIn = 0;
    bool silent = false;
    uint32_t marks = 0;          // the listening marks' version
    std::string listenNotice;    // a pass's summary, or the calibration's progress
    bool operator==(const ScreenKey&) const = default;
};

// What the frame loop hands the tutor each frame: the left button and the cursor in the
// window's client coordinates, as they were when the frame became due.
struct FrameInput {
    bool leftButton = false;
    POINT cursor{0, 0};
};

// Which kind of file a load request names.
enum class LoadKind { Rhythm, Playlist };

constexpr int selectedPathSize = 256;

class TutorApp {
public:
    HWND window = nullptr;  // owner of the tutor's message boxes; set before startUp

    // The handshake with the playback thread (both threads; who sets and clears each):
    // main asks the thread to end, and the thread sets it itself at the end of an entry;
    // start clears it when it starts a thread.
    std::atomic<bool> stopRequested{false};
    // Set by start when it starts a thread; cleared by the thread as its last act.
    std::atomic<bool> threadRunning{false};
    // Make the next entry current: set by the thread after an entry's last pass, or by Next.
    std::atomic<bool> advanceRequested{false};
    // Make the previous entry current: set by Previous.
    std::atomic<bool> previousRequested{false};
    // Main thread only: the load the next frame serves, the file it names (zero-terminated),
    // and whether the notation shows.
    bool loadRhythmRequested = false;
    bool loadPlaylistRequested = false;
    char selectedPath[selectedPathSize] = {};
    bool showNotes = true;
    PlayState playState = Stopped;
    std::thread playbackThread;
    std::atomic<bool> beatFlag{false};
    bool rhythmLoaded = false;
    std::atomic<bool> volumeChanged{false};
    bool pausePressed = false;
    bool tempoDragging = false;
    bool volumeDragging = false;
    int32_t flashFrames = 30;
    bool flashShown = false;  // this frame shows the metronome flash; set by advanceMetronome
    SpriteRect controlRects[controlCount] = {};
    std::atomic<int32_t> stepIndex{0};
    int32_t tempo = 30;
    int32_t currentEntry = 0;
    int32_t entryCount = 0;
    // The step timeline: the step timer's time (seconds) at which the next step is due. Each
    // step is due one step time after the previous one, so no time is lost between steps;
    // 0 starts the timeline afresh (the next step sounds at once).
    std::atomic<double> stepClock{0.0};
    // The steps handed over and not yet shown (playback thread to main thread), what the
    // screen shows of them (main thread), and the state the label shows: Playing from the
    // first step heard after Play, Paused and Stopped at once.
    audio::SpscQueue<HeardStep, 256> heardSteps;
    ShownPosition shown;
    PlayState shownState = Stopped;
    // Seconds the learner adds to the sound's own delay for what the program cannot see
    // (wireless headphones, a television): main thread writes, playback thread reads.
    std::atomic<double> soundDelay{0.0};
    // Steps the playback thread sounded too late to be placed on their due frame.
    std::atomic<uint32_t> lateSteps{0};
    // The step timer's time the playback thread sleeps until; -1 while it is awake or gone.
    std::atomic<double> sleepingUntil{-1.0};
    std::mutex wakeMutex;
    std::condition_variable wakeSignal;
    uint64_t wakeCount = 0;  // under wakeMutex
    std::atomic<float> volume{1.0f};
    float buttonClock = 0.0f;
    uint32_t loadCount = 0;  // rhythms and playlists loaded (or tried), for ScreenKey
    const float buttonInterval = 0.2f;
    FrameTimer stepTimer;
    Surface background;
    Surface slider;
    Surface metronome;
    Surface numbers;
    Surface largeLetters;
    Surface smallLetters;
    Surface rhythmNotes;
    Surface banner;
    Surface hiddenNotesBanner;  // the banner while a rhythm's notes are hidden
    Surface pausedLabel;
    Surface playingLabel;
    Surface stoppedLabel;
    Surface playlistButtons;
    audio::System* audioSystem = nullptr;
    audio::ChannelGroup* masterGroup = nullptr;
    SoundSlot doumSlot;
    SoundSlot tekSlot;
    SoundSlot slapSlot;
    SoundSlot halfTekSlot;
    SoundSlot clickSlot;        // the count-in's click, on a channel of its own
    audio::Sound* accentClick = nullptr;  // a bar's first click, on the same channel
    PracticeChoices practice;
    PracticeSession session;
    Listening listening;
    RhythmEntry* entries = nullptr;

    TutorApp() = default;
    TutorApp(const TutorApp&) = delete;
    TutorApp& operator=(const TutorApp&) = delete;
    ~TutorApp();

    // Start-up: the step timer, the audio system, samples, group and channels, the thirteen
    // images and the control layout. Shows what failed; false ends the program.
    bool startUp();
    bool loadSample(SoundSlot& slot, const char* path);
    void layoutControls();

    // The learner's own change of the tempo (30 to 300, clamped) or the volume (0 to 1,
    // clamped), from a knob or the mouse wheel (main thread): applied at once, and the
    // pending step re-timed.
    void setTempoByHand(int32_t newTempo);
    void setVolumeByHand(float newVolume);

    // Transport (main thread).
    void start();
    void togglePause();
    void stop();
    void nextEntry();
    void previousEntry();
    // Ends a running playback thread: asks it to stop, wakes it and waits for it.
    void endPlaybackThread();
    // Raises stopRequested and wakes a sleeping playback thread (any thread).
    void requestStop();
    // Wakes a sleeping playback thread so it looks at the flags, the volume and the clock.
    void wakePlayback();
    // Serves advanceRequested / previousRequested: ends the thread, changes the entry and
    // starts again when Playing.
    void changeEntry();
    // The playback thread's routine.
    static int playbackLoop(TutorApp* app);
    // Playback thread: sounds the entry's steps on the timeline until asked to stop or the
    // entry ends; sleeps until a step is due. False when a stop request ended the sleep.
    void playEntry(RhythmEntry& entry);
    // Playback thread: clicks the count-in from due on (one click a beat at the entry's
    // tempo, the first accented) and returns when its first stroke is due; false when a
    // stop ended it.
    bool countIn(RhythmEntry& entry, double& due, double lateLimit);
    // Playback thread, as a pass begins: the session's next pass, and its tempo on the speed
    // trainer (set on the entry's step time); the tempo when the trainer changed it, else 0.
    int32_t beginPass(RhythmEntry& entry);
    // Main thread, while no playback thread runs: the session starts afresh for the current
    // entry (its pass count, the speed trainer from the tempo now), counting in if asked.
    void newSession(bool countIn);
    // Main thread, while no playback thread runs: a speed trainer's entry goes back to the
    // tempo it started from (Stop, another entry), unless the learner ended it by hand.
    void restoreLadderStart();
    bool sleepUntil(double due);
    void applyVolume();

    // Per frame (main thread).
    int32_t hitTest(POINT cursor) const;
    void update(float frameTime, const FrameInput& input, Surface& target);  // both below
    // The frame's work without the composition: controls, load requests, entry change.
    void updateState(float frameTime, const FrameInput& input);
    ScreenKey screenKey() const;
    // Nothing on screen moves until input or a message comes: not playing, nothing held or
    // dragged, no flash to show.
    bool quiet() const;
    void loadRhythm();
    void loadPlaylist();
    bool readPlaylist();
    bool readRhythmFile(RhythmEntry* entry, char* path);
    void parseNotation(const char* notation, int32_t cellWidth, int32_t cellHeight,
                       int32_t perRow, int32_t maxRows, const Surface& glyphSheet,
                       RhythmEntry* entry);
    // Main thread, each frame: shows the steps whose time to be heard has come (a beat
    // among them raises beatFlag for the lamp); with no playback thread and nothing left to
    // hear, shows where playback stands.
    void followHeard();
    // Seconds until the next handed-over step is heard (0 when it is due now); a very large
    // value when none waits. Main thread.
    double secondsUntilHeard() const;
    // Forgets the steps not yet heard and shows where playback stands: after a stop or a
    // load, while no playback thread runs. Main thread.
    void resetShown();
    // Playback thread: seconds from a step's due time to the moment it is heard.
    double heardDelayNow() const;
    // The entry the screen shows, or null.
    RhythmEntry* shownEntry() const {
        return entries && shown.entry >= 0 && shown.entry < entryCount ? &entries[shown.entry] : nullptr;
    }
    // Composes the whole screen into target.
    void drawScreen(Surface& target);
    // Whether the metronome flashes this frame (flashShown): a raised beat flag starts a
    // flash of a few frames (fewer at faster tempi), counted down by every frame while
    // Playing, whether or not the frame is composed, so the flash ends on time and the
    // screen key changes when it does.
    void advanceMetronome();
    // The listening's own notice for the slot: a calibration's progress, or the summary of
    // the pass just scored while it is fresh; empty for none.
    std::string listeningNotice() const;
    void drawText(Surface& target, const char* text, int32_t x, int32_t y, bool large) const;
    ScreenImages screenImages() const;

    // The menu's way in: the next frame loads the rhythm or playlist at path (a path too long
    // for selectedPath is refused: false, and nothing is requested).
    bool requestLoad(LoadKind kind, const char* path);
    // A file named outside the dialogs (the command line): requests it as a rhythm or a
    // playlist, as its extension or else its content says (rhythm/file_kind.h). A path too
    // long for selectedPath shows the file error box instead and returns false.
    bool openFile(const char* path);

    // Ends playback, releases the audio system, the entries and the images.
    void shutDown();

    RhythmEntry* current() const {
        return entries && currentEntry >= 0 && currentEntry < entryCount ? &entries[currentEntry]
                                                                         : nullptr;
    }
};

// The one record, set by the program entry.
extern TutorApp* tutorApp;
