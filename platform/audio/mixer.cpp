#include "mixer.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <new>

namespace audio {

namespace {

constexpr std::size_t kMaxPendingStarts = 1024;
constexpr float kLimiterKnee = 0.8f;

// Unity below the knee; above it a tanh curve that meets the line with the same slope and
// approaches 1, so loud sums are squeezed instead of clipped.
inline float softLimit(float x) {
    const float magnitude = std::fabs(x);
    if (magnitude <= kLimiterKnee) return x;
    const float room = 1.0f - kLimiterKnee;
    const float limited = kLimiterKnee + room * std::tanh((magnitude - kLimiterKnee) / room);
    return x < 0 ? -limited : limited;
}

}  // namespace

Result Mixer::init(const MixerConfig& config) {
    assert(config.sampleRate > 0 && config.channels > 0 && config.blockFrames > 0);
    config_ = config;
    fadeFrames_ = std::max(1, config.sampleRate / 1000);
    try {
        channelGroup_ = std::make_unique<std::atomic<int>[]>(config.channels);
        groupTarget_ = std::make_unique<std::atomic<float>[]>(config.groups);
        for (int i = 0; i < config.channels; ++i) channelGroup_[i].store(-1);
        for (int i = 0; i < config.groups; ++i) groupTarget_[i].store(1.0f);
        channels_.assign(config.channels, ChannelState{});
        groups_.assign(config.groups, GroupRamp{});
        channelRamp_.assign(config.channels, GroupRamp{});
        starts_.assign(kMaxPendingStarts, Start{});
    } catch (const std::bad_alloc&) {
        return ErrMemory;
    }
    clock_ = FrameClock(config.sampleRate);
    return Ok;
}

void Mixer::bindChannel(int channel, int group) {
    assert(channel >= 0 && channel < config_.channels && group < config_.groups);
    channelGroup_[channel].store(group, std::memory_order_release);
}

void Mixer::setGroupVolume(int group, float volume) {
    assert(group >= 0 && group < config_.groups);
    groupTarget_[group].store(std::clamp(volume, 0.0f, 1.0f), std::memory_order_release);
}

float Mixer::groupVolume(int group) const {
    assert(group >= 0 && group < config_.groups);
    return groupTarget_[group].load(std::memory_order_acquire);
}

Result Mixer::requestPlay(int channel, const SoundData* sound, double stamp) {
    assert(channel >= 0 && channel < config_.channels && sound);
    return requests_.push(Request{sound, stamp, channel}) ? Ok : ErrBusy;
}

void Mixer::render(float* out, int frames, double now) {
    if (!config_.virtualClock) clock_.update(now, blockStart_);
    while (frames > 0) {
        // Pieces never cross a multiple of blockFrames, so blocks are the same whatever
        // lengths the caller renders.
        const int intoBlock = static_cast<int>(blockStart_ % config_.blockFrames);
        const int piece = std::min(frames, config_.blockFrames - intoBlock);
        renderBlock(out, piece);
        out += static_cast<std::size_t>(piece) * 2;
        frames -= piece;
    }
}

void Mixer::takeRequests() {
    const bool quantize = quantize_.load(std::memory_order_relaxed);
    Request request;
    while (requests_.pop(&request)) {
        // The naive baseline: the next block boundary at or after the current position.
        const std::int64_t block = config_.blockFrames;
        std::int64_t frame = (blockStart_ + block - 1) / block * block;
        if (!quantize) {
            const double exact = config_.virtualClock ? request.stamp * config_.sampleRate
                                                      : clock_.frameAt(request.stamp);
            frame = static_cast<std::int64_t>(std::llround(exact)) + config_.latencyFrames;
            if (frame < blockStart_) {
                late_.fetch_add(1, std::memory_order_relaxed);
                frame = blockStart_;
            }
        }
        addStart(Start{frame, order_++, request.sound, request.channel});
    }
}

void Mixer::addStart(const Start& start) {
    if (startCount_ == kMaxPendingStarts) {
        late_.fetch_add(1, std::memory_order_relaxed);  // dropped: far more than can sound
        return;
    }
    std::size_t i = startCount_;
    while (i > 0 && starts_[i - 1].frame > start.frame) {
        starts_[i] = starts_[i - 1];
        --i;
    }
    starts_[i] = start;
    ++startCount_;
}

void Mixer::startVoice(int channel, const SoundData* sound) {
    ChannelState& state = channels_[channel];
    if (state.voice.sound) {
        state.tail = state.voice;
        state.tail.fade = fadeFrames_;
    }
    state.voice = Voice{sound, 0, 0};
}

void Mixer::mixSegment(float* out, int from, int to) {
    for (int c = 0; c < config_.channels; ++c) {
        ChannelState& state = channels_[c];
        const GroupRamp& ramp = channelRamp_[c];
        const auto gainAt = [&ramp](int i) {
            return ramp.gain + ramp.step * static_cast<float>(std::min(i + 1, ramp.remaining));
        };
        if (Voice& v = state.voice; v.sound) {
            const float* samples = v.sound->samples.data();
            const std::size_t length = v.sound->frames;
            int i = from;
            for (; i < to && v.position < length; ++i, ++v.position) {
                const float gain = gainAt(i);
                out[2 * i] += samples[2 * v.position] * gain;
                out[2 * i + 1] += samples[2 * v.position + 1] * gain;
            }
            if (v.position >= length) v = Voice{};
        }
        if (Voice& t = state.tail; t.sound) {
            const float* samples = t.sound->samples.data();
            const std::size_t length = t.sound->frames;
            const float fadeStep = 1.0f / static_cast<float>(fadeFrames_ + 1);
            int i = from;
            for (; i < to && t.position < length && t.fade > 0; ++i, ++t.position, --t.fade) {
                const float gain = gainAt(i) * fadeStep * static_cast<float>(t.fade);
                out[2 * i] += samples[2 * t.position] * gain;
                out[2 * i + 1] += samples[2 * t.position + 1] * gain;
            }
            if (t.position >= length || t.fade <= 0) t = Voice{};
        }
    }
}

void Mixer::renderBlock(float* out, int frames) {
    takeRequests();

    // Group ramps: a new target starts a linear ramp of blockFrames frames from the gain
    // reached so far, whatever lengths the block is rendered in.
    for (int g = 0; g < config_.groups; ++g) {
        GroupRamp& ramp = groups_[g];
        const float target = groupTarget_[g].load(std::memory_order_acquire);
        if (target != ramp.target) {
            ramp.target = target;
            ramp.step = (target - ramp.gain) / static_cast<float>(config_.blockFrames);
            ramp.remaining = config_.blockFrames;
        }
    }
    for (int c = 0; c < config_.channels; ++c) {
        const int group = channelGroup_[c].load(std::memory_order_acquire);
        channelRamp_[c] = group < 0 ? GroupRamp{} : groups_[group];
    }

    std::memset(out, 0, sizeof(float) * 2 * static_cast<std::size_t>(frames));
    const std::int64_t blockEnd = blockStart_ + frames;
    int cursor = 0;
    std::size_t done = 0;
    while (done < startCount_ && starts_[done].frame < blockEnd) {
        const Start& start = starts_[done++];
        const int at = static_cast<int>(start.frame - blockStart_);
        mixSegment(out, cursor, at);
        cursor = at;
        startVoice(start.channel, start.sound);
    }
    mixSegment(out, cursor, frames);
    if (done > 0) {
        std::copy(starts_.begin() + done, starts_.begin() + startCount_, starts_.begin());
        startCount_ -= done;
    }

    for (int i = 0; i < 2 * frames; ++i) out[i] = softLimit(out[i]);
    for (GroupRamp& ramp : groups_) {
        const int steps = std::min(ramp.remaining, frames);
        ramp.gain += ramp.step * static_cast<float>(steps);
        ramp.remaining -= steps;
        if (ramp.remaining == 0) ramp.gain = ramp.target;
    }
    blockStart_ = blockEnd;
}

}  // namespace audio
