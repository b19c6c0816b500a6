// One render, from the command line's settings to the file in place.
#include "cli/render/render_job.h"

#include <cmath>

#include "cli/render/plan_loader.h"
#include "cli/render/plan_renderer.h"
#include "cli/render/sound_file_writer.h"

namespace {

struct SinkState {
    SoundFileWriter* writer;
    const RenderHooks* hooks;
    std::string error;
};

bool writeBlock(void* user, const float* stereo, std::size_t frames) {
    auto* state = static_cast<SinkState*>(user);
    if (state->hooks->interrupted && *state->hooks->interrupted) {
        state->error = "interrupted";
        return false;
    }
    return state->writer->write(stereo, frames, state->error);
}

void showProgress(void* user, int64_t done, int64_t total) {
    static_cast<SinkState*>(user)->hooks->progress->update(done, total);
}

}  // namespace

bool renderToFile(const RenderOptions& options, const std::string& dataFolder, const RenderHooks& hooks,
                  RenderReport& report, std::vector<std::string>& warnings, std::string& error) {
    // The output's name is checked before any work, so a wrong extension costs nothing.
    SoundFileFormat format;
    if (!soundFileFormatFor(options.output, format)) {
        error = options.output + ": unknown output format (use .wav, .flac or .ogg)";
        return false;
    }
    PlanSettings settings;
    settings.tempo = options.tempo;
    settings.repeats = options.repeats;
    settings.countInBeats = options.countInBeats;
    settings.rate = options.rate;
    if (options.minutes > 0.0) settings.limitFrames = std::llround(options.minutes * 60.0 * options.rate);
    if (options.repeatsGiven && isPlaylistPath(options.input))
        warnings.push_back("--repeats is for a single rhythm; the playlist's own counts are kept");
    RenderPlan plan;
    if (!loadPlan(options.input, settings, plan, warnings, error)) return false;

    PlanRenderer renderer;
    if (!renderer.open(plan, dataFolder, options.gainDb, error)) return false;
    SoundFileWriter writer;
    if (!writer.open(options.output, plan.rate, renderer.lengthFrames(), error)) return false;

    SinkState state{&writer, &hooks, {}};
    RenderSink sink;
    sink.write = writeBlock;
    sink.user = &state;
    if (hooks.progress && renderer.lengthFrames() > int64_t(progressSeconds) * plan.rate) sink.progress = showProgress;
    const bool rendered = renderer.render(sink, error);
    if (hooks.progress) hooks.progress->finish();
    if (!rendered) {
        if (error.empty()) error = state.error;
        return false;  // the writer removes its temporary file
    }
    if (!writer.commit(error)) return false;

    report.entries = plan.entries.size();
    report.frames = renderer.lengthFrames();
    report.rate = plan.rate;
    report.strokes = renderer.stats().strokes;
    report.clippedSamples = renderer.stats().clippedSamples;
    return true;
}
