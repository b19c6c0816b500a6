// The screen of one frame, as the tutor's state describes it: which images, which step to
// mark, the next-entry notice, where the knobs sit. The pixels are the graphics' business.
#include <string>

#include "gfx/text_image.h"
#include "tutor/tutor_app.h"

ScreenImages TutorApp::screenImages() const {
    ScreenImages images;
    images.background = &background;
    images.slider = &slider;
    images.metronome = &metronome;
    images.numbers = &numbers;
    images.largeLetters = &largeLetters;
    images.smallLetters = &smallLetters;
    images.rhythmNotes = &rhythmNotes;
    images.banner = &banner;
    images.hiddenNotesBanner = &hiddenNotesBanner;
    images.pausedLabel = &pausedLabel;
    images.playingLabel = &playingLabel;
    images.stoppedLabel = &stoppedLabel;
    images.playlistButtons = &playlistButtons;
    return images;
}

void TutorApp::advanceMetronome() {
    // Taken and cleared in one step, so a beat raised meanwhile is never lost.
    if (beatFlag.exchange(false)) {
        if (tempo >= 30 && tempo < 60) flashFrames = 6;
        else if (tempo >= 60 && tempo < 90) flashFrames = 5;
        else if (tempo >= 90 && tempo < 120) flashFrames = 4;
        else flashFrames = 3;
    }
    flashShown = shownState == Playing && --flashFrames >= 0;
}

void TutorApp::drawText(Surface& target, const char* text, int32_t x, int32_t y, bool large) const {
    if (!text) return;
    if (large)
        drawTextLine(target, text, x, y, largeLetters, 30, numbers);
    else
        drawTextLine(target, text, x, y, smallLetters, 15, numbers);
}

void TutorApp::drawScreen(Surface& target) {
    ScreenView view;
    view.flash = flashShown;

    // Playback as it is heard: the entry, step and passes of the last step heard.
    RhythmEntry* entry = shownEntry();
    if (rhythmLoaded && entry) {
        view.title = entry->titleImage;
        if (showNotes) view.notation = entry->notationImage;
        // The learner's strokes, as the tutor heard them, under the steps of the pass.
        if (showNotes && listening.marksEntry() == shown.entry &&
            listening.marks().size() == std::size_t(entry->stepCount)) {
            view.stepMarks = listening.marks().data();
            view.stepMarkCount = entry->stepCount;
        }
        if (showNotes && shownState != Stopped && shown.countIn == 0 && entry->playable()) {
            int32_t last = shown.stepIndex - 1;
            if (last < 0 || last >= entry->stepCount) last = entry->stepCount - 1;
            view.markStep = true;
            view.markedStep = last;
            view.markedGlyph = entry->glyphRects[last];
        }
        if (entryCount > 1) {
            view.playlistButtons = true;
            // Only an entry that ends announces the next one.
            const int64_t remaining = int64_t(entry->repeatCount) - shown.repeatsDone;
            if (entry->repeatCount > 0 && remaining <= 4) {
                int32_t following = shown.entry + 1 == entryCount ? 0 : shown.entry + 1;
                view.notice = entries[following].title + " in " + std::to_string(remaining);
            }
        }
        // The practice session's own notices come first while the learner needs them.
        if (shownState != Stopped && shown.countIn > 0) view.notice = "Count in " + std::to_string(shown.countIn);
        else if (const std::string heard = listeningNotice(); !heard.empty()) view.notice = heard;
        else if (shownState == Playing && shown.silent)
            view.notice = practice.callAndAnswer.load() ? "Your answer" : "Silent pass  keep the time";
    }
    // A calibration runs with nothing loaded too.
    if (view.notice.empty() && (listening.calibrating() || listening.checkingLatency()))
        view.notice = listening.progressText();
    // Nothing loaded asks for a rhythm; hidden notes say how to show them again.
    view.banner = !rhythmLoaded ? Banner::OpenRhythm
                  : !showNotes  ? Banner::NotesHidden
                                : Banner::None;

    view.tempoKnobRow = controls::tempoKnobRow(tempo);
    controlRects[TempoKnob].top = view.tempoKnobRow;
    controlRects[TempoKnob].bottom = view.tempoKnobRow + controls::knobHeight;
    view.volumeKnobRow = controls::volumeKnobRow(volume.load());
    controlRects[VolumeKnob].top = view.volumeKnobRow;
    controlRects[VolumeKnob].bottom = view.volumeKnobRow + controls::knobHeight;

    view.label = shownState == Playing   ? StateLabel::Playing
                 : shownState == Paused  ? StateLabel::Paused
                 : shownState == Stopped ? StateLabel::Stopped
                                         : StateLabel::None;
    view.tempo = tempo;
    composeScreen(target, screenImages(), view);
}
