// The sound device on Windows through WASAPI: the default render endpoint in shared mode,
// float stereo at the rate of the endpoint's mix format, driven by the engine's event
// (AUDCLNT_STREAMFLAGS_EVENTCALLBACK) on a thread of the output's own, which asks MMCSS for
// the "Pro Audio" task where avrt.dll offers it.
//
// Every COM object lives on that thread (a multithreaded apartment of its own): open starts
// the thread and waits for it to say whether the endpoint opened, and at which rate, so that
// the caller can fall back to waveOut when it did not.
//
// The buffer is written in whole mixer blocks only, each as soon as the queue has room for it,
// so that blocks are asked for one block apart as the engine plays them (the mixer's frame
// clock maps times to frames by those requests). The queue starts full of silence for the same
// reason.
//
// The queue is kept at 60 ms at first. A queue found empty when the thread wakes (the thread
// was held off longer than the queue lasts, on a loaded machine) has been heard as a gap, and
// the queue is made 40 ms longer, up to 200 ms: a machine that cannot keep the thread on time
// gets the depth it needs, at the cost of latency, which deviceLatency reports.
//
// A device that goes away (AUDCLNT_E_DEVICE_INVALIDATED, or any other failed call, or an
// engine that stops signalling for a second) is released; the thread keeps the mix going on
// the steady clock (device_gap.h) and opens the default endpoint again with a back-off, at
// the rate the mixer already runs (converted by the engine where the new endpoint's differs).
#include <windows.h>
#include <mmsystem.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <mmreg.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <memory>
#include <thread>

#include "clock.h"
#include "device_gap.h"
#include "output.h"

namespace audio {

namespace {

// Audio kept queued in the engine's buffer: at first a few blocks, enough to ride out the
// scheduling of a thread that the engine wakes every period (10 ms), and short enough that
// Play is heard soon; longer by a step after each time it ran dry, up to the buffer's length.
// A sound server behind the driver (Wine's PulseAudio driver) holds its own on top.
constexpr double kFirstQueueSeconds = 0.06;
constexpr double kQueueStepSeconds = 0.04;
constexpr double kBufferSeconds = 0.2;
// The engine's first moments after a start, when a sound server behind it takes what is
// queued at once, do not count as running dry.
constexpr double kStartSeconds = 0.5;
// As on waveOut: blocks of at least 512 frames, so that a playback thread woken late on the
// system's coarse timer still makes its start's frame three blocks after the stamp.
constexpr int kMinBlockFrames = 512;
constexpr DWORD kStalledMs = 1000;  // no room made for this long: the device is gone
constexpr REFERENCE_TIME kHundredNsPerSecond = 10000000;

// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, spelled out so that no GUID library is needed.
constexpr GUID kSubtypeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

template <class T>
void releaseCom(T*& object) {
    if (object) object->Release();
    object = nullptr;
}

// Stream flags Windows 7's shared mode does not know: the engine converts rate and channels.
constexpr DWORD kAutoConvert = 0x80000000 /* AUTOCONVERTPCM */ | 0x08000000 /* SRC_DEFAULT_QUALITY */;

// MMCSS, through avrt.dll when the system has it: the engine's thread scheduling for audio.
class ProAudioTask {
public:
    ProAudioTask() {
        library_ = LoadLibraryA("avrt.dll");
        if (!library_) return;
        using SetFn = HANDLE(WINAPI*)(LPCWSTR, LPDWORD);
        auto set = reinterpret_cast<SetFn>(reinterpret_cast<void*>(GetProcAddress(library_, "AvSetMmThreadCharacteristicsW")));
        DWORD index = 0;
        if (set) task_ = set(L"Pro Audio", &index);
    }
    ~ProAudioTask() {
        if (task_) {
            using RevertFn = BOOL(WINAPI*)(HANDLE);
            auto revert = reinterpret_cast<RevertFn>(
                reinterpret_cast<void*>(GetProcAddress(library_, "AvRevertMmThreadCharacteristics")));
            if (revert) revert(task_);
        }
        if (library_) FreeLibrary(library_);
    }
    ProAudioTask(const ProAudioTask&) = delete;
    ProAudioTask& operator=(const ProAudioTask&) = delete;

private:
    HMODULE library_ = nullptr;
    HANDLE task_ = nullptr;
};

class WasapiOutput final : public Output {
public:
    WasapiOutput(RenderTarget target, int blockFrames)
        : target_(target), blockFrames_(blockFrames < kMinBlockFrames ? kMinBlockFrames : blockFrames) {}
    ~WasapiOutput() override { stop(); }

    // Starts the thread, which opens the endpoint and stays idle until start; false when
    // the endpoint cannot be opened (the thread has then ended).
    bool open() {
        event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!event_) return false;
        std::promise<bool> opened;
        std::future<bool> result = opened.get_future();
        try {
            // The thread owns the promise, which it may still be inside when open wakes.
            thread_ = std::thread([this, promise = std::move(opened)]() mutable { run(promise); });
        } catch (...) {
            return false;
        }
        if (!result.get()) {
            thread_.join();
            return false;
        }
        try {
            gap_ = std::make_unique<DeviceGap>(target_, rate_, blockFrames_);
        } catch (...) {
            stop();
            return false;
        }
        return true;
    }

    int sampleRate() const override { return rate_; }
    int blockFrames() const override { return blockFrames_; }
    DeviceStatus status() const override { return health_.status(); }
    double deviceLatency() const override { return latency_.load(std::memory_order_relaxed); }

    Result start() override {
        if (!thread_.joinable() || state_.load() != Idle) return state_.load() == Running ? Ok : ErrOutputInit;
        // As on waveOut: while sound plays, timed waits end within a millisecond of their time.
        timerPeriodSet_ = timeBeginPeriod(1) == TIMERR_NOERROR;
        state_.store(Running);
        SetEvent(event_);
        return Ok;
    }

    void stop() override {
        state_.store(Stopping);
        if (event_) SetEvent(event_);
        if (thread_.joinable()) thread_.join();
        if (timerPeriodSet_) {
            timeEndPeriod(1);
            timerPeriodSet_ = false;
        }
        if (event_) {
            CloseHandle(event_);
            event_ = nullptr;
        }
    }

private:
    enum State { Idle, Running, Stopping };

    void run(std::promise<bool>& opened) {
        const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        const bool ok = SUCCEEDED(com) && openDevice(true);
        opened.set_value(ok);
        if (ok) {
            while (state_.load() == Idle) WaitForSingleObject(event_, INFINITE);
            if (state_.load() == Running) play();
            if (client_) report();
        }
        closeDevice();
        if (SUCCEEDED(com)) CoUninitialize();
    }

    void play() {
        // As waveOut's thread; MMCSS, where it answers, schedules the thread above that.
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        ProAudioTask task;
        if (!startDevice()) lose();
        DWORD lastRoom = GetTickCount();
        while (state_.load(std::memory_order_relaxed) == Running) {
            if (!client_) {
                reopen();
                lastRoom = GetTickCount();
                continue;
            }
            bool wrote = false;
            if (FAILED(refill(&wrote)) || (!wrote && GetTickCount() - lastRoom > kStalledMs)) {
                lose();  // AUDCLNT_E_DEVICE_INVALIDATED, AUDCLNT_E_SERVICE_NOT_RUNNING and the like
                continue;
            }
            if (wrote) lastRoom = GetTickCount();
            WaitForSingleObject(event_, 100);
        }
        if (client_) client_->Stop();
    }

    // Opens the default endpoint. first: at its mix format's rate, which becomes the
    // output's; later: at the output's rate. False (and nothing held) when it cannot.
    bool openDevice(bool first) {
        IMMDeviceEnumerator* enumerator = nullptr;
        HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                      __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator));
        if (SUCCEEDED(hr)) hr = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device_);
        releaseCom(enumerator);
        if (SUCCEEDED(hr)) {
            hr = device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&client_));
        }
        int mixRate = 0;
        if (SUCCEEDED(hr)) {
            WAVEFORMATEX* mix = nullptr;
            hr = client_->GetMixFormat(&mix);
            if (SUCCEEDED(hr)) mixRate = static_cast<int>(mix->nSamplesPerSec);
            CoTaskMemFree(mix);
        }
        if (SUCCEEDED(hr) && first) rate_ = mixRate >= 8000 && mixRate <= 384000 ? mixRate : 48000;
        if (SUCCEEDED(hr)) hr = initialize(mixRate == rate_ ? 0 : kAutoConvert);
        // An endpoint whose mix has more channels than two may want the engine to convert.
        if (hr == AUDCLNT_E_UNSUPPORTED_FORMAT && mixRate == rate_) hr = initialize(kAutoConvert);
        if (SUCCEEDED(hr)) hr = client_->GetBufferSize(&bufferFrames_);
        if (SUCCEEDED(hr) && bufferFrames_ < static_cast<UINT32>(2 * blockFrames_)) hr = E_FAIL;
        if (SUCCEEDED(hr)) {
            if (first) queueFrames_ = wholeBlocks(kFirstQueueSeconds);
            queueFrames_ = std::min(queueFrames_, bufferFrames_ / blockFrames_ * blockFrames_);
        }
        if (SUCCEEDED(hr)) hr = client_->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&render_));
        if (SUCCEEDED(hr)) hr = client_->SetEventHandle(event_);
        REFERENCE_TIME streamLatency = 0;
        if (SUCCEEDED(hr) && SUCCEEDED(client_->GetStreamLatency(&streamLatency))) {
            streamLatency_ = static_cast<double>(streamLatency) / kHundredNsPerSecond;
        }
        // The device's position, where the engine offers it, dates what is queued.
        if (SUCCEEDED(hr) && SUCCEEDED(client_->GetService(__uuidof(IAudioClock), reinterpret_cast<void**>(&clock_)))) {
            if (FAILED(clock_->GetFrequency(&clockFrequency_)) || clockFrequency_ == 0) releaseCom(clock_);
        }
        if (FAILED(hr)) closeDevice();
        return SUCCEEDED(hr);
    }

    HRESULT initialize(DWORD extraFlags) {
        WAVEFORMATEXTENSIBLE format{};
        format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
        format.Format.nChannels = 2;
        format.Format.nSamplesPerSec = static_cast<DWORD>(rate_);
        format.Format.wBitsPerSample = 32;
        format.Format.nBlockAlign = 2 * sizeof(float);
        format.Format.nAvgBytesPerSec = format.Format.nSamplesPerSec * format.Format.nBlockAlign;
        format.Format.cbSize = sizeof format - sizeof format.Format;
        format.Samples.wValidBitsPerSample = 32;
        format.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
        format.SubFormat = kSubtypeFloat;
        const auto duration = static_cast<REFERENCE_TIME>(kBufferSeconds * kHundredNsPerSecond);
        return client_->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_EVENTCALLBACK | extraFlags,
                                   duration, 0, &format.Format, nullptr);
    }

    void closeDevice() {
        releaseCom(clock_);
        releaseCom(render_);
        releaseCom(client_);
        releaseCom(device_);
    }

    // Frames in the whole blocks that last at least seconds (at least one block).
    UINT32 wholeBlocks(double seconds) const {
        const auto blocks = static_cast<UINT32>(seconds * rate_ / blockFrames_ + 0.999);
        return (blocks > 0 ? blocks : 1) * static_cast<UINT32>(blockFrames_);
    }

    // The queue filled with silence, then the engine started.
    bool startDevice() {
        BYTE* data = nullptr;
        if (FAILED(render_->GetBuffer(queueFrames_, &data))) return false;
        if (FAILED(render_->ReleaseBuffer(queueFrames_, AUDCLNT_BUFFERFLAGS_SILENT))) return false;
        written_ = queueFrames_;
        startedAt_ = steadySeconds();
        return SUCCEEDED(client_->Start());
    }

    // Renders a block into each block's room the queue has.
    HRESULT refill(bool* wrote) {
        UINT32 padding = 0;
        HRESULT hr = client_->GetCurrentPadding(&padding);
        if (FAILED(hr)) return hr;
        if (padding == 0 && steadySeconds() - startedAt_ > kStartSeconds) {
            queueFrames_ = std::min(queueFrames_ + wholeBlocks(kQueueStepSeconds), bufferFrames_ / blockFrames_ * blockFrames_);
            ++ranDry_;
        }
        if (padding + blockFrames_ > queueFrames_) return S_OK;
        measureLatency(padding);
        while (padding + blockFrames_ <= queueFrames_) {
            BYTE* data = nullptr;
            if (FAILED(hr = render_->GetBuffer(blockFrames_, &data))) return hr;
            target_.render(target_.user, reinterpret_cast<float*>(data), blockFrames_, clockNow());
            if (FAILED(hr = render_->ReleaseBuffer(blockFrames_, 0))) return hr;
            written_ += blockFrames_;
            padding += blockFrames_;
            *wrote = true;
        }
        return S_OK;
    }

    // The time until the next block written is heard, by two estimates, the larger taken: what
    // the buffer holds (its padding) and the stream's latency beyond it (GetStreamLatency, the
    // engine's most); and what was written less the device's position, the frame heard now
    // (which already holds the engine's part, where the engine tracks it: Wine's position is
    // only what it has passed on, so its padding and stream latency make the figure there).
    // Smoothed, since each figure is read at a wake that comes anywhere within the period.
    void measureLatency(UINT32 padding) {
        double latency = static_cast<double>(padding) / rate_ + streamLatency_;
        UINT64 position = 0, positionTime = 0;
        if (clock_ && SUCCEEDED(clock_->GetPosition(&position, &positionTime))) {
            LARGE_INTEGER counter, frequency;
            QueryPerformanceCounter(&counter);
            QueryPerformanceFrequency(&frequency);
            const double sincePosition =
                static_cast<double>(counter.QuadPart) / frequency.QuadPart - static_cast<double>(positionTime) / kHundredNsPerSecond;
            const double played = static_cast<double>(position) / clockFrequency_ + (positionTime ? sincePosition : 0.0);
            const double byPosition = static_cast<double>(written_) / rate_ - played;
            if (byPosition > latency && byPosition < latency + 1.0) latency = byPosition;
        }
        const double last = latency_.load(std::memory_order_relaxed);
        latency_.store(last == 0.0 ? latency : last + 0.05 * (latency - last), std::memory_order_relaxed);
    }

    void lose() {
        if (client_) client_->Stop();
        closeDevice();
        health_.lost();
        gap_->begin(steadySeconds());
    }

    // One turn without a device: the blocks due, and a new device when a try is due.
    void reopen() {
        const double now = steadySeconds();
        const double wake = gap_->renderDue(now);
        if (now >= gap_->nextTry()) {
            if (openDevice(false) && startDevice()) {
                if (target_.restart) target_.restart(target_.user);
                latency_.store(0.0, std::memory_order_relaxed);
                health_.restored();
                return;
            }
            closeDevice();
            gap_->tried(now);
        }
        const double until = wake < gap_->nextTry() ? wake : gap_->nextTry();
        const double seconds = until - steadySeconds();
        WaitForSingleObject(event_, seconds > 0 ? static_cast<DWORD>(seconds * 1000) + 1 : 0);
    }

    // The stream's figures when it stops, to the debugger's output (Wine shows them with
    // WINEDEBUG=+debugstr); users see nothing.
    void report() {
        char line[200];
        std::snprintf(line, sizeof line,
                      "tabladex WASAPI: %u frames queued (of %u) at %d Hz in blocks of %d, ran dry %u "
                      "times; stream latency %.1f ms, device latency %.1f ms\n",
                      queueFrames_, bufferFrames_, rate_, blockFrames_, ranDry_, 1000.0 * streamLatency_,
                      1000.0 * latency_.load());
        OutputDebugStringA(line);
    }

    RenderTarget target_;
    int rate_ = 0;  // set by the thread before open returns, fixed after
    int blockFrames_;
    HANDLE event_ = nullptr;
    std::thread thread_;
    std::atomic<State> state_{Idle};
    bool timerPeriodSet_ = false;
    // The thread's own while it runs.
    IMMDevice* device_ = nullptr;
    IAudioClient* client_ = nullptr;
    IAudioRenderClient* render_ = nullptr;
    IAudioClock* clock_ = nullptr;
    UINT64 clockFrequency_ = 0;
    UINT32 bufferFrames_ = 0;
    UINT32 queueFrames_ = 0;  // frames kept queued: whole blocks, at most bufferFrames_
    unsigned ranDry_ = 0;
    double startedAt_ = 0;  // steady seconds
    double streamLatency_ = 0.0;
    std::int64_t written_ = 0;  // frames handed to the engine since the stream started
    std::unique_ptr<DeviceGap> gap_;
    DeviceHealth health_;
    std::atomic<double> latency_{0.0};
};

}  // namespace

std::unique_ptr<Output> openWasapiOutput(RenderTarget target, int blockFrames) {
    auto output = std::make_unique<WasapiOutput>(target, blockFrames);
    if (!output->open()) return nullptr;
    return output;
}

namespace {
std::atomic<const char*> gDeviceApi{""};
}

std::unique_ptr<Output> openDeviceOutput(RenderTarget target, int rate, int blockFrames) {
    char choice[16] = "";
    const DWORD length = GetEnvironmentVariableA("TABLADEX_WINDOWS_AUDIO", choice, sizeof choice);
    const bool waveOutOnly = length > 0 && length < sizeof choice && lstrcmpiA(choice, "waveout") == 0;
    std::unique_ptr<Output> output;
    if (!waveOutOnly && (output = openWasapiOutput(target, blockFrames))) {
        gDeviceApi.store("WASAPI");
        return output;
    }
    output = openWaveOutOutput(target, rate, blockFrames);
    gDeviceApi.store(output ? "waveOut" : "");
    return output;
}

const char* deviceApi() { return gDeviceApi.load(); }

}  // namespace audio
