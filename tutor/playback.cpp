// The playback thread and the transport. The thread polls the step timer without sleeping,
// sounds each step of the current entry when its step time has gone by, raises the beat
// flag on every beat, counts passes and asks for the next entry after the last one. The
// transport runs on the main thread and starts, pauses, stops and changes entries; it
// changes what the thread reads only after the thread has ended.
#include "tutor/tutor_app.h"

int TutorApp::playbackLoop(TutorApp* app) {
    RhythmEntry* entry = app->current();
    if (entry && entry->playable()) {
        const int32_t stepCount = entry->stepCount;
        const int32_t subdivision = entry->subdivision;
        while (!stopRequested.load()) {
            app->stepTimer.tick();
            double clock = app->stepClock.load() + app->stepTimer.elapsed;
            app->stepClock.store(clock);
            // stepTime is read on every pass, so a tempo change takes effect at once.
            if (clock >= entry->stepTime.load()) {
                int32_t index = app->stepIndex.load();
                if (index < 0 || index >= stepCount) index = 0;
                if (index % subdivision == 0) app->beatFlag.store(true);
                if (SoundSlot* slot = entry->stepSounds[index]; slot && slot->sound)
                    app->audioSystem->playSound(audio::ChannelReuse, slot->sound, false,
                                                &slot->channel);
                ++index;
                if (index >= stepCount) {
                    int32_t done = entry->repeatsDone.fetch_add(1) + 1;
                    if (done == entry->repeatCount) {
                        // The last pass of the entry: a short breath, then the next entry.
                        Sleep(120);
                        advanceRequested.store(true);
                        stopRequested.store(true);
                    } else {
                        index = 0;
                    }
                }
                app->stepIndex.store(index);
                // Time beyond the step time is dropped, not carried over.
                app->stepClock.store(0.0);
            }
            if (app->volumeChanged.load()) {
                const float applied = app->volume.load();
                if (app->masterGroup) app->masterGroup->setVolume(applied);
                app->volumeChanged.store(false);
                // A change made while this one was applied is passed on at the next pass.
                if (app->volume.load() != applied) app->volumeChanged.store(true);
            }
        }
    }
    threadRunning.store(false);
    return 0;
}

void TutorApp::start() {
    if (!rhythmLoaded) return;
    RhythmEntry* entry = current();
    if (!entry || !entry->playable()) return;  // an entry that cannot play is never played
    playState = Playing;
    if (threadRunning.load()) {
        if (!stopRequested.load()) return;  // already playing
        // A thread that was asked to end is still finishing: let it end, then start anew.
    }
    if (playbackThread.joinable()) playbackThread.join();
    stopRequested.store(false);
    threadRunning.store(true);
    playbackThread = std::thread(playbackLoop, this);
}

void TutorApp::endPlaybackThread() {
    stopRequested.store(true);
    while (threadRunning.load()) Sleep(30);
    if (playbackThread.joinable()) playbackThread.join();
}

void TutorApp::togglePause() {
    if (playState == Paused) {
        start();
    } else if (playState == Playing) {
        stopRequested.store(true);
        playState = Paused;
        // Wait for the thread's last pass, so that a following start resumes from a
        // position no thread is still changing.
        if (playbackThread.joinable()) playbackThread.join();
    }
}

void TutorApp::stop() {
    stopRequested.store(true);
    // The thread may be in its last pass: reset the position only once it has ended, so a
    // stopped rhythm always starts again at step 0.
    if (playbackThread.joinable()) playbackThread.join();
    stepClock.store(0.0);
    playState = Stopped;
    stepIndex.store(0);
}

void TutorApp::nextEntry() {
    if (!entries || entryCount < 1) return;
    entries[currentEntry].repeatsDone.store(0);
    if (++currentEntry >= entryCount) currentEntry = 0;
    tempo = entries[currentEntry].tempo;
    stepIndex.store(0);
}

void TutorApp::previousEntry() {
    if (!entries || entryCount < 1) return;
    entries[currentEntry].repeatsDone.store(0);
    if (--currentEntry < 0) currentEntry = entryCount - 1;
    tempo = entries[currentEntry].tempo;
    stepIndex.store(0);
}

void TutorApp::changeEntry() {
    if (!entries || entryCount < 1) {
        // Nothing loaded: there is no entry to move to.
        previousRequested.store(false);
        advanceRequested.store(false);
        return;
    }
    endPlaybackThread();
    if (previousRequested.load()) {
        previousEntry();
        previousRequested.store(false);
    } else {
        nextEntry();
        advanceRequested.store(false);
    }
    if (playState == Playing) start();
}
