// entry_timing.h - when a playlist's next entry starts after the entry that ends.
//
// The next entry's first stroke is due one of the old entry's steps after the old entry's
// last step, and never sooner than a short breath, so a fast rhythm does not run straight
// into the next one. The tutor's playback thread and the renderer both time the seam by it.
//
// Threads: any; pure functions. Ownership: nothing is owned.
#pragma once

// The shortest pause between an entry's last step and the next entry's first stroke.
constexpr double entryBreathSeconds = 0.120;

// Seconds from an entry's last step to the next entry's first stroke, for the ending entry's
// step time: the larger of that step time and the breath.
double nextEntryDelay(double stepTime);
