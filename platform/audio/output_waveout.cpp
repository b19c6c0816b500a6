// The sound device on Windows through waveOut (winmm): float stereo, a ring of buffers of
// one block each, refilled by a thread woken by the driver's event.
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <thread>
#include <vector>

#include "clock.h"
#include "output.h"

namespace audio {

namespace {

constexpr int kBuffers = 6;  // queued blocks: enough to ride out scheduling, short for latency

class WaveOutOutput final : public Output {
public:
    explicit WaveOutOutput(RenderTarget target) : target_(target) {}
    ~WaveOutOutput() override { stop(); }

    bool open(int rate, int blockFrames) {
        if (waveOutGetNumDevs() == 0) return false;
        WAVEFORMATEX format{};
        format.wFormatTag = 3;  // IEEE float
        format.nChannels = 2;
        format.nSamplesPerSec = static_cast<DWORD>(rate);
        format.wBitsPerSample = 32;
        format.nBlockAlign = 2 * sizeof(float);
        format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
        event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!event_) return false;
        if (waveOutOpen(&device_, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(event_), 0,
                        CALLBACK_EVENT) != MMSYSERR_NOERROR) {
            device_ = nullptr;
            return false;
        }
        rate_ = rate;
        blockFrames_ = blockFrames;
        memory_.assign(static_cast<std::size_t>(kBuffers) * blockFrames * 2, 0.0f);
        for (int i = 0; i < kBuffers; ++i) {
            WAVEHDR& header = headers_[i];
            header = WAVEHDR{};
            header.lpData = reinterpret_cast<LPSTR>(memory_.data() + static_cast<std::size_t>(i) * blockFrames * 2);
            header.dwBufferLength = static_cast<DWORD>(blockFrames * 2 * sizeof(float));
            if (waveOutPrepareHeader(device_, &header, sizeof header) != MMSYSERR_NOERROR) return false;
            header.dwFlags |= WHDR_DONE;  // free to fill
        }
        return true;
    }

    int sampleRate() const override { return rate_; }
    int blockFrames() const override { return blockFrames_; }

    Result start() override {
        if (!device_) return ErrOutputInit;
        if (running_.load()) return Ok;
        running_.store(true);
        try {
            thread_ = std::thread([this] { run(); });
        } catch (...) {
            running_.store(false);
            return ErrOutputInit;
        }
        return Ok;
    }

    void stop() override {
        running_.store(false);
        if (event_) SetEvent(event_);
        if (thread_.joinable()) thread_.join();
        if (device_) {
            waveOutReset(device_);
            for (WAVEHDR& header : headers_) {
                if (header.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device_, &header, sizeof header);
            }
            waveOutClose(device_);
            device_ = nullptr;
        }
        if (event_) {
            CloseHandle(event_);
            event_ = nullptr;
        }
    }

private:
    void run() {
        while (running_.load(std::memory_order_relaxed)) {
            for (WAVEHDR& header : headers_) {
                if (!(header.dwFlags & WHDR_DONE)) continue;
                header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
                target_.render(target_.user, reinterpret_cast<float*>(header.lpData), blockFrames_, clockNow());
                waveOutWrite(device_, &header, sizeof header);
            }
            WaitForSingleObject(event_, 100);
        }
    }

    RenderTarget target_;
    HWAVEOUT device_ = nullptr;
    HANDLE event_ = nullptr;
    WAVEHDR headers_[kBuffers] = {};
    std::vector<float> memory_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    int rate_ = 0;
    int blockFrames_ = 0;
};

}  // namespace

std::unique_ptr<Output> openDeviceOutput(RenderTarget target, int rate, int blockFrames) {
    auto output = std::make_unique<WaveOutOutput>(target);
    if (!output->open(rate, blockFrames)) return nullptr;
    return output;
}

}  // namespace audio
