// The sound device through SDL2's audio subsystem (SDL's audio only: no video, no events),
// and the choice of device output on Linux: a sound server first, SDL otherwise.
#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "clock.h"
#include "output.h"

namespace audio {

namespace {

constexpr int kSdlBufferFrames = 1024;

class SdlOutput final : public Output {
public:
    explicit SdlOutput(RenderTarget target) : target_(target) {}
    ~SdlOutput() override { close(); }

    bool open(int rate, int blockFrames) {
        // SDL's own signal handlers would only queue a quit event nobody reads, and so keep
        // SIGINT and SIGTERM from ending the program: the window system handles them.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        subsystem_ = true;
        // The dummy driver is no device: it only sleeps, and runs fast against the clock.
        const char* driver = SDL_GetCurrentAudioDriver();
        if (!driver || std::strcmp(driver, "dummy") == 0) return false;
        // Asking first keeps drivers without any device from printing to stderr on open.
        if (SDL_GetNumAudioDevices(0) <= 0) return false;
        SDL_AudioSpec want{};
        want.freq = rate;
        want.format = AUDIO_F32SYS;
        want.channels = 2;
        // SDL refills a whole buffer at a time, so it gets about 21 ms to ride out scheduling.
        want.samples = static_cast<Uint16>(std::max(blockFrames, kSdlBufferFrames));
        want.callback = &SdlOutput::callback;
        want.userdata = this;
        SDL_AudioSpec have{};
        device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have,
                                      SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
        if (device_ == 0) return false;
        if (have.freq != 44100 && have.freq != 48000) {
            // Only 44.1 and 48 kHz are mixed; let SDL convert anything else.
            SDL_CloseAudioDevice(device_);
            device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
            if (device_ == 0) return false;
        }
        rate_ = have.freq;
        blockFrames_ = have.samples > 0 ? have.samples : blockFrames;
        return true;
    }

    int sampleRate() const override { return rate_; }
    int blockFrames() const override { return blockFrames_; }

    Result start() override {
        if (device_ == 0) return ErrOutputInit;
        SDL_PauseAudioDevice(device_, 0);
        return Ok;
    }

    void stop() override { close(); }

private:
    static void SDLCALL callback(void* user, Uint8* stream, int bytes) {
        auto* self = static_cast<SdlOutput*>(user);
        const double now = clockNow();
        const int frames = bytes / static_cast<int>(2 * sizeof(float));
        self->target_.render(self->target_.user, reinterpret_cast<float*>(stream), frames, now);
    }

    void close() {
        if (device_ != 0) {
            SDL_CloseAudioDevice(device_);  // waits for the callback to return
            device_ = 0;
        }
        if (subsystem_) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            subsystem_ = false;
        }
    }

    RenderTarget target_;
    SDL_AudioDeviceID device_ = 0;
    bool subsystem_ = false;
    int rate_ = 0;
    int blockFrames_ = 0;
};

}  // namespace

std::unique_ptr<Output> openDeviceOutput(RenderTarget target, int rate, int blockFrames) {
    // An SDL driver the user chose is taken as asked; otherwise a sound server, if one runs.
    if (!std::getenv("SDL_AUDIODRIVER")) {
        if (auto server = openPulseOutput(target, rate, blockFrames)) return server;
    }
    auto output = std::make_unique<SdlOutput>(target);
    if (!output->open(rate, blockFrames)) return nullptr;
    return output;
}

}  // namespace audio
