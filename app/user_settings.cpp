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

// The settings as read at start and changed since; the file is written from them.
Settings current;

void applySoundDelay(TutorApp& app, HWND window) {
    app.soundDelay.store(current.soundDelayMs / 1000.0);
    const HMENU menu = GetMenu(window);
    for (std::size_t i = 0; i < std::size(soundDelayChoices); ++i) {
        if (soundDelayChoices[i] != current.soundDelayMs) continue;
        CheckMenuRadioItem(menu, ID_VIEW_SOUNDDELAY_FIRST, ID_VIEW_SOUNDDELAY_LAST,
                           ID_VIEW_SOUNDDELAY_FIRST + static_cast<UINT>(i), MF_BYCOMMAND);
        return;
    }
    // A value the menu does not offer: none of its items is the setting.
    for (UINT id = ID_VIEW_SOUNDDELAY_FIRST; id <= ID_VIEW_SOUNDDELAY_LAST; ++id)
        CheckMenuItem(menu, id, MF_BYCOMMAND | MF_UNCHECKED);
}

}  // namespace

void applyUserSettings(TutorApp& app, HWND window) {
    const SettingsRead read = readSettings(settingsPath());
    current = read.settings;
    applySoundDelay(app, window);
    if (!read.message.empty()) MessageBoxA(window, read.message.c_str(), "Tabladex", MB_OK | MB_ICONWARNING);
}

bool chooseSoundDelay(TutorApp& app, HWND window, int commandId) {
    if (commandId < ID_VIEW_SOUNDDELAY_FIRST || commandId > ID_VIEW_SOUNDDELAY_LAST) return false;
    current.soundDelayMs = soundDelayChoices[commandId - ID_VIEW_SOUNDDELAY_FIRST];
    applySoundDelay(app, window);
    const std::string path = settingsPath();
    std::string error;
    if (!path.empty() && !writeSettings(path, current, error)) {
        const std::string text = "The Sound Delay is used now but could not be saved for the next time: " + error;
        MessageBoxA(window, text.c_str(), "Tabladex", MB_OK | MB_ICONWARNING);
    }
    return true;
}
