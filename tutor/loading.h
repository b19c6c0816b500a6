// loading.h - what the tutor adds to the readers of rhythm files and playlists: the entries
// built from what they read (sound slots, title and notation images) and the boxes that tell
// the learner what went wrong, owned by the tutor's window.
//
// The loading operations themselves are the record's (readRhythmFile, parseNotation,
// readPlaylist, loadRhythm, loadPlaylist, openFile in tutor_app.h).
//
// Threads: main thread, while no playback thread runs.
#pragma once

#include <cstdio>

#include "platform/win_api.h"

class TutorApp;
struct RhythmEntry;
struct RhythmText;

// Fills entry, in its default state, from what a rhythm file says.
void buildEntry(TutorApp& app, const RhythmText& text, RhythmEntry& entry);

// Closes file; shows "File was not closed" (owned by owner) when closing reports an error.
void closeRhythmFile(std::FILE* file, HWND owner = nullptr);
