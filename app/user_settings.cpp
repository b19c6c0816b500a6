// The learner's settings in the running program.
#include "app/user_settings.h"

#include <iterator>
#include <string>

#include "app/resource_ids.h"
#include "store/settings.h"
#include "tutor/tutor_app.h"

namespace {

static_assert(ID_VIEW_SOUNDDELAY_FIRST + std::size(soundDelayChoices) - 1 == ID_VIEW_SOUNDDELAY_LAST,
              "one Sound Delay command per choice");
static_assert(ID_PRACTICE_COUNTIN_FIRST + std::size(countInChoices) - 1 == ID_PRACTICE_COUNTIN_LAST);
static_assert(ID_PRACTICE_SPEED_FIRST + std::size(speedChoices) - 1 == ID_PRACTICE_SPEED_LAST);
static_assert(ID_PRACTICE_RANGE_FIRST + std::size(speedRangeChoices) - 1 == ID_PRACTICE_RANGE_LAST);
static_assert(ID_PRACTICE_SILENT_FIRST + std::size(silentChoices) - 1 == ID_PRACTICE_SILENT_LAST);

// The settings as read at start and changed since; the file is written from them.
Settings current;

// Marks the item of a radio group whose choice is the setting; with none (a value set by
// hand in the file that the menu does not offer), no item of the group is marked.
void markChoice(HWND window, UINT first, UINT last, int chosen) {
    const HMENU menu = GetMenu(window);
    if (chosen >= 0) {
        CheckMenuRadioItem(menu, first, last, first + static_cast<UINT>(chosen), MF_BYCOMMAND);
        return;
    }
    for (UINT id = first; id <= last; ++id) CheckMenuItem(menu, id, MF_BYCOMMAND | MF_UNCHECKED);
}

template <class Choices, class Same>
int chosenIndex(const Choices& choices, Same same) {
    for (std::size_t i = 0; i < std::size(choices); ++i)
        if (same(choices[i])) return static_cast<int>(i);
    return -1;
}

// Hands the settings to the tutor and marks every group of the menus.
void applyAll(TutorApp& app, HWND window) {
    app.soundDelay.store(current.soundDelayMs / 1000.0);
    markChoice(window, ID_VIEW_SOUNDDELAY_FIRST, ID_VIEW_SOUNDDELAY_LAST,
               chosenIndex(soundDelayChoices, [](int ms) { return ms == current.soundDelayMs; }));
    PracticeChoices& practice = app.practice;
    practice.countInBars.store(current.countInBars);
    const bool speedChanged =
        practice.speedStep.load() != current.speedStepBpm || practice.speedEvery.load() != current.speedEveryPasses ||
        practice.speedRange.load() != current.speedRangeBpm;
    practice.speedStep.store(current.speedStepBpm);
    practice.speedEvery.store(current.speedEveryPasses);
    practice.speedRange.store(current.speedRangeBpm);
    // A trainer chosen while playing starts from the tempo then playing, at the next pass.
    if (speedChanged) practice.speedChosen.store(true);
    practice.silentPlay.store(current.silentPlayPasses);
    practice.silentRest.store(current.silentRestPasses);
    markChoice(window, ID_PRACTICE_COUNTIN_FIRST, ID_PRACTICE_COUNTIN_LAST,
               chosenIndex(countInChoices, [](int bars) { return bars == current.countInBars; }));
    const bool speedOff = current.speedStepBpm == 0;
    markChoice(window, ID_PRACTICE_SPEED_FIRST, ID_PRACTICE_SPEED_LAST, chosenIndex(speedChoices, [&](SpeedChoice c) {
                   return c.step == current.speedStepBpm && (speedOff || c.every == current.speedEveryPasses);
               }));
    markChoice(window, ID_PRACTICE_RANGE_FIRST, ID_PRACTICE_RANGE_LAST,
               chosenIndex(speedRangeChoices, [](int bpm) { return bpm == current.speedRangeBpm; }));
    const bool silentOff = current.silentPlayPasses == 0 || current.silentRestPasses == 0;
    markChoice(window, ID_PRACTICE_SILENT_FIRST, ID_PRACTICE_SILENT_LAST, chosenIndex(silentChoices, [&](SilentChoice c) {
                   return silentOff ? c.play == 0 : c.play == current.silentPlayPasses && c.rest == current.silentRestPasses;
               }));
    CheckMenuItem(GetMenu(window), ID_PRACTICE_HOLD, MF_BYCOMMAND | (practice.hold.load() ? MF_CHECKED : MF_UNCHECKED));
    // Listening: the tutor's choices, and call and answer for the playback thread.
    ListenChoices& listen = app.listening.choices;
    listen.on = current.listen != 0;
    listen.callAndAnswer = current.callAndAnswer != 0;
    listen.headphones = current.headphones != 0;
    listen.tolerance = static_cast<Tolerance>(current.listenTolerance);
    listen.inputOffset = current.inputOffsetMs / 1000.0;
    practice.callAndAnswer.store(listen.callAndAnswer);
    const HMENU menu = GetMenu(window);
    CheckMenuItem(menu, ID_PRACTICE_LISTEN, MF_BYCOMMAND | (listen.on ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(menu, ID_PRACTICE_CALLANSWER, MF_BYCOMMAND | (listen.callAndAnswer ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(menu, ID_PRACTICE_HEADPHONES, MF_BYCOMMAND | (listen.headphones ? MF_CHECKED : MF_UNCHECKED));
    markChoice(window, ID_PRACTICE_TOLERANCE_FIRST, ID_PRACTICE_TOLERANCE_LAST, current.listenTolerance);
}

// Writes the settings after a menu choice; a box says so when they could not be saved.
void save(HWND window, const char* what) {
    const std::string path = settingsPath();
    std::string error;
    if (!path.empty() && !writeSettings(path, current, error)) {
        const std::string text = std::string(what) + " is used now but could not be saved for the next time: " + error;
        MessageBoxA(window, text.c_str(), "Tabladex", MB_OK | MB_ICONWARNING);
    }
}

bool within(int id, int first, int last) { return id >= first && id <= last; }

}  // namespace

void applyUserSettings(TutorApp& app, HWND window) {
    const SettingsRead read = readSettings(settingsPath());
    current = read.settings;
    applyAll(app, window);
    if (!read.message.empty()) MessageBoxA(window, read.message.c_str(), "Tabladex", MB_OK | MB_ICONWARNING);
}

void listeningFailed(TutorApp& app, HWND window) {
    current.listen = 0;
    applyAll(app, window);
    save(window, "Listening off");
}

void rememberInputOffset(TutorApp& app, HWND window, int milliseconds) {
    current.inputOffsetMs = milliseconds;
    applyAll(app, window);
    save(window, "The measured sound delay");
}

bool chooseSoundDelay(TutorApp& app, HWND window, int commandId) {
    if (!within(commandId, ID_VIEW_SOUNDDELAY_FIRST, ID_VIEW_SOUNDDELAY_LAST)) return false;
    current.soundDelayMs = soundDelayChoices[commandId - ID_VIEW_SOUNDDELAY_FIRST];
    applyAll(app, window);
    save(window, "The Sound Delay");
    return true;
}

bool choosePractice(TutorApp& app, HWND window, int commandId) {
    const char* what = nullptr;
    if (within(commandId, ID_PRACTICE_COUNTIN_FIRST, ID_PRACTICE_COUNTIN_LAST)) {
        current.countInBars = countInChoices[commandId - ID_PRACTICE_COUNTIN_FIRST];
        what = "The Count-In";
    } else if (within(commandId, ID_PRACTICE_SPEED_FIRST, ID_PRACTICE_SPEED_LAST)) {
        const SpeedChoice choice = speedChoices[commandId - ID_PRACTICE_SPEED_FIRST];
        current.speedStepBpm = choice.step;
        current.speedEveryPasses = choice.every;
        what = "The Speed Trainer";
    } else if (within(commandId, ID_PRACTICE_RANGE_FIRST, ID_PRACTICE_RANGE_LAST)) {
        current.speedRangeBpm = speedRangeChoices[commandId - ID_PRACTICE_RANGE_FIRST];
        what = "The Speed Trainer";
    } else if (within(commandId, ID_PRACTICE_SILENT_FIRST, ID_PRACTICE_SILENT_LAST)) {
        const SilentChoice choice = silentChoices[commandId - ID_PRACTICE_SILENT_FIRST];
        current.silentPlayPasses = choice.play;
        current.silentRestPasses = choice.rest;
        what = "The Silent Passes choice";
    } else if (commandId == ID_PRACTICE_LISTEN) {
        current.listen = !current.listen;
        what = "Listening";
    } else if (commandId == ID_PRACTICE_CALLANSWER) {
        current.callAndAnswer = !current.callAndAnswer;
        what = "Call and Answer";
    } else if (commandId == ID_PRACTICE_HEADPHONES) {
        current.headphones = !current.headphones;
        what = "The Headphones choice";
    } else if (within(commandId, ID_PRACTICE_TOLERANCE_FIRST, ID_PRACTICE_TOLERANCE_LAST)) {
        current.listenTolerance = commandId - ID_PRACTICE_TOLERANCE_FIRST;
        what = "The tolerance";
    } else if (commandId == ID_PRACTICE_HOLD) {
        app.practice.hold.store(!app.practice.hold.load());
        applyAll(app, window);
        return true;
    } else {
        return false;
    }
    applyAll(app, window);
    save(window, what);
    return true;
}
