// Rendering a plan on the offline output.
#include "cli/render/plan_renderer.h"

#include <algorithm>
#include <cmath>

#include "rhythm/click_sound.h"

const char* const drumSampleFiles[4] = {"soundFont/doumBackClipped.wav", "soundFont/half_tek_front.wav",
                                        "soundFont/tek_front.wav", "soundFont/slap_front.wav"};

namespace {

// Frames rendered and handed on at once: large enough that the per-block work vanishes,
// small enough that a long render stays small in memory.
constexpr int64_t blockFrames = 16384;
// Play requests placed ahead of one block; the library queues up to 1024.
constexpr int maxStartsPerBlock = 512;

}  // namespace

PlanRenderer::~PlanRenderer() {
    if (system_) system_->release();
}

bool PlanRenderer::open(const RenderPlan& plan, const std::string& dataFolder, double gainDb,
                        std::string& error) {
    plan_ = plan;
    audio::setDefaultOutput(audio::OutputKind::Offline);
    audio::setOfflineSampleRate(plan.rate);
    audio::Result result = audio::systemCreate(&system_);
    if (result == audio::Ok) result = system_->init(32, audio::InitNormal, nullptr);
    if (result != audio::Ok) {
        error = audio::errorString(result);
        return false;
    }
    audio::ChannelGroup* group = nullptr;
    if ((result = system_->createChannelGroup("Mastah Group", &group)) != audio::Ok) {
        error = audio::errorString(result);
        return false;
    }
    const double gain = std::pow(10.0, gainDb / 20.0);
    groupVolume_ = static_cast<float>(std::min(gain, 1.0));
    postGain_ = static_cast<float>(std::max(gain, 1.0));
    group->setVolume(groupVolume_);

    std::array<int64_t, strokeSoundCount> soundFrames{};
    for (int i = 0; i < 4; ++i) {
        const std::string path = dataFolder + drumSampleFiles[i];
        result = system_->createSound(path.c_str(), audio::LoopOff | audio::Mode2D | audio::Hardware,
                                      nullptr, &sounds_[i]);
        if (result != audio::Ok) {
            error = path + ": " + audio::errorString(result);
            return false;
        }
        std::size_t frames = 0;
        sounds_[i]->getLengthFrames(&frames);
        soundFrames[i] = static_cast<int64_t>(frames);
        system_->getChannel(i, &channels_[i]);
        channels_[i]->setChannelGroup(group);
    }
    // A click never rings into the next beat of the count-in, at the first pass's tempo.
    const int64_t beat = plan.entries.empty() ? 1 : stepFrame(1, passTempo(plan, plan.entries[0], 1), 1, plan.rate);
    for (int accent = 0; accent < 2; ++accent) {
        clicks_[accent] = makeClick(plan.rate, accent == 1, beat - 1);
        soundFrames[int(StrokeSound::Click) + accent] = static_cast<int64_t>(clicks_[accent].size() / 2);
    }

    // Whatever is playing at the limit (the plan's, else a day) is cut there, to the frame.
    const int64_t maxFrames = maxRenderSeconds * plan.rate;
    const bool limited = plan_.limitFrames >= 0;
    const int64_t cap = limited ? std::min(plan_.limitFrames, maxFrames) : maxFrames;
    for (const PlanEntry& entry : plan_.entries) {
        if (entry.passes <= 0 && !limited) {
            error = "the render never ends: give it a length";
            return false;
        }
    }
    const int64_t natural = naturalLength(plan_, soundFrames, cap);
    length_ = std::min(natural, cap);
    cut_ = natural > cap;
    if (length_ <= 0) {
        error = "the render would have no frames";
        return false;
    }
    return true;
}

void PlanRenderer::addClicks(float* out, int64_t from, int64_t frames) {
    const int32_t tempo = plan_.countInBeats > 0 ? passTempo(plan_, plan_.entries[0], 1) : 0;
    for (int32_t beat = 0; beat < plan_.countInBeats; ++beat) {
        const std::vector<float>& click = clicks_[beat == 0 ? 1 : 0];
        const int64_t start = stepFrame(beat, tempo, 1, plan_.rate);
        const int64_t first = std::max(start, from);
        const int64_t last = std::min<int64_t>(start + static_cast<int64_t>(click.size() / 2), from + frames);
        for (int64_t f = first; f < last; ++f) {
            out[2 * (f - from)] += click[2 * (f - start)] * groupVolume_;
            out[2 * (f - from) + 1] += click[2 * (f - start) + 1] * groupVolume_;
        }
    }
}

bool PlanRenderer::render(const RenderSink& sink, std::string& error) {
    if (!system_) {
        error = "the renderer is not open";
        return false;
    }
    std::vector<float> block(static_cast<std::size_t>(blockFrames) * 2);
    // The library starts a request `latency` frames after its stamp: those first frames of
    // the stream are dropped, so a request stamped at frame f sounds at frame f of the file.
    const int latency = audio::outputLatencyFrames(system_);
    audio::offlineRender(system_, block.data(), static_cast<std::size_t>(latency));

    StrokeTimeline timeline(plan_, length_);
    Stroke stroke;
    bool pending = timeline.next(stroke);
    const int64_t fadeFrames = std::min<int64_t>(plan_.rate / 100, length_);
    for (int64_t done = 0; done < length_;) {
        int64_t end = std::min(length_, done + blockFrames);
        for (int placed = 0; pending && stroke.frame < end; pending = timeline.next(stroke)) {
            if (placed == maxStartsPerBlock) {
                end = stroke.frame;  // the rest after this shorter block
                break;
            }
            if (stroke.sound == StrokeSound::Click || stroke.sound == StrokeSound::AccentClick) {
                ++stats_.strokes;  // mixed in by addClicks
                continue;
            }
            const int index = static_cast<int>(stroke.sound);
            audio::offlineSetTime(system_, static_cast<double>(stroke.frame) / plan_.rate);
            const audio::Result result =
                system_->playSound(audio::ChannelReuse, sounds_[index], false, &channels_[index]);
            if (result != audio::Ok) {
                error = audio::errorString(result);
                return false;
            }
            ++stats_.strokes;
            ++placed;
        }
        const int64_t frames = end - done;
        audio::offlineRender(system_, block.data(), static_cast<std::size_t>(frames));
        addClicks(block.data(), done, frames);
        if (postGain_ > 1.0f) {
            for (int64_t i = 0; i < 2 * frames; ++i) {
                const float value = block[i] * postGain_;
                if (std::fabs(value) > 1.0f) ++stats_.clippedSamples;
                block[i] = std::clamp(value, -1.0f, 1.0f);
            }
        }
        if (cut_) {
            for (int64_t f = std::max(done, length_ - fadeFrames); f < end; ++f) {
                const float fade = static_cast<float>(length_ - 1 - f) / static_cast<float>(fadeFrames);
                block[2 * (f - done)] *= fade;
                block[2 * (f - done) + 1] *= fade;
            }
        }
        if (!sink.write(sink.user, block.data(), static_cast<std::size_t>(frames))) return false;
        done = end;
        if (sink.progress) sink.progress(sink.user, done, length_);
    }
    return true;
}
