// The public objects of audio.h: the system, its channels, groups and sounds, the result
// texts and the output selection. The mixing itself lives in mixer.cpp, decoding behind
// decoder.h and the outputs behind output.h.
#include "audio.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <memory>
#include <new>
#include <string>

#include "capture.h"
#include "capture_ring.h"
#include "clock.h"
#include "decoder.h"
#include "mixer.h"
#include "output.h"
#include "output_silent.h"

namespace audio {

namespace {

constexpr int kSampleRate = 48000;
constexpr int kBlockFrames = 256;
constexpr int kMaxGroups = 32;
constexpr unsigned kKnownModeBits = LoopOff | Mode2D | Hardware;
constexpr double kCaptureRingSeconds = 5.0;

std::atomic<OutputKind> gDefaultOutput{OutputKind::Device};
std::atomic<int> gOfflineRate{0};

}  // namespace

class SystemImpl;

class SoundImpl final : public Sound {
public:
    const SystemImpl* owner = nullptr;
    SoundData data;
};

class ChannelImpl final : public Channel {
public:
    SystemImpl* owner = nullptr;
    int index = 0;
};

class ChannelGroupImpl final : public ChannelGroup {
public:
    SystemImpl* owner = nullptr;
    int id = 0;
    std::string name;
};

class SystemImpl final : public System {
public:
    static void renderOutput(void* user, float* out, int frames, double now) {
        static_cast<SystemImpl*>(user)->mixer->render(out, frames, now);
    }
    static void restartOutput(void* user) { static_cast<SystemImpl*>(user)->mixer->restartClock(); }

    Result initImpl(int maxChannels, unsigned flags, void* extraDriverData);
    Result createSoundImpl(const char* path, unsigned mode, Sound** sound);
    Result keepSound(std::unique_ptr<SoundImpl> created, Sound** sound);
    Result createGroupImpl(const char* name, ChannelGroup** group);
    Result playImpl(int channelIndex, Sound* sound, bool paused, Channel** channel);
    void stopOutput() {
        if (input) input->stop();
        if (output) output->stop();
    }

    bool initialized = false;
    OutputKind kind = OutputKind::Offline;
    std::unique_ptr<Output> output;  // null on the offline output
    std::unique_ptr<Mixer> mixer;
    std::vector<std::unique_ptr<ChannelImpl>> channels;
    std::vector<std::unique_ptr<ChannelGroupImpl>> groups;
    std::vector<std::unique_ptr<SoundImpl>> sounds;
    double virtualTime = 0.0;  // offline output's clock
    std::atomic<double> offlineDeviceLatency{0.0};
    double nextStartAge = 0.0;  // producer thread only: see stampNextStart
    // Capture: the ring is made by the first startCapture and kept until release, so that a
    // reader never meets it half made or gone; the input writes into it while it runs.
    std::unique_ptr<CaptureRing> captureRing;
    std::atomic<CaptureRing*> captureShown{nullptr};
    CaptureStatus captureStatus;
    std::unique_ptr<Input> input;
};

namespace {
SystemImpl* impl(System* system) { return static_cast<SystemImpl*>(system); }
const SystemImpl* impl(const System* system) { return static_cast<const SystemImpl*>(system); }
}  // namespace

const char* errorString(int result) {
    switch (result) {
    case Ok: return "No errors.";
    case ErrInvalidParam: return "The sound library was called with a value it cannot use.";
    case ErrNotInitialized: return "The sound system is not ready.";
    case ErrFileNotFound: return "Sound file not found.";
    case ErrFileBad: return "The sound file is not a WAV sound that can be played.";
    case ErrOutputInit: return "No sound output could be started.";
    case ErrMemory: return "Not enough memory for the sounds.";
    case ErrResample: return "The sound could not be converted to the output's sample rate.";
    case ErrChannelGroup: return "Unknown or too many sound groups.";
    case ErrFileTruncated: return "The sound file is cut short.";
    case ErrBusy: return "Too many sounds were asked for at once.";
    case ErrInputInit: return "No sound input could be opened for listening.";
    default: return "Unknown error.";
    }
}

Result systemCreate(System** system) {
    if (!system) return ErrInvalidParam;
    *system = new (std::nothrow) SystemImpl;
    return *system ? Ok : ErrMemory;
}

void setDefaultOutput(OutputKind kind) { gDefaultOutput.store(kind); }
void setOfflineSampleRate(int rate) { gOfflineRate.store(rate > 0 ? rate : 0); }
OutputKind defaultOutput() { return gDefaultOutput.load(); }

// ----- System ---------------------------------------------------------------------------

Result SystemImpl::initImpl(int maxChannels, unsigned flags, void* extraDriverData) {
    if (initialized) return ErrNotInitialized;
    if (maxChannels <= 0 || maxChannels > 4096 || flags != InitNormal || extraDriverData) {
        return ErrInvalidParam;
    }
    MixerConfig config;
    config.channels = maxChannels;
    config.groups = kMaxGroups;
    config.sampleRate = kSampleRate;
    config.blockFrames = kBlockFrames;
    try {
        mixer = std::make_unique<Mixer>();
        const RenderTarget target{&SystemImpl::renderOutput, &SystemImpl::restartOutput, this};
        kind = defaultOutput();
        if (kind == OutputKind::Device) {
            output = openDeviceOutput(target, kSampleRate, kBlockFrames);
            if (!output) kind = OutputKind::Silent;
        }
        if (kind == OutputKind::Silent) {
            output = std::make_unique<SilentOutput>(target, kSampleRate, kBlockFrames);
        }
        if (output) {
            config.sampleRate = output->sampleRate();
            config.blockFrames = output->blockFrames();
        }
        config.virtualClock = kind == OutputKind::Offline;
        if (const int rate = gOfflineRate.load(); kind == OutputKind::Offline && rate > 0) {
            config.sampleRate = rate;
        }
        // Three blocks: a request waits up to one block for the next render, and the rest
        // absorbs callback jitter and scheduling stalls without late starts.
        config.latencyFrames = 3 * config.blockFrames;
        if (const Result r = mixer->init(config); r != Ok) return r;
        channels.reserve(maxChannels);
        for (int i = 0; i < maxChannels; ++i) {
            auto channel = std::make_unique<ChannelImpl>();
            channel->owner = this;
            channel->index = i;
            channels.push_back(std::move(channel));
        }
        groups.reserve(kMaxGroups);
    } catch (const std::bad_alloc&) {
        return ErrMemory;
    }
    if (output) {
        if (const Result r = output->start(); r != Ok) return r;
    }
    initialized = true;
    return Ok;
}

Result SystemImpl::createSoundImpl(const char* path, unsigned mode, Sound** sound) {
    if (sound) *sound = nullptr;
    if (!path || !sound || (mode & ~kKnownModeBits) != 0) return ErrInvalidParam;
    if (!initialized) return ErrNotInitialized;
    std::unique_ptr<SoundImpl> created(new (std::nothrow) SoundImpl);
    if (!created) return ErrMemory;
    created->owner = this;
    if (const Result r = decodeSoundFile(path, mixer->config().sampleRate, &created->data); r != Ok) {
        return r;
    }
    return keepSound(std::move(created), sound);
}

Result SystemImpl::keepSound(std::unique_ptr<SoundImpl> created, Sound** sound) {
    try {
        sounds.push_back(std::move(created));
    } catch (const std::bad_alloc&) {
        return ErrMemory;
    }
    *sound = sounds.back().get();
    return Ok;
}

Result SystemImpl::createGroupImpl(const char* name, ChannelGroup** group) {
    if (group) *group = nullptr;
    if (!name || !group) return ErrInvalidParam;
    if (!initialized) return ErrNotInitialized;
    if (static_cast<int>(groups.size()) >= kMaxGroups) return ErrChannelGroup;
    try {
        auto created = std::make_unique<ChannelGroupImpl>();
        created->owner = this;
        created->id = static_cast<int>(groups.size());
        created->name = name;
        mixer->setGroupVolume(created->id, 1.0f);
        groups.push_back(std::move(created));
    } catch (const std::bad_alloc&) {
        return ErrMemory;
    }
    *group = groups.back().get();
    return Ok;
}

Result SystemImpl::playImpl(int channelIndex, Sound* sound, bool paused, Channel** channel) {
    if (!initialized) return ErrNotInitialized;
    if (!sound || !channel || paused) return ErrInvalidParam;
    if (static_cast<SoundImpl*>(sound)->owner != this) return ErrInvalidParam;
    ChannelImpl* target = nullptr;
    if (channelIndex == ChannelReuse) {
        target = static_cast<ChannelImpl*>(*channel);
        if (!target || target->owner != this) return ErrInvalidParam;
    } else if (channelIndex >= 0 && channelIndex < static_cast<int>(channels.size())) {
        target = channels[channelIndex].get();
    } else {
        return ErrInvalidParam;
    }
    const double age = nextStartAge;  // below 0: a start asked for ahead of its time
    nextStartAge = 0.0;
    const double stamp = (kind == OutputKind::Offline ? virtualTime : clockNow()) - age;
    const Result r = mixer->requestPlay(target->index, &static_cast<SoundImpl*>(sound)->data, stamp);
    if (r == Ok) *channel = target;
    return r;
}

Result System::init(int maxChannels, unsigned flags, void* extraDriverData) {
    return impl(this)->initImpl(maxChannels, flags, extraDriverData);
}

Result System::createSound(const char* path, unsigned mode, void* exinfo, Sound** sound) {
    if (exinfo) {
        if (sound) *sound = nullptr;
        return ErrInvalidParam;
    }
    return impl(this)->createSoundImpl(path, mode, sound);
}

Result createSoundFromSamples(System* system, const float* stereo, std::size_t frames, Sound** sound) {
    if (sound) *sound = nullptr;
    if (!system || !stereo || frames == 0 || !sound) return ErrInvalidParam;
    SystemImpl* owner = impl(system);
    if (!owner->initialized) return ErrNotInitialized;
    std::unique_ptr<SoundImpl> created(new (std::nothrow) SoundImpl);
    if (!created) return ErrMemory;
    created->owner = owner;
    try {
        created->data.samples.assign(stereo, stereo + 2 * frames);
    } catch (const std::bad_alloc&) {
        return ErrMemory;
    }
    created->data.frames = frames;
    return owner->keepSound(std::move(created), sound);
}

Result System::createChannelGroup(const char* name, ChannelGroup** group) {
    return impl(this)->createGroupImpl(name, group);
}

Result System::getChannel(int index, Channel** channel) {
    SystemImpl* self = impl(this);
    if (!channel) return ErrInvalidParam;
    *channel = nullptr;
    if (!self->initialized) return ErrNotInitialized;
    if (index < 0 || index >= static_cast<int>(self->channels.size())) return ErrInvalidParam;
    *channel = self->channels[index].get();
    return Ok;
}

Result System::playSound(int channelIndex, Sound* sound, bool paused, Channel** channel) {
    return impl(this)->playImpl(channelIndex, sound, paused, channel);
}

Result System::release() {
    SystemImpl* self = impl(this);
    self->stopOutput();  // no render runs after this, so sounds can go
    delete self;
    return Ok;
}

// ----- Channel, ChannelGroup, Sound -----------------------------------------------------

Result Channel::setChannelGroup(ChannelGroup* group) {
    auto* self = static_cast<ChannelImpl*>(this);
    if (!group) {
        self->owner->mixer->bindChannel(self->index, -1);
        return Ok;
    }
    auto* g = static_cast<ChannelGroupImpl*>(group);
    if (g->owner != self->owner) return ErrChannelGroup;
    self->owner->mixer->bindChannel(self->index, g->id);
    return Ok;
}

Result Channel::getIndex(int* index) const {
    if (!index) return ErrInvalidParam;
    *index = static_cast<const ChannelImpl*>(this)->index;
    return Ok;
}

Result ChannelGroup::setVolume(float volume) {
    auto* self = static_cast<ChannelGroupImpl*>(this);
    if (volume != volume) return ErrInvalidParam;  // NaN
    self->owner->mixer->setGroupVolume(self->id, volume);
    return Ok;
}

Result ChannelGroup::getVolume(float* volume) const {
    if (!volume) return ErrInvalidParam;
    auto* self = static_cast<const ChannelGroupImpl*>(this);
    *volume = self->owner->mixer->groupVolume(self->id);
    return Ok;
}

Result Sound::getLengthFrames(std::size_t* frames) const {
    if (!frames) return ErrInvalidParam;
    *frames = static_cast<const SoundImpl*>(this)->data.frames;
    return Ok;
}

// ----- Output selection and test-facing calls --------------------------------------------

OutputKind outputKind(const System* system) { return impl(system)->kind; }

DeviceStatus deviceStatus(const System* system) {
    const SystemImpl* self = impl(system);
    if (!self->initialized || self->kind != OutputKind::Device) return DeviceStatus{};
    return self->output->status();
}

int outputSampleRate(const System* system) {
    const SystemImpl* self = impl(system);
    return self->mixer ? self->mixer->config().sampleRate : 0;
}

int outputBlockFrames(const System* system) {
    const SystemImpl* self = impl(system);
    return self->mixer ? self->mixer->config().blockFrames : 0;
}

int outputLatencyFrames(const System* system) {
    const SystemImpl* self = impl(system);
    return self->mixer ? self->mixer->config().latencyFrames : 0;
}

double heardDelay(const System* system) {
    const SystemImpl* self = impl(system);
    if (!self->initialized) return 0.0;
    const MixerConfig& config = self->mixer->config();
    const double device = self->output ? self->output->deviceLatency() : self->offlineDeviceLatency.load();
    return static_cast<double>(config.latencyFrames) / config.sampleRate + device;
}

void offlineSetDeviceLatency(System* system, double seconds) { impl(system)->offlineDeviceLatency.store(seconds); }

void stampNextStart(System* system, double secondsAgo) {
    if (system) impl(system)->nextStartAge = secondsAgo;
}

void offlineSetTime(System* system, double seconds) { impl(system)->virtualTime = seconds; }

Result offlineRender(System* system, float* out, std::size_t frames) {
    SystemImpl* self = impl(system);
    if (!self->initialized || self->kind != OutputKind::Offline) return ErrNotInitialized;
    if (!out && frames > 0) return ErrInvalidParam;
    while (frames > 0) {
        const int piece = static_cast<int>(std::min<std::size_t>(frames, 1 << 20));
        self->mixer->render(out, piece, self->virtualTime);
        out += static_cast<std::size_t>(piece) * 2;
        frames -= static_cast<std::size_t>(piece);
    }
    return Ok;
}

Result silentSetCapture(System* system, std::size_t maxFrames) {
    SystemImpl* self = impl(system);
    if (!self->initialized || self->kind != OutputKind::Silent) return ErrNotInitialized;
    return static_cast<SilentOutput*>(self->output.get())->setCapture(maxFrames);
}

std::vector<float> silentTakeCapture(System* system) {
    SystemImpl* self = impl(system);
    if (!self->initialized || self->kind != OutputKind::Silent) return {};
    return static_cast<SilentOutput*>(self->output.get())->takeCapture();
}

void setQuantizeStarts(System* system, bool on) {
    SystemImpl* self = impl(system);
    if (self->mixer) self->mixer->setQuantizeStarts(on);
}

std::size_t lateStarts(const System* system) {
    const SystemImpl* self = impl(system);
    return self->mixer ? self->mixer->lateStarts() : 0;
}

// ----- Capture ---------------------------------------------------------------------------

Result startCapture(System* system) {
    if (!system) return ErrInvalidParam;
    SystemImpl* self = impl(system);
    if (!self->initialized) return ErrNotInitialized;
    if (self->kind == OutputKind::Silent) return ErrInputInit;
    if (self->input && self->captureStatus.capturing.load()) return Ok;
    const int rate = self->mixer->config().sampleRate;
    if (!self->captureRing) {
        try {
            self->captureRing = std::make_unique<CaptureRing>(rate, static_cast<std::size_t>(kCaptureRingSeconds * rate));
        } catch (const std::bad_alloc&) {
            return ErrMemory;
        }
        self->captureShown.store(self->captureRing.get(), std::memory_order_release);
    }
    if (self->kind == OutputKind::Offline) return Ok;
    self->input.reset();  // one that lost its device
    // Whatever the ring holds ends before the new input's first frame.
    self->captureRing->lose();
    self->input = openDeviceInput(CaptureTarget{self->captureRing.get(), &self->captureStatus, rate});
    if (!self->input) return ErrInputInit;
    if (const Result r = self->input->start(); r != Ok) {
        self->input.reset();
        return r;
    }
    return Ok;
}

Result stopCapture(System* system) {
    if (!system) return ErrInvalidParam;
    impl(system)->input.reset();
    return Ok;
}

std::size_t readCapture(System* system, float* out, std::size_t maxFrames, double* firstFrameTime, bool* gap) {
    if (gap) *gap = false;
    if (firstFrameTime) *firstFrameTime = 0.0;
    if (!system) return 0;
    CaptureRing* ring = impl(system)->captureShown.load(std::memory_order_acquire);
    return ring ? ring->read(out, maxFrames, firstFrameTime, gap) : 0;
}

CaptureInfo captureInfo(const System* system) {
    CaptureInfo info;
    if (!system) return info;
    const SystemImpl* self = impl(system);
    const CaptureRing* ring = self->captureShown.load(std::memory_order_acquire);
    if (!ring) return info;
    info.rate = ring->rate();
    info.device = self->captureStatus.capturing.load();
    info.latency = self->captureStatus.latency.load(std::memory_order_relaxed);
    return info;
}

Result offlineFeedCapture(System* system, const float* mono, std::size_t frames, double time) {
    if (!system || (!mono && frames > 0)) return ErrInvalidParam;
    SystemImpl* self = impl(system);
    if (!self->initialized || self->kind != OutputKind::Offline || !self->captureRing) return ErrNotInitialized;
    self->captureRing->write(mono, frames, time);
    return Ok;
}

}  // namespace audio
