// mixer.h - sums the channels' voices into interleaved stereo float, block by block.
//
// Promises:
//  - One voice per channel. A start on a sounding channel cuts the old voice off with a
//    linear fade of about 1 ms (kept as the channel's fading tail) while the new one starts.
//  - Sample-accurate starts: a play request stamped at time t starts at frame
//    round(frameAt(t)) + latency, where frameAt is exact t * rate on the virtual clock and a
//    delay-locked loop over block times otherwise. A request that arrives after its frame
//    was rendered starts at the first frame still to come and is counted as late.
//  - Group volumes multiply every bound channel; a change ramps linearly across the next
//    block. The summed mix passes a soft limiter, so it never leaves [-1, 1].
//
// Threads: init on the main thread before any other call. requestPlay from one producer
// thread at a time (lock-free queue). bindChannel, setGroupVolume, setQuantizeStarts are
// wait-free atomic stores, callable from any thread. render on the audio thread only: it
// never blocks, allocates or logs.
// Ownership: the mixer owns its own state; SoundData passed to requestPlay must outlive the
// mixer's use of it (the system frees sounds only after the output has stopped).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio.h"
#include "decoder.h"
#include "frame_clock.h"
#include "spsc_queue.h"

namespace audio {

struct MixerConfig {
    int sampleRate = 48000;
    int channels = 32;
    int groups = 32;
    int blockFrames = 256;    // longest piece rendered at once; blocks start at multiples
    int latencyFrames = 768;  // added to the frame that matches a request's time stamp
    bool virtualClock = false;  // stamps are seconds on a virtual clock: frame = t * rate
};

class Mixer {
public:
    Result init(const MixerConfig& config);
    const MixerConfig& config() const { return config_; }

    void bindChannel(int channel, int group);  // group -1: no group, unit gain
    void setGroupVolume(int group, float volume);
    float groupVolume(int group) const;
    void setQuantizeStarts(bool on) { quantize_.store(on, std::memory_order_relaxed); }
    std::size_t lateStarts() const { return late_.load(std::memory_order_relaxed); }

    // Producer thread: asks for sound to start on channel at the frame matching stamp.
    Result requestPlay(int channel, const SoundData* sound, double stamp);

    // Audio thread: renders the next frames into out (interleaved stereo); now is the
    // clock time at which they are asked for (ignored on the virtual clock).
    void render(float* out, int frames, double now);
    // Audio thread: the output opened a new device; the next render starts a new map of
    // times to frames (see FrameClock::restart). Voices and pending starts go on.
    void restartClock() { clock_.restart(); }

private:
    struct Request {
        const SoundData* sound;
        double stamp;
        int channel;
    };
    struct Start {
        std::int64_t frame;
        std::uint64_t order;
        const SoundData* sound;
        int channel;
    };
    struct Voice {
        const SoundData* sound = nullptr;
        std::size_t position = 0;
        int fade = 0;  // frames of fade left; tails only
    };
    struct GroupRamp {
        float gain = 1.0f;    // reached at the start of the piece being rendered
        float target = 1.0f;
        float step = 0.0f;    // per frame
        int remaining = 0;    // frames of ramp left
    };
    struct ChannelState {
        Voice voice;
        Voice tail;  // the cut-off voice, fading out
    };

    void renderBlock(float* out, int frames);
    void takeRequests();
    void addStart(const Start& start);
    void mixSegment(float* out, int from, int to);
    void startVoice(int channel, const SoundData* sound);

    MixerConfig config_;
    int fadeFrames_ = 48;
    SpscQueue<Request, 1024> requests_;
    std::unique_ptr<std::atomic<int>[]> channelGroup_;
    std::unique_ptr<std::atomic<float>[]> groupTarget_;
    std::atomic<bool> quantize_{false};
    std::atomic<std::size_t> late_{0};

    // Audio thread only.
    std::vector<ChannelState> channels_;
    std::vector<GroupRamp> groups_;       // by group id
    std::vector<GroupRamp> channelRamp_;  // each channel's group ramp for this piece
    std::vector<Start> starts_;       // pending starts, sorted by frame then order
    std::size_t startCount_ = 0;
    std::uint64_t order_ = 0;
    std::int64_t blockStart_ = 0;     // first frame of the block being rendered
    FrameClock clock_;
};

}  // namespace audio
