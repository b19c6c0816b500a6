// One render, from the command line's settings to the file in place.
#include "cli/render/render_job.h"

#include <cmath>
#include <cstdio>

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

// "--minutes 0.1", as short as the number allows.
std::string minutesOption(double minutes) {
    char text[48];
    std::snprintf(text, sizeof text, "--minutes %g", minutes);
    return text;
}

// Says which limit cut the render, when, and what it was playing then.
std::string cutWarning(const RenderOptions& options, const RenderPlan& plan, int64_t length) {
    std::string text = plan.limitFrames == length
                           ? minutesOption(options.minutes) + " cuts the render at " +
                                 formatDuration(length, plan.rate)
                           : std::string("the render is cut at 24 hours, the longest it can be");
    const PlanPosition at = planPositionAt(plan, length - 1);
    if (at.countIn) return text + ", in the count-in";
    const PlanEntry& entry = plan.entries[at.entry];
    if (!isPlaylistFile(options.input)) {
        if (at.pass > entry.passes) return text + ", as the last strokes ring out";
        // A practice track says which pass of the session it stops in.
        std::string pass = at.silent ? "silent, " : "";
        if (plan.ladder.start > 0) pass += std::to_string(at.tempo) + " BPM, ";
        pass = pass.empty() ? "" : " (" + pass.substr(0, pass.size() - 2) + ")";
        return text + ", in pass " + std::to_string(at.pass) + " of " + std::to_string(entry.passes) + pass;
    }
    text += ", in entry " + std::to_string(at.entry + 1) + " of " + std::to_string(plan.entries.size()) +
            " (" + entry.name + ")";
    const std::size_t left = plan.entries.size() - at.entry - 1;
    if (left > 0) text += "; " + std::to_string(left) + (left == 1 ? " entry is" : " entries are") + " left out";
    return text;
}

}  // namespace

std::string formatDuration(int64_t frames, int32_t rate) {
    const int64_t millis = (frames * 1000 + rate / 2) / rate;
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", static_cast<long long>(millis / 60000),
                  static_cast<long long>(millis / 1000 % 60), static_cast<long long>(millis % 1000));
    return text;
}

bool renderToFile(const RenderOptions& options, const std::string& dataFolder, const RenderHooks& hooks,
                  RenderReport& report, std::vector<std::string>& warnings, std::string& error) {
    std::size_t told = 0;
    const auto tell = [&] {
        for (; told < warnings.size(); ++told)
            if (hooks.warn) hooks.warn(warnings[told]);
    };
    // The output's name is checked before any work, so a wrong extension costs nothing.
    SoundFileFormat format;
    if (!outputFormat(options, format)) {
        error = options.output + ": unknown output format (use .wav, .flac or .ogg, or '--type')";
        return false;
    }
    const bool toStream = options.output == "-";
    if (!toStream && sameFile(options.output, options.input)) {
        error = options.output + ": is the input; the render would destroy it";
        return false;
    }
    PlanSettings settings;
    settings.tempo = options.tempo;
    settings.repeats = options.repeats;
    settings.countInBeats = options.countInBeats;
    settings.ladder = options.ladder;
    settings.silent = options.silent;
    settings.rate = options.rate;
    if (options.minutes > 0.0) settings.limitFrames = std::llround(options.minutes * 60.0 * options.rate);
    if (settings.limitFrames == 0) {
        error = minutesOption(options.minutes) + " is shorter than one sample at " +
                std::to_string(options.rate) + " Hz: the file would be empty";
        return false;
    }
    const bool playlist = isPlaylistFile(options.input);
    if (options.repeatsGiven && playlist)
        warnings.push_back("--repeats is for a single rhythm; the playlist's own counts are kept");
    // A ladder or silent passes that the rhythm's few passes never reach.
    if (!playlist) {
        const std::string passes = std::to_string(options.repeats) + (options.repeats == 1 ? " pass" : " passes");
        if (options.ladder.moves() && options.repeats <= options.ladder.every)
            warnings.push_back("the ladder does not move in " + passes + "; give more with '--repeats'");
        if (options.silent.any() && options.repeats <= options.silent.play)
            warnings.push_back("no pass is silent in " + passes + "; give more with '--repeats'");
    }
    RenderPlan plan;
    if (!loadPlan(options.input, settings, plan, warnings, error)) return false;
    for (const PlanEntry& entry : plan.entries)
        if (!toStream && sameFile(options.output, entry.name)) {
            error = options.output + ": is " + entry.name + ", which the playlist names; the render would destroy it";
            return false;
        }

    PlanRenderer renderer;
    if (!renderer.open(plan, dataFolder, options.gainDb, error)) return false;
    SoundFileWriter writer;
    const SoundFileTags tags{plan.title, std::string("tabladex-render ") + TABLADEX_VERSION};
    if (!writer.open(options.output, format, plan.rate, renderer.lengthFrames(), tags, error)) return false;
    tell();

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
    // A signal after the last block still keeps the file from getting its name.
    if (hooks.interrupted && *hooks.interrupted) {
        error = "interrupted";
        return false;
    }
    if (!writer.commit(error)) return false;
    if (renderer.cut()) warnings.push_back(cutWarning(options, plan, renderer.lengthFrames()));
    if (const int64_t clipped = renderer.stats().clippedSamples; clipped > 0) {
        char gain[32];
        std::snprintf(gain, sizeof gain, "%+g", options.gainDb);
        warnings.push_back(std::to_string(clipped) + (clipped == 1 ? " sample was" : " samples were") +
                           " clipped at a gain of " + gain + " dB; a lower '--gain' keeps every stroke whole");
    }
    tell();

    report.entries = plan.entries.size();
    report.frames = renderer.lengthFrames();
    report.rate = plan.rate;
    report.strokes = renderer.stats().strokes;
    report.clippedSamples = renderer.stats().clippedSamples;
    return true;
}
