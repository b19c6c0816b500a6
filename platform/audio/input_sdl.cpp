// The default input through SDL2's capture device, where the output runs on SDL (an SDL driver
// chosen by SDL_AUDIODRIVER, or no sound server), and the choice of device input on Linux.
//
// SDL hands over a buffer once it is full and tells nothing of its device's timing, so each
// buffer is dated as just filled: its first frame reached the input one buffer before the
// callback (smoothed, capture_stamp.h). A device's own latency beyond that goes unseen, as on
// SDL's output. SDL opens mono float at the mixer's rate and converts.
//
// A device that goes away stops SDL's device; the callback, which SDL then goes on calling
// with silence, sees it and writes no more.
#include <SDL.h>

#include <atomic>
#include <cstdlib>
#include <memory>

#include "capture.h"
#include "capture_stamp.h"
#include "clock.h"

namespace audio {

namespace {

constexpr int kBufferFrames = 512;  // about 11 ms at 48 kHz

class SdlInput final : public Input {
public:
    explicit SdlInput(CaptureTarget target) : ring_(target.ring), status_(target.status), rate_(target.rate), stamp_(target.rate) {}
    ~SdlInput() override { stop(); }

    bool open() {
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        subsystem_ = true;
        if (SDL_GetNumAudioDevices(1) <= 0) return false;
        SDL_AudioSpec want{};
        want.freq = rate_;
        want.format = AUDIO_F32SYS;
        want.channels = 1;
        want.samples = kBufferFrames;
        want.callback = &SdlInput::captured;
        want.userdata = this;
        SDL_AudioSpec have{};
        device_ = SDL_OpenAudioDevice(nullptr, 1, &want, &have, 0);
        return device_ != 0;
    }

    Result start() override {
        if (device_ == 0) return ErrInputInit;
        status_->capturing.store(true);
        SDL_PauseAudioDevice(device_, 0);
        return Ok;
    }

    void stop() override {
        if (device_ != 0) {
            SDL_CloseAudioDevice(device_);  // waits for the callback to return
            device_ = 0;
        }
        if (subsystem_) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            subsystem_ = false;
        }
        status_->capturing.store(false);
    }

private:
    static void SDLCALL captured(void* user, Uint8* stream, int bytes) {
        auto* self = static_cast<SdlInput*>(user);
        const double now = clockNow();
        if (SDL_GetAudioDeviceStatus(self->device_) != SDL_AUDIO_PLAYING) {
            self->status_->capturing.store(false);
            return;
        }
        const auto frames = static_cast<std::size_t>(bytes) / sizeof(float);
        const double first = now - static_cast<double>(frames) / self->rate_;
        self->ring_->write(reinterpret_cast<const float*>(stream), frames, self->stamp_.stamp(first, frames));
    }

    CaptureRing* ring_;
    CaptureStatus* status_;  // its latency stays 0: each buffer is dated as just filled
    int rate_;
    CaptureStamp stamp_;  // SDL's thread
    SDL_AudioDeviceID device_ = 0;
    bool subsystem_ = false;
};

}  // namespace

std::unique_ptr<Input> openSdlInput(CaptureTarget target) {
    auto input = std::make_unique<SdlInput>(target);
    if (!input->open()) return nullptr;
    return input;
}

std::unique_ptr<Input> openDeviceInput(CaptureTarget target) {
    // As the output chooses: an SDL driver the user chose is taken as asked; otherwise a
    // sound server, if one runs.
    if (!std::getenv("SDL_AUDIODRIVER")) {
        if (auto server = openPulseInput(target)) return server;
    }
    return openSdlInput(target);
}

}  // namespace audio
