// The tutor record: the process-wide pointer, load requests and shutdown.
#include "tutor/tutor_app.h"

#include <cstring>

TutorApp* tutorApp = nullptr;

bool TutorApp::requestLoad(LoadKind kind, const char* path) {
    if (!path || std::strlen(path) >= sizeof selectedPath) return false;
    std::strcpy(selectedPath, path);
    (kind == LoadKind::Rhythm ? loadRhythmRequested : loadPlaylistRequested) = true;
    return true;
}

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
