// The tutor's work for one frame: the mouse on the nine on-screen controls, the load
// requests of the File menu, the entry change, and the composition of the screen.
#include <algorithm>

#include "rhythm/rhythm_file.h"
#include "tutor/tutor_app.h"

int32_t TutorApp::hitTest(POINT cursor) const {
    for (int32_t i = 0; i < controlCount; ++i) {
        const SpriteRect& rect = controlRects[i];
        if (rect.left <= cursor.x && cursor.x <= rect.right && rect.top <= cursor.y &&
            cursor.y <= rect.bottom)
            return i;
    }
    return NoControl;
}

namespace {

}  // namespace

void TutorApp::setTempoByHand(int32_t newTempo) {
    newTempo = std::clamp(newTempo, controls::minTempo, controls::maxTempo);
    // A running speed trainer ends at a tempo the learner changes (a click on the knob that
    // leaves it where it is does not count).
    if (newTempo != tempo) practice.speedEndedByHand.store(true);
    tempo = newTempo;
    if (RhythmEntry* entry = current(); entry && entry->subdivision > 0) {
        entry->tempo = newTempo;
        entry->stepTime.store(stepTimeFor(newTempo, entry->subdivision));
        wakePlayback();  // the pending step is re-timed now, not when it falls due
    }
}

void TutorApp::setVolumeByHand(float newVolume) {
    volume.store(std::clamp(newVolume, 0.0f, 1.0f));
    volumeChanged.store(true);
    wakePlayback();  // the thread passes it on now, not at its next step
}

void TutorApp::update(float frameTime, const FrameInput& input, Surface& target) {
    updateState(frameTime, input);
    drawScreen(target);
}

void TutorApp::followHeard() {
    const double now = stepTimer.seconds();
    HeardStep step;
    while (heardSteps.peek(&step) && step.heardAt <= now) {
        heardSteps.pop(&step);
        listening.stepShown(*this, step);
        shown = ShownPosition{step.entry, step.stepIndex, step.repeatsDone, step.countIn, step.silent};
        if (step.beat) beatFlag.store(true);
        // The speed trainer's new tempo shows on the knob when its first step is heard.
        if (step.ladderTempo > 0 && step.entry == currentEntry) {
            tempo = step.ladderTempo;
            if (RhythmEntry* entry = current()) entry->tempo = step.ladderTempo;
        }
        if (playState == Playing) shownState = Playing;
    }
    // Nothing more will be heard: the screen shows where playback stands (a stop, an entry
    // changed while not playing, a load).
    if (!threadRunning.load() && !heardSteps.peek(&step)) {
        const RhythmEntry* entry = current();
        shown = ShownPosition{currentEntry, stepIndex.load(), entry ? entry->repeatsDone.load() : 0};
        shownState = playState;
    } else if (playState != Playing) {
        shownState = playState;
    }
}

double TutorApp::secondsUntilHeard() const {
    HeardStep step;
    if (!heardSteps.peek(&step)) return 1e9;
    return std::max(0.0, step.heardAt - stepTimer.seconds());
}

void TutorApp::resetShown() {
    HeardStep step;
    while (heardSteps.pop(&step)) {
    }
    if (playState != Playing) shownState = playState;
    const RhythmEntry* entry = current();
    shown = ShownPosition{currentEntry, stepIndex.load(), entry ? entry->repeatsDone.load() : 0};
}

ScreenKey TutorApp::screenKey() const {
    ScreenKey key;
    key.playState = shownState;
    key.stepIndex = shown.stepIndex;
    key.tempo = tempo;
    key.currentEntry = shown.entry;
    key.entryCount = entryCount;
    key.repeatsDone = shown.repeatsDone;
    key.loads = loadCount;
    key.volume = volume.load();
    key.rhythmLoaded = rhythmLoaded;
    key.showNotes = showNotes;
    key.flashing = flashShown;
    key.countIn = shown.countIn;
    key.silent = shown.silent;
    key.marks = listening.marksVersion();
    key.listenNotice = listeningNotice();
    return key;
}

bool TutorApp::quiet() const {
    HeardStep step;
    return playState != Playing && !pausePressed && !tempoDragging && !volumeDragging &&
           !beatFlag.load() && !loadRhythmRequested && !loadPlaylistRequested &&
           !advanceRequested.load() && !previousRequested.load() && !heardSteps.peek(&step) &&
           !listening.busy() && listening.notice(stepTimer.seconds()).empty();
}

void TutorApp::updateState(float frameTime, const FrameInput& input) {
    buttonClock += frameTime;

    if (input.leftButton) {
        const int32_t cursorY = input.cursor.y;
        switch (hitTest(input.cursor)) {
            case PlayButton:
                start();
                break;
            case PauseButton:
                pausePressed = true;
                break;
            case StopButton:
                stop();
                break;
            case TempoKnob:
                tempoDragging = true;
                setTempoByHand(controls::tempoAtRow(cursorY));
                break;
            case TempoTrack:
                if (tempoDragging) setTempoByHand(controls::tempoAtRow(cursorY));
                break;
            case VolumeKnob:
                volumeDragging = true;
                setVolumeByHand(controls::volumeAtRow(cursorY));
                break;
            case VolumeTrack:
                if (volumeDragging) setVolumeByHand(controls::volumeAtRow(cursorY));
                break;
            case PreviousButton:
                if (buttonClock >= buttonInterval) {
                    previousRequested.store(true);
                    buttonClock = 0.0f;
                }
                break;
            case NextButton:
                if (buttonClock >= buttonInterval) {
                    advanceRequested.store(true);
                    buttonClock = 0.0f;
                }
                break;
            default:
                break;
        }
    } else if (pausePressed) {
        togglePause();
        pausePressed = false;
    } else if (tempoDragging) {
        tempoDragging = false;
    } else if (volumeDragging) {
        volumeDragging = false;
    }

    if (loadRhythmRequested) {
        endPlaybackThread();
        loadRhythm();
        listening.forgetPasses();
        listening.clearMarks();
        resetShown();
        if (playState == Playing) start();
    }
    if (loadPlaylistRequested) {
        endPlaybackThread();
        loadPlaylist();
        listening.forgetPasses();
        listening.clearMarks();
        resetShown();
        if (playState == Playing) start();
    }
    if (advanceRequested.load() || previousRequested.load()) changeEntry();
    followHeard();
    listening.frame(*this);
    advanceMetronome();
}

std::string TutorApp::listeningNotice() const {
    if (listening.calibrating() || listening.checkingLatency()) return listening.progressText();
    return listening.notice(stepTimer.seconds());
}
