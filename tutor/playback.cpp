// The playback thread and the transport. The thread keeps a timeline of due times, each
// step one step time after the previous one, and sleeps until the next step is due; it
// sounds each step stamped with its due time (so a late wake-up still lands on the step's
// frame), hands the step to the screen with the time it will be heard, counts passes and
// asks for the next entry shortly before the next entry's first step is due. The transport
// runs on the main thread and starts, pauses, stops and changes entries; it wakes the
// sleeping thread at once and changes what the thread reads only after the thread has ended.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "rhythm/entry_timing.h"
#include "rhythm/practice_session.h"
#include "rhythm/rhythm_file.h"
#include "tutor/tutor_app.h"

namespace {

// The thread hands over to the main thread this long before the next entry's first step is
// due: time for the next frame to change the entry and start a new thread.
constexpr double handOverSeconds = 0.050;
// The thread wakes this long before a step is due and hands its stroke to the audio library
// stamped with the due time; the stroke is then on its frame even if the thread runs late by
// this much more than the output absorbs. The step shows on screen when it is heard.
constexpr double leadSeconds = 0.020;
// Lateness the audio output still absorbs when nothing is known of it.
constexpr double defaultLateLimit = 0.010;

// How late a start may be made and still land on its stamped frame: the output's constant
// latency less the block the request may wait before the mixer sees it.
double lateLimitOf(const audio::System* system) {
    if (!system) return defaultLateLimit;
    const int rate = audio::outputSampleRate(system);
    const int room = audio::outputLatencyFrames(system) - audio::outputBlockFrames(system);
    return rate > 0 && room > 0 ? static_cast<double>(room) / rate : defaultLateLimit;
}

// The tempo an entry plays at now, from its step time (which the slider and the speed
// trainer set from a whole tempo).
int32_t tempoNow(const RhythmEntry& entry) {
    const double stepTime = entry.stepTime.load();
    return stepTime > 0.0 ? static_cast<int32_t>(std::lround(60.0 / (stepTime * entry.subdivision))) : 0;
}

// The speed trainer of the session from tempo `from` on, beginning at pass firstPass; none
// when the learner chose none.
void startLadder(PracticeSession& session, const PracticeChoices& practice, int32_t from, int64_t firstPass) {
    const int32_t step = practice.speedStep.load();
    if (step == 0 || from <= 0) {
        session.ladderFrom = 0;
        return;
    }
    session.ladderFrom = from;
    session.ladderTo = std::clamp(from + (step > 0 ? 1 : -1) * practice.speedRange.load(), controls::minTempo,
                                  controls::maxTempo);
    session.ladderFirstPass = firstPass;
}

}  // namespace

int TutorApp::playbackLoop(TutorApp* app) {
    // Ahead of ordinary work where the system allows it: the thread wakes briefly a few times
    // a step, and a late wake-up is a late stroke.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    if (RhythmEntry* entry = app->current(); entry && entry->playable()) app->playEntry(*entry);
    app->sleepingUntil.store(-1.0);
    app->threadRunning.store(false);
    return 0;
}

void TutorApp::applyVolume() {
    if (!volumeChanged.load()) return;
    const float applied = volume.load();
    if (masterGroup) masterGroup->setVolume(applied);
    volumeChanged.store(false);
    // A change made while this one was applied is passed on at the next look.
    if (volume.load() != applied) volumeChanged.store(true);
}

// Sleeps until dueTime() (asked again after every wake-up, so the time may move meanwhile),
// passing volume changes on. False when a stop request ended the sleep.
template <class DueTime>
bool sleepUntilDue(TutorApp& app, DueTime dueTime) {
    std::unique_lock<std::mutex> lock(app.wakeMutex);
    for (;;) {
        app.applyVolume();
        if (app.stopRequested.load()) break;
        const double due = dueTime();
        const double now = app.stepTimer.seconds();
        if (now >= due) {
            app.sleepingUntil.store(-1.0);
            return true;
        }
        const uint64_t seen = app.wakeCount;
        app.sleepingUntil.store(due);
        app.wakeSignal.wait_for(lock, std::chrono::duration<double>(due - now),
                                [&] { return app.wakeCount != seen; });
    }
    app.sleepingUntil.store(-1.0);
    return false;
}

bool TutorApp::sleepUntil(double due) {
    return sleepUntilDue(*this, [due] { return due; });
}

void TutorApp::playEntry(RhythmEntry& entry) {
    const int32_t stepCount = entry.stepCount;
    const int32_t subdivision = entry.subdivision;
    const double lateLimit = lateLimitOf(audioSystem);
    // The carried timeline, unless it starts afresh or lies too far back to keep.
    double due = stepClock.load();
    if (const double now = stepTimer.seconds(); due <= 0.0 || now - due > lateLimit) due = now;
    // The step sounded last and the step time that timed the pending step from it. A new
    // step time (the tempo slider) re-times the pending step at once: one new step time
    // after the last stroke, or now if that has passed.
    double lastDue = -1.0;
    double timedWith = entry.stepTime.load();
    const auto pendingStep = [&] {
        if (const double stepTime = entry.stepTime.load(); lastDue >= 0.0 && stepTime != timedWith) {
            timedWith = stepTime;
            due = std::max(lastDue + stepTime, stepTimer.seconds());
            stepClock.store(due);
        }
        return due - leadSeconds;
    };

    if (session.countInDue) {
        session.countInDue = false;
        if (!countIn(entry, due, lateLimit)) return;
    }

    while (sleepUntilDue(*this, pendingStep)) {
        const double now = stepTimer.seconds();
        double lateness = now - due;  // below 0 while ahead of the step
        if (lateness > lateLimit) {
            // Too late for the output to place it: sound it now and carry on from here, so
            // the overdue steps never sound as a burst.
            lateSteps.fetch_add(1);
            due = now;
            lateness = 0.0;
        }
        int32_t index = stepIndex.load();
        if (index < 0 || index >= stepCount) index = 0;
        // A pass begins: the session counts it and the speed trainer may set its tempo, which
        // times the steps from this one's successor on.
        const int32_t ladderStep = index == 0 || session.pass == 0 ? beginPass(entry) : 0;
        const bool silent =
            practice.callAndAnswer.load()
                ? session.pass % 2 == 0
                : !passSounds(SilentPasses{practice.silentPlay.load(), practice.silentRest.load()}, session.pass);
        if (SoundSlot* slot = entry.stepSounds[index]; slot && slot->sound && !silent) {
            audio::stampNextStart(audioSystem, lateness);
            audioSystem->playSound(audio::ChannelReuse, slot->sound, false, &slot->channel);
        }
        // The stroke is placed: the step counts now (a stop from here on still counts it, so
        // a resumed rhythm does not sound it twice), and the screen shows it once it is heard.
        const bool beat = index % subdivision == 0;
        // The step time in force now times the next step.
        const double stepTime = entry.stepTime.load();
        ++index;
        bool last = false;
        if (index >= stepCount) {
            // A held entry goes on past its passes; released, it ends with the pass under way.
            const int32_t done = entry.repeatsDone.fetch_add(1) + 1;
            last = entry.repeatCount > 0 && done >= entry.repeatCount && !practice.hold.load();
            if (!last) index = 0;
        }
        // A full queue (a screen that stopped taking steps) loses the step's picture only.
        heardSteps.push(HeardStep{due + heardDelayNow(), currentEntry, index, entry.repeatsDone.load(), beat, 0,
                                  silent, ladderStep});
        stepIndex.store(index);
        if (last) {
            // The last pass: the next entry's first step is due a full step (or the breath)
            // after this one. Hand over shortly before it; a stop meanwhile still finishes
            // the entry.
            const double next = due + nextEntryDelay(stepTime);
            stepClock.store(next);
            sleepUntil(next - handOverSeconds);
            advanceRequested.store(true);
            stopRequested.store(true);
            return;
        }
        lastDue = due;
        timedWith = stepTime;
        due += stepTime;
        stepClock.store(due);
    }
}

bool TutorApp::countIn(RhythmEntry& entry, double& due, double lateLimit) {
    const int32_t beats = countInBeats(practice.countInBars.load(), entry.stepCount, entry.subdivision);
    const double beatTime = entry.stepTime.load() * entry.subdivision;
    for (int32_t beat = 0; beat < beats; ++beat) {
        stepClock.store(due);
        if (!sleepUntil(due - leadSeconds)) return false;
        double lateness = stepTimer.seconds() - due;
        if (lateness > lateLimit) {
            lateSteps.fetch_add(1);
            due = stepTimer.seconds();
            lateness = 0.0;
        }
        // The first click is accented, as the renderer's count-in is: the learner hears where
        // the count begins.
        if (audio::Sound* click = beat == 0 ? accentClick : clickSlot.sound; click && clickSlot.channel) {
            audio::stampNextStart(audioSystem, lateness);
            audioSystem->playSound(audio::ChannelReuse, click, false, &clickSlot.channel);
        }
        heardSteps.push(HeardStep{due + heardDelayNow(), currentEntry, 0, entry.repeatsDone.load(), true,
                                  beats - beat, false, 0});
        due += beatTime;
    }
    // The first stroke is due one beat after the last click.
    stepClock.store(due);
    return true;
}

int32_t TutorApp::beginPass(RhythmEntry& entry) {
    ++session.pass;
    const int32_t now = tempoNow(entry);
    if (practice.speedEndedByHand.exchange(false)) session.ladderFrom = 0;
    if (practice.speedChosen.exchange(false)) startLadder(session, practice, now, session.pass);
    if (session.ladderFrom <= 0 || practice.speedStep.load() == 0) return 0;
    const SpeedLadder ladder{session.ladderFrom, session.ladderTo, std::abs(practice.speedStep.load()),
                             std::max(1, practice.speedEvery.load())};
    const int32_t tempo = ladderTempo(ladder, session.pass - session.ladderFirstPass + 1);
    if (tempo == now) return 0;
    entry.stepTime.store(stepTimeFor(tempo, entry.subdivision));
    return tempo;
}

void TutorApp::newSession(bool countIn) {
    session = PracticeSession{};
    practice.speedChosen.store(false);
    practice.speedEndedByHand.store(false);
    if (const RhythmEntry* entry = current(); entry && entry->playable())
        startLadder(session, practice, tempoNow(*entry), 1);
    session.countInDue = countIn && practice.countInBars.load() > 0;
}

void TutorApp::restoreLadderStart() {
    // A trainer the learner ended by hand leaves the tempo they chose.
    if (session.ladderFrom <= 0 || practice.speedEndedByHand.load()) return;
    if (RhythmEntry* entry = current(); entry && entry->subdivision > 0) {
        entry->tempo = session.ladderFrom;
        entry->stepTime.store(stepTimeFor(session.ladderFrom, entry->subdivision));
        tempo = session.ladderFrom;
    }
    session.ladderFrom = 0;
}

double TutorApp::heardDelayNow() const {
    return (audioSystem ? audio::heardDelay(audioSystem) : 0.0) + soundDelay.load();
}

void TutorApp::start() {
    if (!rhythmLoaded) return;
    RhythmEntry* entry = current();
    if (!entry || !entry->playable()) {
        // An entry that cannot play is never played, and the screen must not say it plays.
        playState = Stopped;
        return;
    }
    const bool fresh = playState == Stopped;
    playState = Playing;
    if (threadRunning.load()) {
        if (!stopRequested.load()) return;  // already playing
        // A thread that was asked to end is still finishing: let it end, then start anew.
    }
    if (playbackThread.joinable()) playbackThread.join();
    // Play from Stopped begins a practice session (with its count-in); a resume goes on.
    if (fresh) newSession(true);
    stopRequested.store(false);
    threadRunning.store(true);
    playbackThread = std::thread(playbackLoop, this);
}

void TutorApp::requestStop() {
    stopRequested.store(true);
    wakePlayback();
}

void TutorApp::wakePlayback() {
    {
        // Counted under the lock, so a thread about to sleep cannot miss the wake-up.
        std::lock_guard<std::mutex> lock(wakeMutex);
        ++wakeCount;
    }
    wakeSignal.notify_all();
}

void TutorApp::endPlaybackThread() {
    // The thread wakes at once and ends within its current step's work.
    requestStop();
    if (playbackThread.joinable()) playbackThread.join();
}

void TutorApp::togglePause() {
    if (playState == Paused) {
        start();
    } else if (playState == Playing) {
        requestStop();
        playState = Paused;
        shownState = Paused;
        // Wait for the thread's last pass, so that a following start resumes from a
        // position no thread is still changing.
        if (playbackThread.joinable()) playbackThread.join();
    }
}

void TutorApp::stop() {
    requestStop();
    // The thread may be in its last pass: reset the position only once it has ended, so a
    // stopped rhythm always starts again at step 0.
    if (playbackThread.joinable()) playbackThread.join();
    restoreLadderStart();
    stepClock.store(0.0);
    playState = Stopped;
    stepIndex.store(0);
    resetShown();
    listening.forgetPasses();
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
    restoreLadderStart();
    if (previousRequested.load()) {
        previousEntry();
        previousRequested.store(false);
    } else {
        nextEntry();
        advanceRequested.store(false);
    }
    // Each entry's session starts from its own tempo; only Play from Stopped counts in.
    newSession(false);
    if (playState == Playing) start();
}
