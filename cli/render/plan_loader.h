// plan_loader.h - a rhythm file (.krf) or a playlist (.krp) read with the tutor's readers
// and made into a RenderPlan, with the command line's changes applied.
//
// A playlist is refused as the tutor refuses it (a count too large, no entries, more than
// 1000 entries, a rhythm file it cannot read); an odd number of lines is accepted with a
// warning, as the tutor accepts it. An entry that never ends (count 0 or less) is refused
// unless a length limit is given. A step shorter than one frame at the render's rate is
// refused, with a ladder at its fastest tempo. Messages name the file, and the line when
// there is one.
//
// Threads: any. Ownership: the caller owns the results.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/render/render_plan.h"

struct PlanSettings {
    int32_t tempo = 0;          // above 0: every entry's tempo
    int32_t repeats = 1;        // a single rhythm's passes (a playlist keeps its counts)
    int32_t countInBeats = 0;
    int32_t rate = 48000;
    int64_t limitFrames = -1;   // below 0: no limit
    SpeedLadder ladder;         // start above 0: every entry's passes climb it
    SilentPasses silent;
};

// True when path names a playlist: .krp (case ignored), or, for a name that is neither
// .krp nor .krf (a .txt, which the tutor's open dialogs offer for both), a file whose
// content is a playlist's, as tabladex-check decides it.
bool isPlaylistFile(const std::string& path);

bool loadPlan(const std::string& path, const PlanSettings& settings, RenderPlan& plan,
              std::vector<std::string>& warnings, std::string& error);
