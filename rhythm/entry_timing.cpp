// The seam between playlist entries.
#include "rhythm/entry_timing.h"

#include <algorithm>

double nextEntryDelay(double stepTime) { return std::max(stepTime, entryBreathSeconds); }
