// shared_flags.h - the process-wide requests that pass between the main thread, the menu
// commands and the playback thread.
//
// Threads: the four handshake flags are atomics, written and read by both threads (who sets
// and who clears each is written beside it). The load requests, showNotes and selectedPath
// belong to the main thread.
#pragma once

#include <atomic>

// Main asks the playback thread to end; the thread also sets it at the end of an entry.
// Cleared by start, when it starts a thread.
extern std::atomic<bool> stopRequested;
// Set by start when it starts a thread; cleared by the thread as its last act.
extern std::atomic<bool> threadRunning;
// Make the next entry current: set by the thread after an entry's last pass, or by Next.
extern std::atomic<bool> advanceRequested;
// Make the previous entry current: set by Previous.
extern std::atomic<bool> previousRequested;

// Main thread only.
extern bool loadRhythmRequested;
extern bool loadPlaylistRequested;
extern bool showNotes;  // initially true
constexpr int selectedPathSize = 256;
extern char selectedPath[selectedPathSize];  // the file chosen last, zero-terminated
