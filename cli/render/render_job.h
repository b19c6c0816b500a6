// render_job.h - one whole render as the program runs it: the input read into a plan, the
// samples loaded, every frame rendered and written, the file put in place. Nothing is
// printed here; the program prints the warnings, the error or the report.
//
// A render longer than --minutes, or than a day, is cut on the exact frame of the limit,
// whatever entry is playing then, and a warning says where the cut fell (with a ladder or
// silent passes, also the pass's tempo or silence). A render that would have no frames is
// refused. A single rhythm with too few passes for its ladder to move, or for a pass to be
// silent, is rendered with a warning.
//
// On any failure (a refused input or option, a missing sample, a write error, an
// interruption) no output file is left behind, and one that existed before is unchanged.
// An output that is the input, or one of the rhythm files a playlist names, is refused. The
// file's title tag is the plan's title. Samples clipped by the gain are a warning.
//
// Threads: the main thread (see PlanRenderer). Ownership: the caller owns everything passed.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/render/progress_bar.h"
#include "cli/render/render_options.h"

struct RenderReport {
    std::size_t entries = 0;
    int64_t frames = 0;
    int32_t rate = 0;
    int64_t strokes = 0;
    int64_t clippedSamples = 0;
};

struct RenderHooks {
    ProgressBar* progress = nullptr;  // shown for renders longer than progressSeconds
    // Given each warning as soon as it is known: those about the input and the options
    // before the render starts, the rest after it. Warnings are also collected in the list.
    void (*warn)(const std::string& text) = nullptr;
    // Not 0 (the program keeps the number of the signal in it): the render stops at the next
    // block, or before the file gets its name, and removes its temporary file.
    const volatile std::sig_atomic_t* interrupted = nullptr;
};

// Renders shorter than this show no progress.
constexpr int progressSeconds = 5;

// A length in frames as minutes and seconds to the millisecond, "1:05.250".
std::string formatDuration(int64_t frames, int32_t rate);

// dataFolder holds soundFont/ (empty, or ending in a slash).
bool renderToFile(const RenderOptions& options, const std::string& dataFolder, const RenderHooks& hooks,
                  RenderReport& report, std::vector<std::string>& warnings, std::string& error);
