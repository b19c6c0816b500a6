// tutor_app.h - the one record of everything the tutor knows at run time: the transport
// state, the loaded entries and the position in them, step timing, volume, the on-screen
// controls' hot rectangles, the twelve images, and the audio handles with the four drum
// samples.
//
// Threads: the main thread runs every operation here except playbackLoop, which runs on the
// playback thread (at most one at a time). The fields both threads touch are atomics:
// stepIndex, stepClock, beatFlag, volumeChanged and volume (and, in the current entry,
// repeatsDone and stepTime). The main thread changes currentEntry, entryCount and entries
// only while no playback thread runs.
// Ownership: the record owns its entries, images, step timer and, through audioSystem, the
// audio objects; the program entry owns the record. Entries' steps point at the four slots,
// so the slots never move while entries exist.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "app/frame_timer.h"
#include "gfx/surface.h"
#include "platform/audio/audio.h"
#include "rhythm/rhythm_entry.h"
#include "tutor/shared_flags.h"

enum PlayState : int32_t { Playing = 0, Paused = 1, Stopped = 2 };

// One drum sample and the channel it sounds on.
struct SoundSlot {
    audio::Sound* sound = nullptr;
    audio::Channel* channel = nullptr;
};

// The on-screen controls, indices into controlRects; NoControl for none.
enum Control : int32_t {
    NoControl = -1,
    PlayButton = 0,
    PauseButton = 1,
    StopButton = 2,
    TempoKnob = 3,
    TempoTrack = 4,
    VolumeKnob = 5,
    VolumeTrack = 6,
    PreviousButton = 7,
    NextButton = 8,
};
constexpr int controlCount = 9;

class TutorApp {
public:
    PlayState playState = Stopped;
    std::thread playbackThread;
    std::atomic<bool> beatFlag{false};
    bool rhythmLoaded = false;
    std::atomic<bool> volumeChanged{false};
    bool pausePressed = false;
    bool tempoDragging = false;
    bool volumeDragging = false;
    int32_t flashFrames = 30;
    SpriteRect controlRects[controlCount] = {};
    std::atomic<int32_t> stepIndex{0};
    int32_t tempo = 30;
    int32_t currentEntry = 0;
    int32_t entryCount = 0;
    std::atomic<double> stepClock{0.0};
    std::atomic<float> volume{1.0f};
    float buttonClock = 0.0f;
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
    RhythmEntry* entries = nullptr;

    TutorApp() = default;
    TutorApp(const TutorApp&) = delete;
    TutorApp& operator=(const TutorApp&) = delete;
    ~TutorApp();

    // Start-up: the step timer, the audio system, samples, group and channels, the twelve
    // images and the control layout. Shows what failed; false ends the program.
    bool startUp();
    bool loadSample(SoundSlot& slot, const char* path);
    void layoutControls();

    // Transport (main thread).
    void start();
    void togglePause();
    void stop();
    void nextEntry();
    void previousEntry();
    // Ends a running playback thread: asks it to stop and waits for it, polling every 30 ms.
    void endPlaybackThread();
    // Serves advanceRequested / previousRequested: ends the thread, changes the entry and
    // starts again when Playing.
    void changeEntry();
    // The playback thread's routine.
    static int playbackLoop(TutorApp* app);

    // Per frame (main thread).
    int32_t hitTest() const;
    void update(float frameTime);
    void loadRhythm();
    void loadPlaylist();
    bool readPlaylist();
    bool readRhythmFile(RhythmEntry* entry, char* path);
    void parseNotation(const char* notation, int32_t cellWidth, int32_t cellHeight,
                       int32_t perRow, int32_t maxRows, const Surface& glyphSheet,
                       RhythmEntry* entry);
    void drawScreen();
    void drawMetronome();
    void drawCurrentStep();
    void drawTempo();
    void drawText(const char* text, int32_t x, int32_t y, bool large);

    // Ends playback, releases the audio system, the entries and the images.
    void shutDown();

    RhythmEntry* current() const {
        return entries && currentEntry >= 0 && currentEntry < entryCount ? &entries[currentEntry]
                                                                         : nullptr;
    }
};

// The one record, set by the program entry.
extern TutorApp* tutorApp;
