// The sound device through SDL2's audio subsystem (SDL's audio only: no video, no events),
// and the choice of device output on Linux: a sound server first, SDL otherwise.
//
// A device that goes away (unplugged, its driver or server gone) stops SDL's device: SDL then
// goes on calling back on a timer of its own. A watcher thread looks at the device's state
// four times a second; when SDL reports it stopped, the watcher closes it, keeps the mix going
// on the steady clock (device_gap.h) and opens the default device again with a back-off, at
// the rate the mixer runs at (SDL converts).
//
// SDL tells nothing of its device's timing, so the device latency reported is the buffer it
// opened: SDL asks for the next buffer while the one before it plays (its pulse driver asks
// the server for exactly that much), so a frame is heard about one buffer after it is asked
// for. A sink's own latency beyond that goes unseen.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "clock.h"
#include "device_gap.h"
#include "output.h"

namespace audio {

namespace {

constexpr int kSdlBufferFrames = 1024;
constexpr auto kWatchPeriod = std::chrono::milliseconds(250);

class SdlOutput final : public Output {
public:
    SdlOutput(RenderTarget target, int blockFrames) : target_(target), gap_(target, 48000, blockFrames) {}
    ~SdlOutput() override { stop(); }

    bool open(int rate, int blockFrames, bool fixedRate) {
        // SDL's own signal handlers would only queue a quit event nobody reads, and so keep
        // SIGINT and SIGTERM from ending the program: the window system handles them.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        subsystem_ = true;
        // The dummy driver is no device: it only sleeps, and runs fast against the clock.
        const char* driver = SDL_GetCurrentAudioDriver();
        if (!driver || std::strcmp(driver, "dummy") == 0) return false;
        rate_ = rate;
        // SDL refills a whole buffer at a time, so it gets about 21 ms to ride out scheduling;
        // a mixer that already runs at its blocks gets two of them, within its latency of three.
        blockFrames_ = fixedRate ? 2 * blockFrames : std::max(blockFrames, kSdlBufferFrames);
        SDL_AudioSpec have{};
        if (!openDevice(!fixedRate, &have)) return false;
        if (!fixedRate && have.freq != 44100 && have.freq != 48000) {
            // Only 44.1 and 48 kHz are mixed; let SDL convert anything else.
            SDL_CloseAudioDevice(device_);
            if (!openDevice(false, &have)) return false;
        }
        if (!fixedRate) {
            rate_ = have.freq;
            if (have.samples > 0) blockFrames_ = have.samples;
        }
        gap_ = DeviceGap(target_, rate_, blockFrames_);
        return true;
    }

    int sampleRate() const override { return rate_; }
    int blockFrames() const override { return blockFrames_; }
    DeviceStatus status() const override { return health_.status(); }
    double deviceLatency() const override { return latency_.load(std::memory_order_relaxed); }

    Result start() override {
        if (device_ == 0) return ErrOutputInit;
        if (watcher_.joinable()) return Ok;
        SDL_PauseAudioDevice(device_, 0);
        try {
            watcher_ = std::thread([this] { watch(); });
        } catch (...) {
            return ErrOutputInit;  // plays on; a lost device then stays lost
        }
        return Ok;
    }

    void stop() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (watcher_.joinable()) watcher_.join();
        if (device_ != 0) {
            SDL_CloseAudioDevice(device_);  // waits for the callback to return
            device_ = 0;
        }
        if (subsystem_) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            subsystem_ = false;
        }
    }

private:
    static void SDLCALL callback(void* user, Uint8* stream, int bytes) {
        auto* self = static_cast<SdlOutput*>(user);
        const double now = clockNow();
        const int frames = bytes / static_cast<int>(2 * sizeof(float));
        self->target_.render(self->target_.user, reinterpret_cast<float*>(stream), frames, now);
    }

    // The default device, paused, asked for rate_ and blockFrames_; rateFree lets it choose
    // its own rate. *have receives what it chose.
    bool openDevice(bool rateFree, SDL_AudioSpec* have) {
        // Asking first keeps drivers without any device from printing to stderr on open.
        if (SDL_GetNumAudioDevices(0) <= 0) return false;
        SDL_AudioSpec want{};
        want.freq = rate_;
        want.format = AUDIO_F32SYS;
        want.channels = 2;
        want.samples = static_cast<Uint16>(blockFrames_);
        want.callback = &SdlOutput::callback;
        want.userdata = this;
        const int allow = SDL_AUDIO_ALLOW_SAMPLES_CHANGE | (rateFree ? SDL_AUDIO_ALLOW_FREQUENCY_CHANGE : 0);
        device_ = SDL_OpenAudioDevice(nullptr, 0, &want, have, allow);
        if (device_ != 0 && have->freq > 0)
            latency_.store(static_cast<double>(have->samples) / have->freq, std::memory_order_relaxed);
        return device_ != 0;
    }

    // Sleeps for up to until (steady seconds); false once stop() asks.
    bool sleepUntil(double until) {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto seconds = std::chrono::duration<double>(std::max(0.0, until - steadySeconds()));
        wake_.wait_for(lock, seconds, [this] { return stopping_; });
        return !stopping_;
    }

    void watch() {
        watchDevice();
        releaseSdlThreadState();
    }

    void watchDevice() {
        while (sleepUntil(steadySeconds() + std::chrono::duration<double>(kWatchPeriod).count())) {
            if (SDL_GetAudioDeviceStatus(device_) != SDL_AUDIO_STOPPED) continue;
            SDL_CloseAudioDevice(device_);  // SDL's thread ends: from here this one renders
            device_ = 0;
            health_.lost();
            double now = steadySeconds();
            gap_.begin(now);
            double wake = gap_.renderDue(now);
            while (sleepUntil(std::min(wake, gap_.nextTry()))) {
                now = steadySeconds();
                if (now >= gap_.nextTry()) {
                    SDL_AudioSpec have{};
                    if (openDevice(false, &have)) {
                        if (target_.restart) target_.restart(target_.user);
                        health_.restored();
                        SDL_PauseAudioDevice(device_, 0);
                        break;
                    }
                    gap_.tried(steadySeconds());
                }
                wake = gap_.renderDue(steadySeconds());
            }
        }
    }

    RenderTarget target_;
    SDL_AudioDeviceID device_ = 0;  // the watcher's once started; the main thread's after
    bool subsystem_ = false;
    int rate_ = 0;
    int blockFrames_ = 0;
    DeviceGap gap_;
    DeviceHealth health_;
    std::thread watcher_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::atomic<double> latency_{0.0};  // the buffer of the device last opened; read by any thread
};

}  // namespace

void releaseSdlThreadState() { SDL_TLSCleanup(); }

std::unique_ptr<Output> openSdlOutput(RenderTarget target, int rate, int blockFrames, bool fixedRate) {
    auto output = std::make_unique<SdlOutput>(target, blockFrames);
    if (!output->open(rate, blockFrames, fixedRate)) return nullptr;
    return output;
}

std::unique_ptr<Output> openDeviceOutput(RenderTarget target, int rate, int blockFrames) {
    // An SDL driver the user chose is taken as asked; otherwise a sound server, if one runs.
    if (!std::getenv("SDL_AUDIODRIVER")) {
        if (auto server = openPulseOutput(target, rate, blockFrames)) return server;
    }
    return openSdlOutput(target, rate, blockFrames, false);
}

}  // namespace audio
