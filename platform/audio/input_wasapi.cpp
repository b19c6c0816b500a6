// The default input on Windows through WASAPI, whichever output plays: the default capture
// endpoint in shared mode, event driven, on a thread of the input's own whose multithreaded
// apartment holds every COM object of it (as the WASAPI output's does).
//
// The endpoint is asked for mono float at the mixer's rate, converted by the engine
// (AUTOCONVERTPCM); an engine that will not convert (before Windows 7's shared-mode flags) is
// taken at its own mix format when that is float at the mixer's rate, and its channels are
// averaged here into a buffer made when it opens.
//
// Dating the frames: each packet comes with the performance counter's reading at the moment
// its first frame reached the endpoint (GetBuffer's QPC position). The difference from the
// counter now, taken off the play clock now, puts the packet on the play clock, whatever
// clock that is (smoothed, capture_stamp.h). A packet is handed over only once its last frame
// is in, so a reading less than the packet's length ago cannot be its first frame's: such an
// engine (Wine's, which reads the counter when it takes the packet from the sound server)
// dates the packet's end, and the first frame is taken one packet length before it.
// Such readings are late by however long the packet waited to be taken (on Wine up to a
// timer tick, more when the sound server hands over several packets at once), while no
// reading is early: the frames follow one another at the rate, so each packet's reading less
// its frames since the start bounds the start's time from above, and the lowest bound over
// the last second or two (the packets taken soonest) dates them all. The latency reported is
// how long before now the packet's last frame came in, so dated. Packets flagged as following
// a discontinuity (a glitch of the engine) come out after a gap; silent packets are written
// as silence.
//
// A device that goes away (a failed call, or no packet for a second) is released and the input
// says it no longer captures; it is not opened again (startCapture opens a new one).
#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <mmreg.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "capture.h"
#include "capture_stamp.h"
#include "clock.h"

namespace audio {

namespace {

constexpr REFERENCE_TIME kHundredNsPerSecond = 10000000;
constexpr double kBufferSeconds = 0.1;  // the engine's buffer; packets come every 10 ms
constexpr DWORD kStalledMs = 1000;
constexpr GUID kSubtypeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr DWORD kAutoConvert = 0x80000000 /* AUTOCONVERTPCM */ | 0x08000000 /* SRC_DEFAULT_QUALITY */;

template <class T>
void releaseCom(T*& object) {
    if (object) object->Release();
    object = nullptr;
}

double counterSeconds() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

class WasapiInput final : public Input {
public:
    explicit WasapiInput(CaptureTarget target) : ring_(target.ring), status_(target.status), rate_(target.rate), stamp_(target.rate) {}
    ~WasapiInput() override { stop(); }

    // Starts the thread, which opens the endpoint and waits for start; false when the endpoint
    // does not open (the thread has then ended).
    bool open() {
        event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!event_) return false;
        std::promise<bool> opened;
        std::future<bool> result = opened.get_future();
        try {
            thread_ = std::thread([this, promise = std::move(opened)]() mutable { run(promise); });
        } catch (...) {
            return false;
        }
        if (!result.get()) {
            thread_.join();
            return false;
        }
        return true;
    }

    Result start() override {
        if (!thread_.joinable() || state_.load() != Idle) return state_.load() == Running ? Ok : ErrInputInit;
        status_->capturing.store(true);
        state_.store(Running);
        SetEvent(event_);
        return Ok;
    }

    void stop() override {
        state_.store(Stopping);
        if (event_) SetEvent(event_);
        if (thread_.joinable()) thread_.join();
        if (event_) {
            CloseHandle(event_);
            event_ = nullptr;
        }
        status_->capturing.store(false);
    }

private:
    enum State { Idle, Running, Stopping };

    void run(std::promise<bool>& opened) {
        const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        const bool ok = SUCCEEDED(com) && openDevice();
        opened.set_value(ok);
        if (ok) {
            while (state_.load() == Idle) WaitForSingleObject(event_, INFINITE);
            if (state_.load() == Running) capture();
        }
        closeDevice();
        status_->capturing.store(false);
        if (SUCCEEDED(com)) CoUninitialize();
    }

    bool openDevice() {
        IMMDeviceEnumerator* enumerator = nullptr;
        HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                      __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator));
        if (SUCCEEDED(hr)) hr = enumerator->GetDefaultAudioEndpoint(eCapture, eConsole, &device_);
        releaseCom(enumerator);
        if (SUCCEEDED(hr)) {
            hr = device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&client_));
        }
        if (SUCCEEDED(hr)) {
            hr = initialize(1, kAutoConvert);
            if (FAILED(hr)) hr = initializeAtMixFormat();
        }
        if (SUCCEEDED(hr)) hr = client_->GetService(__uuidof(IAudioCaptureClient), reinterpret_cast<void**>(&capture_));
        if (SUCCEEDED(hr)) hr = client_->SetEventHandle(event_);
        if (SUCCEEDED(hr) && channels_ > 1) {
            try {
                mono_.assign(static_cast<std::size_t>(kBufferSeconds * rate_ * 2), 0.0f);
            } catch (...) {
                hr = E_OUTOFMEMORY;
            }
        }
        if (SUCCEEDED(hr)) {
            try {
                silence_.assign(static_cast<std::size_t>(kBufferSeconds * rate_ * 2), 0.0f);
            } catch (...) {
                hr = E_OUTOFMEMORY;
            }
        }
        if (FAILED(hr)) closeDevice();
        return SUCCEEDED(hr);
    }

    HRESULT initialize(int channels, DWORD extraFlags) {
        WAVEFORMATEXTENSIBLE format{};
        format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
        format.Format.nChannels = static_cast<WORD>(channels);
        format.Format.nSamplesPerSec = static_cast<DWORD>(rate_);
        format.Format.wBitsPerSample = 32;
        format.Format.nBlockAlign = static_cast<WORD>(channels * sizeof(float));
        format.Format.nAvgBytesPerSec = format.Format.nSamplesPerSec * format.Format.nBlockAlign;
        format.Format.cbSize = sizeof format - sizeof format.Format;
        format.Samples.wValidBitsPerSample = 32;
        format.dwChannelMask = channels == 1 ? SPEAKER_FRONT_CENTER : 0;
        format.SubFormat = kSubtypeFloat;
        const auto duration = static_cast<REFERENCE_TIME>(kBufferSeconds * kHundredNsPerSecond);
        const HRESULT hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_EVENTCALLBACK | extraFlags,
                                               duration, 0, &format.Format, nullptr);
        if (SUCCEEDED(hr)) channels_ = channels;
        return hr;
    }

    // The engine's own format, where it is float at the mixer's rate.
    HRESULT initializeAtMixFormat() {
        WAVEFORMATEX* mix = nullptr;
        HRESULT hr = client_->GetMixFormat(&mix);
        if (FAILED(hr)) return hr;
        const bool isFloat = mix->wFormatTag == WAVE_FORMAT_IEEE_FLOAT ||
                             (mix->wFormatTag == WAVE_FORMAT_EXTENSIBLE &&
                              IsEqualGUID(reinterpret_cast<WAVEFORMATEXTENSIBLE*>(mix)->SubFormat, kSubtypeFloat));
        const int channels = mix->nChannels;
        const bool usable = isFloat && mix->wBitsPerSample == 32 && static_cast<int>(mix->nSamplesPerSec) == rate_ &&
                            channels >= 1 && channels <= 8;
        CoTaskMemFree(mix);
        if (!usable) return AUDCLNT_E_UNSUPPORTED_FORMAT;
        // A failed Initialize leaves the client unusable: a fresh one for the second try.
        releaseCom(client_);
        hr = device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&client_));
        return SUCCEEDED(hr) ? initialize(channels, 0) : hr;
    }

    void closeDevice() {
        releaseCom(capture_);
        releaseCom(client_);
        releaseCom(device_);
    }

    void capture() {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        if (FAILED(client_->Start())) return;
        DWORD lastPacket = GetTickCount();
        while (state_.load(std::memory_order_relaxed) == Running) {
            WaitForSingleObject(event_, 100);
            bool took = false;
            if (FAILED(drain(&took)) || (!took && GetTickCount() - lastPacket > kStalledMs)) break;
            if (took) lastPacket = GetTickCount();
        }
        client_->Stop();
        report();
    }

    // The earliest time the start of the frames can have reached the input, by this packet's
    // reading and those of the last one to two seconds: the lowest of the current second's
    // bounds and the last second's, so a clock that drifts from the device's is followed.
    double lowestStart(double reportedFirst) {
        constexpr double kWindowSeconds = 1.0;
        const double bound = reportedFirst - framesSinceStart_ / rate_;
        if (framesSinceStart_ == 0 || framesSinceStart_ >= windowEnd_) {
            lastWindowLowest_ = framesSinceStart_ == 0 ? bound : windowLowest_;
            windowLowest_ = bound;
            windowEnd_ = framesSinceStart_ + kWindowSeconds * rate_;
        }
        windowLowest_ = std::min(windowLowest_, bound);
        return std::min(windowLowest_, lastWindowLowest_);
    }

    // What the capture was, for whoever runs the program with a debugger's output open (as
    // the Wine checks do): the engine's packets, how they were dated, the latency reported.
    void report() const {
        if (packets_ == 0) return;
        REFERENCE_TIME streamLatency = 0;
        if (FAILED(client_->GetStreamLatency(&streamLatency))) streamLatency = 0;
        char line[320];
        snprintf(line, sizeof line,
                 "tabladex WASAPI input: %d Hz, %d channel%s, %llu packets of %.1f ms on average, %llu dated at "
                 "their end, %llu after a discontinuity; latency reported %.1f ms on average, stream latency %.1f "
                 "ms\n",
                 rate_, channels_, channels_ == 1 ? "" : "s", packets_, 1000.0 * framesTaken_ / rate_ / packets_,
                 endStamps_, discontinuities_, 1000.0 * latencySum_ / packets_,
                 static_cast<double>(streamLatency) / (kHundredNsPerSecond / 1000));
        OutputDebugStringA(line);
    }

    // Every packet that waits goes to the ring, dated.
    HRESULT drain(bool* took) {
        for (;;) {
            UINT32 waiting = 0;
            HRESULT hr = capture_->GetNextPacketSize(&waiting);
            if (FAILED(hr) || waiting == 0) return hr;
            BYTE* data = nullptr;
            UINT32 frames = 0;
            DWORD flags = 0;
            UINT64 position = 0, counterAt = 0;
            if (FAILED(hr = capture_->GetBuffer(&data, &frames, &flags, &position, &counterAt))) return hr;
            take(reinterpret_cast<const float*>(data), frames, flags, counterAt);
            if (FAILED(hr = capture_->ReleaseBuffer(frames))) return hr;
            *took = true;
        }
    }

    void take(const float* samples, UINT32 frames, DWORD flags, UINT64 counterAt) {
        const double now = clockNow();
        const double length = static_cast<double>(frames) / rate_;
        double sinceCounter = counterAt ? counterSeconds() - static_cast<double>(counterAt) / kHundredNsPerSecond : length;
        if (sinceCounter < length) {
            sinceCounter += length;
            ++endStamps_;
        }
        ++packets_;
        framesTaken_ += frames;
        if (flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) {
            ++discontinuities_;
            ring_->lose();
            stamp_.restart();
            framesSinceStart_ = 0;
        }
        const double first = stamp_.stamp(lowestStart(now - sinceCounter) + framesSinceStart_ / rate_, frames);
        framesSinceStart_ += frames;
        const double latency = now - first - length;
        status_->latency.store(latency, std::memory_order_relaxed);
        latencySum_ += latency;
        const bool silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
        const std::size_t piece = silence_.size() / 2;  // what the buffers made at open hold
        for (std::size_t done = 0; done < frames;) {
            const std::size_t count = frames - done < piece ? frames - done : piece;
            const float* mono = silent ? silence_.data() : samples + done * channels_;
            if (!silent && channels_ > 1) {
                for (std::size_t i = 0; i < count; ++i) {
                    float sum = 0.0f;
                    for (int c = 0; c < channels_; ++c) sum += samples[(done + i) * channels_ + c];
                    mono_[i] = sum / static_cast<float>(channels_);
                }
                mono = mono_.data();
            }
            ring_->write(mono, count, first + static_cast<double>(done) / rate_);
            done += count;
        }
    }

    CaptureRing* ring_;
    CaptureStatus* status_;
    int rate_;
    HANDLE event_ = nullptr;
    std::thread thread_;
    std::atomic<State> state_{Idle};
    // The thread's own while it runs.
    CaptureStamp stamp_;
    IMMDevice* device_ = nullptr;
    IAudioClient* client_ = nullptr;
    IAudioCaptureClient* capture_ = nullptr;
    int channels_ = 1;
    std::vector<float> mono_;     // the channels averaged, where the engine gives more than one
    std::vector<float> silence_;  // for packets the engine flags as silent
    double framesSinceStart_ = 0;  // since the capture started, or the last discontinuity
    double windowEnd_ = 0, windowLowest_ = 0, lastWindowLowest_ = 0;
    unsigned long long packets_ = 0, framesTaken_ = 0, endStamps_ = 0, discontinuities_ = 0;
    double latencySum_ = 0;
};

}  // namespace

std::unique_ptr<Input> openDeviceInput(CaptureTarget target) {
    auto input = std::make_unique<WasapiInput>(target);
    if (!input->open()) return nullptr;
    return input;
}

}  // namespace audio
