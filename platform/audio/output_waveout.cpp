// The sound device on Windows through waveOut (winmm): float stereo, a ring of buffers of
// one mixer block each, refilled in ring order by a thread woken by the driver's event.
//
// The ring is deep (about 120 ms): a system's scheduling, and a sound server behind the
// driver (Wine's PulseAudio driver, for one), can hold the refill thread off for tens of
// milliseconds, and a shallow ring then runs dry and drops out. Depth costs latency, not
// timing: the mixer places stamped starts by the times at which blocks are asked for, which
// stay one block apart however deep the ring is.
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "clock.h"
#include "output.h"

namespace audio {

namespace {

constexpr double kQueueSeconds = 0.12;  // audio queued ahead of the device
constexpr int kMaxBuffers = 64;
// Blocks of at least 512 frames (10.7 ms at 48 kHz). The mixer places stamped starts three
// blocks after their stamp; Windows wakes waiting threads on a timer of up to 15.6 ms, so
// with shorter blocks a playback thread woken late would miss its start's frame.
constexpr int kMinBlockFrames = 512;

class WaveOutOutput final : public Output {
public:
    explicit WaveOutOutput(RenderTarget target) : target_(target) {}
    ~WaveOutOutput() override { stop(); }

    bool open(int rate, int blockFrames) {
        if (waveOutGetNumDevs() == 0) return false;
        WAVEFORMATEX format{};
        format.wFormatTag = 3;  // WAVE_FORMAT_IEEE_FLOAT (mmreg.h)
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
        blockFrames_ = blockFrames < kMinBlockFrames ? kMinBlockFrames : blockFrames;
        buffers_ = static_cast<int>(kQueueSeconds * rate / blockFrames_ + 0.5);
        if (buffers_ < 2) buffers_ = 2;
        if (buffers_ > kMaxBuffers) buffers_ = kMaxBuffers;
        memory_.assign(static_cast<std::size_t>(buffers_) * blockFrames_ * 2, 0.0f);
        for (int i = 0; i < buffers_; ++i) {
            WAVEHDR& header = headers_[i];
            header = WAVEHDR{};
            header.lpData = reinterpret_cast<LPSTR>(memory_.data() + static_cast<std::size_t>(i) * blockFrames_ * 2);
            header.dwBufferLength = static_cast<DWORD>(blockFrames_ * 2 * sizeof(float));
            if (waveOutPrepareHeader(device_, &header, sizeof header) != MMSYSERR_NOERROR) return false;
        }
        return true;
    }

    int sampleRate() const override { return rate_; }
    int blockFrames() const override { return blockFrames_; }

    Result start() override {
        if (!device_) return ErrOutputInit;
        if (running_.load()) return Ok;
        // The ring starts full of silence, so that from the first block on the mixer is asked
        // for one block each time the device has played one: evenly spaced requests, which
        // its clock needs to map times to frames.
        for (int i = 0; i < buffers_; ++i) {
            if (waveOutWrite(device_, &headers_[i], sizeof headers_[i]) != MMSYSERR_NOERROR) {
                return ErrOutputInit;
            }
        }
        written_.store(static_cast<std::int64_t>(buffers_) * blockFrames_);
        next_ = 0;
        // While sound plays, timed waits (the playback thread's among them) end within a
        // millisecond of their time instead of on the system's coarse timer.
        timerPeriodSet_ = timeBeginPeriod(1) == TIMERR_NOERROR;
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
        if (timerPeriodSet_) {
            timeEndPeriod(1);
            timerPeriodSet_ = false;
        }
        if (device_) {
            reportLatency();
            waveOutReset(device_);
            for (int i = 0; i < buffers_; ++i) {
                WAVEHDR& header = headers_[i];
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
    // Blocks still to be played when the output stops, as measured by the device's own
    // position: the output's latency beyond the mixer's. Written to the debugger's output
    // (Wine shows it with WINEDEBUG=+debugstr); users see nothing.
    void reportLatency() {
        MMTIME position{};
        position.wType = TIME_SAMPLES;
        if (waveOutGetPosition(device_, &position, sizeof position) != MMSYSERR_NOERROR ||
            position.wType != TIME_SAMPLES) {
            return;
        }
        if (written_.load() == 0) return;
        const std::int64_t queued = written_.load() - static_cast<std::int64_t>(position.u.sample);
        char line[160];
        std::snprintf(line, sizeof line,
                      "tabladex waveOut: %d buffers of %d frames at %d Hz; %lld frames (%.1f ms) "
                      "queued ahead of the device\n",
                      buffers_, blockFrames_, rate_, static_cast<long long>(queued),
                      1000.0 * static_cast<double>(queued) / rate_);
        OutputDebugStringA(line);
    }

    void run() {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        while (running_.load(std::memory_order_relaxed)) {
            // The device hands buffers back in the order they were written; refill them in
            // that order, so that the mixer's consecutive blocks play consecutively.
            for (int refilled = 0; refilled < buffers_; ++refilled) {
                WAVEHDR& header = headers_[next_];
                const DWORD flags = static_cast<volatile DWORD&>(header.dwFlags);
                if (!(flags & WHDR_DONE)) break;
                header.dwFlags = flags & ~static_cast<DWORD>(WHDR_DONE);
                target_.render(target_.user, reinterpret_cast<float*>(header.lpData), blockFrames_, clockNow());
                waveOutWrite(device_, &header, sizeof header);
                written_.fetch_add(blockFrames_, std::memory_order_relaxed);
                next_ = (next_ + 1) % buffers_;
            }
            WaitForSingleObject(event_, 100);
        }
    }

    RenderTarget target_;
    HWAVEOUT device_ = nullptr;
    HANDLE event_ = nullptr;
    WAVEHDR headers_[kMaxBuffers] = {};
    int buffers_ = 0;
    int next_ = 0;  // the buffer the device hands back next (render thread)
    std::vector<float> memory_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    bool timerPeriodSet_ = false;
    std::atomic<std::int64_t> written_{0};  // frames handed to the device
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
