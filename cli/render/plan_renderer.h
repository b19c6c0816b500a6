// plan_renderer.h - renders a RenderPlan with the tutor's four drum samples through the
// audio library's offline output: the tutor's mixer, its channels (one per sample) and its
// master group, with every stroke started on its exact frame of the plan's grid.
//
// The output is interleaved stereo float at the plan's rate, handed to a sink block by block
// as it is rendered, so a long render holds only one block. Gain up to 0 dB is the master
// group's volume, as the tutor's volume slider sets it; a gain above 0 dB amplifies the mix
// after it and clips what leaves [-1, 1]. The render lasts the plan's own length, or stops on
// the exact frame of its limit (or after a day) when it is longer: what still sounds then is
// cut, its last 10 ms faded out so the file does not end on a click.
//
// Threads: the main thread only; it sets the audio library's process-wide output to the
// offline one. Ownership: the renderer owns its audio system (released by the destructor);
// the sink's user data stays the caller's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/render/render_plan.h"
#include "platform/audio/audio.h"

struct RenderSink {
    // Takes the next frames of the render; false stops it.
    bool (*write)(void* user, const float* stereo, std::size_t frames) = nullptr;
    // After each block: frames rendered so far and the render's length. May be null.
    void (*progress)(void* user, int64_t done, int64_t total) = nullptr;
    void* user = nullptr;
};

struct RenderStats {
    int64_t strokes = 0;         // strokes and clicks started
    int64_t clippedSamples = 0;  // samples a gain above 0 dB pushed past full scale
};

// The sample files of the four drum sounds, in the order of StrokeSound, relative to the
// data folder.
extern const char* const drumSampleFiles[4];

// The longest render: a day. A longer plan is cut there.
constexpr int64_t maxRenderSeconds = 24 * 60 * 60;

class PlanRenderer {
public:
    PlanRenderer() = default;
    PlanRenderer(const PlanRenderer&) = delete;
    PlanRenderer& operator=(const PlanRenderer&) = delete;
    ~PlanRenderer();

    // Opens the offline output at plan.rate, loads the samples from dataFolder (empty, or
    // ending in a slash) and works out the length. The plan is copied. False with error set
    // when a sample cannot be loaded, the plan never ends and has no limit, or the render
    // would have no frames.
    bool open(const RenderPlan& plan, const std::string& dataFolder, double gainDb, std::string& error);
    int64_t lengthFrames() const { return length_; }
    // True when the limit or the day cuts the plan short.
    bool cut() const { return cut_; }
    // Renders the whole plan into sink; false when the library fails (error set) or the sink
    // stops the render (error left empty).
    bool render(const RenderSink& sink, std::string& error);
    const RenderStats& stats() const { return stats_; }

private:
    void addClicks(float* out, int64_t from, int64_t frames);

    RenderPlan plan_;
    audio::System* system_ = nullptr;
    std::array<audio::Sound*, 4> sounds_{};
    std::array<audio::Channel*, 4> channels_{};
    std::array<std::vector<float>, 2> clicks_;  // Click, AccentClick
    float groupVolume_ = 1.0f;
    float postGain_ = 1.0f;
    int64_t length_ = 0;
    bool cut_ = false;
    RenderStats stats_;
};
