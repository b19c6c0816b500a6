// user_settings.h - the learner's settings in the running program: read once at start,
// applied to the tutor and marked in the menus, and written again whenever a menu choice
// changes one (see store/settings.h for the file).
//
// Sound Delay (View menu): how much later than the sound output reports the learner hears
// a stroke (wireless headphones, a television, an external converter), from -50 to +300 ms;
// the screen shows each stroke that much later. A value set by hand in the file that the
// menu does not offer is used as it is, with no item marked.
//
// Threads: main thread (inside message dispatch for the menu commands). Ownership: the
// settings live here, for the program's run; the tutor gets copies of what it uses.
#pragma once

#include "platform/win_api.h"

class TutorApp;

// The Sound Delay menu's choices, in milliseconds, one command id each from
// ID_VIEW_SOUNDDELAY_FIRST in this order.
inline constexpr int soundDelayChoices[] = {-50, -25, 0, 25, 50, 75, 100, 150, 200, 250, 300};

// Reads the settings file, applies it to app and marks the menus of window; a damaged file
// is set aside and a box owned by window says so.
void applyUserSettings(TutorApp& app, HWND window);

// Serves a Sound Delay command (its id); false for any other id. The choice is applied at
// once (to the steps handed over from then on), marked, and written to the settings file;
// a box says so when it could not be written.
bool chooseSoundDelay(TutorApp& app, HWND window, int commandId);
