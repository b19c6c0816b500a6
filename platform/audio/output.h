// output.h - where the mixer's blocks go: a sound device or a silent, clock-paced thread.
//
// Promises: an Output calls its RenderTarget from one thread at a time, once per block,
// with interleaved stereo float to fill and the clock time (clockNow) at which the block is
// asked for, from start() until stop() returns, whether its device is there or not (see
// device_gap.h); status() says how the device has fared. stop() is idempotent and the
// destructor stops. sampleRate() and blockFrames() are fixed once the output is opened.
//
// Threads: open, start, stop, status and the destructor run on the main thread; the render
// target runs on the output's thread and must not block, allocate or log.
// Ownership: the caller owns the Output; the Output does not own the render target.
#pragma once

#include <memory>

#include "audio.h"

namespace audio {

struct RenderTarget {
    void (*render)(void* user, float* out, int frames, double now) = nullptr;
    // Called on the rendering thread before the first block of a new device (a stream opened
    // again, a fallback): the times at which blocks are asked for start a new relation to
    // the frames heard.
    void (*restart)(void* user) = nullptr;
    void* user = nullptr;
};

class Output {
public:
    virtual ~Output() = default;
    virtual int sampleRate() const = 0;
    virtual int blockFrames() const = 0;
    virtual Result start() = 0;
    virtual void stop() = 0;
    virtual DeviceStatus status() const { return DeviceStatus{}; }
    // Seconds from the moment a block is asked for to the moment its first frame is heard,
    // as the device last reported it (0 where nothing is queued beyond the block). Any
    // thread; lock-free.
    virtual double deviceLatency() const { return 0.0; }
};

// The platform's sound device (on Linux a sound server, else SDL2; on Windows WASAPI, else
// waveOut), asked
// for float stereo at rate with blocks of blockFrames (a device may choose longer blocks);
// null when there is no device to open.
std::unique_ptr<Output> openDeviceOutput(RenderTarget target, int rate, int blockFrames);

#ifdef _WIN32
// openDeviceOutput on Windows opens WASAPI and, where WASAPI cannot start, waveOut. The
// environment variable TABLADEX_WINDOWS_AUDIO=waveout (read at each open) skips WASAPI, for
// a machine whose WASAPI misbehaves and for the tests of the fallback.
//
// WASAPI: the default endpoint in shared mode, float stereo at its mix format's rate, event
// driven, 60 ms queued (more, up to 200 ms, on a machine that lets the queue run dry), blocks
// of at least 512 frames (blockFrames when longer); null when it cannot start. Its COM
// objects live on its own thread, whatever the caller's apartment.
std::unique_ptr<Output> openWasapiOutput(RenderTarget target, int blockFrames);
// waveOut: the default device at rate, a ring of about 120 ms in blocks of at least 512
// frames; null when no wave device opens.
std::unique_ptr<Output> openWaveOutOutput(RenderTarget target, int rate, int blockFrames);
// Which API the last openDeviceOutput of the process opened: "WASAPI", "waveOut", or "" when
// neither did. Any thread.
const char* deviceApi();
#else
// A PulseAudio (or PipeWire) server's default sink, with 48 ms of latency, topped up a
// two blocks at a time; null when no server is reachable (none is ever started for it).
std::unique_ptr<Output> openPulseOutput(RenderTarget target, int rate, int blockFrames);
// SDL2's default device. fixedRate: at exactly rate (SDL converts), with blocks of
// blockFrames, for a mixer that already runs at them; else 44.1 or 48 kHz, as the device
// prefers, with blocks of at least 1024 frames. Null when no device opens. Any thread.
std::unique_ptr<Output> openSdlOutput(RenderTarget target, int rate, int blockFrames, bool fixedRate);
// Frees what SDL keeps for the calling thread (its error text): a thread of ours that called
// SDL calls it before it ends.
void releaseSdlThreadState();
#endif  // _WIN32

}  // namespace audio
