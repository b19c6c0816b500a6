// user_settings.h - the learner's settings in the running program: read once at start,
// applied to the tutor and marked in the menus, and written again whenever a menu choice
// changes one (see store/settings.h for the file).
//
// Sound Delay (View menu): how much later than the sound output reports the learner hears
// a stroke (wireless headphones, a television, an external converter), from -50 to +300 ms;
// the screen shows each stroke that much later. A value set by hand in the file that the
// menu does not offer is used as it is, with no item marked.
//
// The Practice menu: Count-In (bars of clicks before the first stroke after Play from
// Stopped), Speed Trainer (a step of so many BPM every so many passes, and how far from the
// start tempo it goes before it holds) and Silent Passes (which passes of each cycle sound);
// each a radio group, remembered like the Sound Delay. Hold This Entry is not remembered: it
// belongs to the playlist playing now.
//
// Threads: main thread (inside message dispatch for the menu commands). Ownership: the
// settings live here, for the program's run; the tutor gets copies of what it uses.
#pragma once

#include "platform/win_api.h"

class TutorApp;

// The Sound Delay menu's choices, in milliseconds, one command id each from
// ID_VIEW_SOUNDDELAY_FIRST in this order.
inline constexpr int soundDelayChoices[] = {-50, -25, 0, 25, 50, 75, 100, 150, 200, 250, 300};

// The Practice menu's choices, one command id each from their group's first id in this order.
inline constexpr int countInChoices[] = {0, 1, 2};  // bars
struct SpeedChoice {
    int step;   // BPM a rung; 0: off
    int every;  // passes a rung
};
inline constexpr SpeedChoice speedChoices[] = {{0, 1}, {1, 1}, {2, 1}, {5, 2}, {5, 4}, {10, 4}, {-5, 2}};
inline constexpr int speedRangeChoices[] = {10, 20, 30, 40, 60};  // BPM
struct SilentChoice {
    int play;  // passes that sound, then
    int rest;  // passes left silent; both 0: off
};
inline constexpr SilentChoice silentChoices[] = {{0, 0}, {1, 1}, {2, 1}, {2, 2}, {3, 1}};

// Reads the settings file, applies it to app and marks the menus of window; a damaged file
// is set aside and a box owned by window says so.
void applyUserSettings(TutorApp& app, HWND window);

// Serves a Sound Delay command (its id); false for any other id. The choice is applied at
// once (to the steps handed over from then on), marked, and written to the settings file;
// a box says so when it could not be written.
bool chooseSoundDelay(TutorApp& app, HWND window, int commandId);

// Serves a Count-In, Speed Trainer or Silent Passes command as chooseSoundDelay does its own,
// and Hold This Entry (marked, not written); false for any other id.
// Listen, Call and Answer, Headphones and the tolerance are Practice commands too.
bool choosePractice(TutorApp& app, HWND window, int commandId);

// Listening could not open the input: it is switched off, and remembered so.
void listeningFailed(TutorApp& app, HWND window);
// The latency check measured the input this much later than the sound system reports.
void rememberInputOffset(TutorApp& app, HWND window, int milliseconds);
