// The sound device on Windows through waveOut (winmm): float stereo, a ring of buffers of
// one mixer block each, refilled in ring order by a thread woken by the driver's event.
//
// The ring is deep (about 120 ms): a system's scheduling, and a sound server behind the
// driver (Wine's PulseAudio driver, for one), can hold the refill thread off for tens of
// milliseconds, and a shallow ring then runs dry and drops out. Depth costs latency, not
// timing: the mixer places stamped starts by the times at which blocks are asked for, which
// stay one block apart however deep the ring is.
//
// A device that goes away (unplugged, its driver gone: waveOutWrite fails, or no buffer
// comes back for a second) is closed; the thread keeps the mix going on the steady clock
// (device_gap.h) and opens the default device again with a back-off, starting the ring anew.
//
// Windows Vista and later play waveOut through the same engine as WASAPI, which
// openDeviceOutput (output_wasapi.cpp) tries first; this output is the fallback where WASAPI
// cannot start.
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "clock.h"
#include "device_gap.h"
#include "output.h"

namespace audio {

namespace {

constexpr double kQueueSeconds = 0.12;  // audio queued ahead of the device
constexpr int kMaxBuffers = 64;
// Blocks of at least 512 frames (10.7 ms at 48 kHz). The mixer places stamped starts three
// blocks after their stamp; Windows wakes waiting threads on a timer of up to 15.6 ms, so
// with shorter blocks a playback thread woken late would miss its start's frame.
constexpr int kMinBlockFrames = 512;
constexpr DWORD kStalledMs = 1000;  // no buffer back for this long: the device is gone

class WaveOutOutput final : public Output {
public:
    WaveOutOutput(RenderTarget target, int rate, int blockFrames)
        : target_(target),
          rate_(rate),
          blockFrames_(blockFrames < kMinBlockFrames ? kMinBlockFrames : blockFrames),
          gap_(target, rate, blockFrames_) {}
    ~WaveOutOutput() override { stop(); }

    bool open() {
        if (waveOutGetNumDevs() == 0) return false;
        event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!event_) return false;
        buffers_ = static_cast<int>(kQueueSeconds * rate_ / blockFrames_ + 0.5);
        if (buffers_ < 2) buffers_ = 2;
        if (buffers_ > kMaxBuffers) buffers_ = kMaxBuffers;
        memory_.assign(static_cast<std::size_t>(buffers_) * blockFrames_ * 2, 0.0f);
        return openDevice();
    }

    int sampleRate() const override { return rate_; }
    int blockFrames() const override { return blockFrames_; }
    DeviceStatus status() const override { return health_.status(); }
    double deviceLatency() const override { return latency_.load(std::memory_order_relaxed); }

    Result start() override {
        if (!device_) return ErrOutputInit;
        if (running_.load()) return Ok;
        if (!fillRing()) return ErrOutputInit;
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
        if (device_) reportLatency();
        closeDevice();
        if (event_) {
            CloseHandle(event_);
            event_ = nullptr;
        }
    }

private:
    // Opens the default device with the ring's headers prepared; false (and no device) when
    // it cannot.
    bool openDevice() {
        WAVEFORMATEX format{};
        format.wFormatTag = 3;  // WAVE_FORMAT_IEEE_FLOAT (mmreg.h)
        format.nChannels = 2;
        format.nSamplesPerSec = static_cast<DWORD>(rate_);
        format.wBitsPerSample = 32;
        format.nBlockAlign = 2 * sizeof(float);
        format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
        if (waveOutOpen(&device_, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(event_), 0,
                        CALLBACK_EVENT) != MMSYSERR_NOERROR) {
            device_ = nullptr;
            return false;
        }
        for (int i = 0; i < buffers_; ++i) {
            WAVEHDR& header = headers_[i];
            header = WAVEHDR{};
            header.lpData = reinterpret_cast<LPSTR>(memory_.data() + static_cast<std::size_t>(i) * blockFrames_ * 2);
            header.dwBufferLength = static_cast<DWORD>(blockFrames_ * 2 * sizeof(float));
            if (waveOutPrepareHeader(device_, &header, sizeof header) != MMSYSERR_NOERROR) {
                closeDevice();
                return false;
            }
        }
        return true;
    }

    void closeDevice() {
        if (!device_) return;
        waveOutReset(device_);
        for (int i = 0; i < buffers_; ++i) {
            WAVEHDR& header = headers_[i];
            if (header.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device_, &header, sizeof header);
        }
        waveOutClose(device_);
        device_ = nullptr;
    }

    // The ring starts full of silence, so that from the first block on the mixer is asked
    // for one block each time the device has played one: evenly spaced requests, which its
    // clock needs to map times to frames.
    bool fillRing() {
        std::fill(memory_.begin(), memory_.end(), 0.0f);
        for (int i = 0; i < buffers_; ++i) {
            if (waveOutWrite(device_, &headers_[i], sizeof headers_[i]) != MMSYSERR_NOERROR) return false;
        }
        written_.store(static_cast<std::int64_t>(buffers_) * blockFrames_);
        next_ = 0;
        return true;
    }

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

    // The time until the next block written is heard: the ring's buffers still queued, made
    // exact within the one the device is playing by its position where the position falls
    // inside that buffer (Wine's driver counts a buffer played once it has passed it on, which
    // puts its position far ahead). Smoothed, since each figure is read at a wake that comes
    // anywhere within a block.
    void measureLatency() {
        std::int64_t queued = 0;
        for (int i = 0; i < buffers_; ++i) {
            if (!(static_cast<volatile DWORD&>(headers_[i].dwFlags) & WHDR_DONE)) queued += blockFrames_;
        }
        MMTIME position{};
        position.wType = TIME_SAMPLES;
        std::int64_t ahead = queued - blockFrames_ / 2;
        if (waveOutGetPosition(device_, &position, sizeof position) == MMSYSERR_NOERROR &&
            position.wType == TIME_SAMPLES) {
            // The position is 32 bits wide and wraps; what is queued is far less.
            const auto byPosition = static_cast<DWORD>(static_cast<DWORD>(written_.load()) - position.u.sample);
            if (byPosition + blockFrames_ >= queued && byPosition <= queued) ahead = byPosition;
        }
        const double latency = static_cast<double>(ahead) / rate_;
        const double last = latency_.load(std::memory_order_relaxed);
        latency_.store(last == 0.0 ? latency : last + 0.05 * (latency - last), std::memory_order_relaxed);
    }

    void run() {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        DWORD lastBack = GetTickCount();
        while (running_.load(std::memory_order_relaxed)) {
            if (!device_) {
                reopen();
                lastBack = GetTickCount();
                continue;
            }
            // The device hands buffers back in the order they were written; refill them in
            // that order, so that the mixer's consecutive blocks play consecutively.
            bool failed = false;
            for (int refilled = 0; refilled < buffers_; ++refilled) {
                WAVEHDR& header = headers_[next_];
                const DWORD flags = static_cast<volatile DWORD&>(header.dwFlags);
                if (!(flags & WHDR_DONE)) break;
                if (refilled == 0) measureLatency();
                header.dwFlags = flags & ~static_cast<DWORD>(WHDR_DONE);
                target_.render(target_.user, reinterpret_cast<float*>(header.lpData), blockFrames_, clockNow());
                if (waveOutWrite(device_, &header, sizeof header) != MMSYSERR_NOERROR) {
                    failed = true;  // MMSYSERR_NODRIVER, MMSYSERR_BADDEVICEID and the like
                    break;
                }
                written_.fetch_add(blockFrames_, std::memory_order_relaxed);
                next_ = (next_ + 1) % buffers_;
                lastBack = GetTickCount();
            }
            if (failed || GetTickCount() - lastBack > kStalledMs) {
                closeDevice();
                health_.lost();
                gap_.begin(steadySeconds());
                continue;
            }
            WaitForSingleObject(event_, 100);
        }
    }

    // One turn without a device: the blocks due, and a new device when a try is due.
    void reopen() {
        const double now = steadySeconds();
        const double wake = gap_.renderDue(now);
        if (now >= gap_.nextTry()) {
            if (openDevice() && fillRing()) {
                if (target_.restart) target_.restart(target_.user);
                latency_.store(0.0, std::memory_order_relaxed);
                health_.restored();
                return;
            }
            closeDevice();
            gap_.tried(now);
        }
        const double until = wake < gap_.nextTry() ? wake : gap_.nextTry();
        const double seconds = until - steadySeconds();
        WaitForSingleObject(event_, seconds > 0 ? static_cast<DWORD>(seconds * 1000) + 1 : 0);
    }

    RenderTarget target_;
    int rate_;
    int blockFrames_;
    HWAVEOUT device_ = nullptr;  // the thread's while it runs
    HANDLE event_ = nullptr;
    WAVEHDR headers_[kMaxBuffers] = {};
    int buffers_ = 0;
    int next_ = 0;  // the buffer the device hands back next (render thread)
    std::vector<float> memory_;
    DeviceGap gap_;
    DeviceHealth health_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    bool timerPeriodSet_ = false;
    std::atomic<std::int64_t> written_{0};  // frames handed to the device
    std::atomic<double> latency_{0.0};
};

}  // namespace

std::unique_ptr<Output> openWaveOutOutput(RenderTarget target, int rate, int blockFrames) {
    auto output = std::make_unique<WaveOutOutput>(target, rate, blockFrames);
    if (!output->open()) return nullptr;
    return output;
}

}  // namespace audio
