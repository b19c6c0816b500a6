// The tutor record's process-wide state and its shutdown.
#include "tutor/tutor_app.h"

std::atomic<bool> stopRequested{false};
std::atomic<bool> threadRunning{false};
std::atomic<bool> advanceRequested{false};
std::atomic<bool> previousRequested{false};
bool loadRhythmRequested = false;
bool loadPlaylistRequested = false;
bool showNotes = true;
char selectedPath[selectedPathSize] = {};

TutorApp* tutorApp = nullptr;

TutorApp::~TutorApp() {
    // shutDown has normally run; whatever it did not release goes here, thread first.
    if (playbackThread.joinable()) {
        requestStop();
        playbackThread.join();
    }
    if (audioSystem) audioSystem->release();
    destroyEntries(entries);
}

void TutorApp::shutDown() {
    // The thread is asked to stop, woken and joined, never killed.
    if (playbackThread.joinable()) {
        requestStop();
        playbackThread.join();
    }
    if (audioSystem) {
        audioSystem->release();
        audioSystem = nullptr;
        masterGroup = nullptr;
    }
    if (entries) {
        destroyEntries(entries);
        entries = nullptr;
    }
    halfTekSlot = SoundSlot{};
    slapSlot = SoundSlot{};
    tekSlot = SoundSlot{};
    doumSlot = SoundSlot{};
    Surface* images[] = {&playlistButtons, &stoppedLabel, &playingLabel, &pausedLabel,
                         &banner,          &rhythmNotes,  &smallLetters, &largeLetters,
                         &numbers,         &metronome,    &slider,       &background};
    for (Surface* image : images) image->reset();
}
