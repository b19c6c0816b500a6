// The sound device through a PulseAudio server (PipeWire desktops serve the same protocol).
//
// Why not only SDL: SDL's pulse driver asks the server for a buffer of exactly one callback
// and refills it a whole callback at a time, so with a buffer short enough for a tutor
// (about 20 ms) a few milliseconds of scheduling delay empty it. Here the stream's latency
// is 25 ms, of which the server holds about 21 ms that this output tops up with whatever
// the server asks for (about two blocks at a time), as soon as it asks.
//
// The output thread owns a plain (non-threaded) main loop: it renders and writes what the
// server has room for, then blocks in the loop until the server asks for more or stop()
// wakes it. open() connects on the calling thread and fails quickly, without
// starting a server, when none is reachable.
#include <pulse/pulseaudio.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "clock.h"
#include "output.h"

namespace audio {

namespace {

constexpr double kBufferSeconds = 0.025;  // the stream's whole latency, server and sink
constexpr int kRequestBlocks = 2;         // the server asks for this many blocks at a time
constexpr int kConnectTimeoutMs = 2000;

class PulseOutput final : public Output {
public:
    PulseOutput(RenderTarget target, int blockFrames) : target_(target), blockFrames_(blockFrames) {}
    ~PulseOutput() override {
        stop();
        if (stream_) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        if (loop_) pa_mainloop_free(loop_);
    }

    bool open(int rate) {
        rate_ = rate;
        loop_ = pa_mainloop_new();
        if (!loop_) return false;
        context_ = pa_context_new(pa_mainloop_get_api(loop_), "Tabladex");
        if (!context_ || pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
        if (!iterateUntil([this] {
                const pa_context_state_t state = pa_context_get_state(context_);
                return state == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(state) ? 0 : -1;
            }))
            return false;

        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(rate), 2};
        stream_ = pa_stream_new(context_, "Drum strokes", &format, nullptr);
        if (!stream_) return false;
        const uint32_t frameBytes = 2 * sizeof(float);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(kBufferSeconds * rate) * frameBytes;
        attr.prebuf = static_cast<uint32_t>(-1);
        // The server keeps two requests' worth (about 21 ms) of the stream and lets the sink
        // have the rest: the larger the request, the longer this thread may be late.
        attr.minreq = static_cast<uint32_t>(kRequestBlocks * blockFrames_) * frameBytes;
        attr.fragsize = static_cast<uint32_t>(-1);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                          PA_STREAM_AUTO_TIMING_UPDATE |
                                                          PA_STREAM_INTERPOLATE_TIMING);
        if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0)
            return false;
        if (!iterateUntil([this] {
                const pa_stream_state_t state = pa_stream_get_state(stream_);
                return state == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(state) ? 0 : -1;
            }))
            return false;
        // Room for the whole buffer at once, so a late request is answered in one write.
        block_.assign(static_cast<std::size_t>(kBufferSeconds * rate + blockFrames_) * 2, 0.0f);
        return true;
    }

    int sampleRate() const override { return rate_; }
    int blockFrames() const override { return blockFrames_; }

    Result start() override {
        if (!stream_) return ErrOutputInit;
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
        if (!running_.exchange(false)) return;
        pa_mainloop_wakeup(loop_);
        if (thread_.joinable()) thread_.join();
    }

private:
    // Runs the main loop on this thread until done() says 1 (true) or -1 (failed), for at
    // most the connection time-out.
    template <class Done>
    bool iterateUntil(Done done) {
        const pa_usec_t deadline = pa_rtclock_now() + pa_usec_t(kConnectTimeoutMs) * 1000;
        for (;;) {
            const int state = done();
            if (state != 0) return state > 0;
            if (pa_rtclock_now() > deadline) return false;
            if (pa_mainloop_prepare(loop_, 50 * 1000) < 0 || pa_mainloop_poll(loop_) < 0 ||
                pa_mainloop_dispatch(loop_) < 0)
                return false;
        }
    }

    void run() {
        // Ahead of ordinary work where the system allows it, as sound threads are; without the
        // right it stays as it is and the buffer absorbs the delays.
        setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -11);
        const std::size_t frameBytes = 2 * sizeof(float);
        const std::size_t bufferFrames = block_.size() / 2;
        while (running_.load(std::memory_order_relaxed)) {
            // Everything the server asks for, as soon as it asks: its requests need not come
            // in whole blocks, and a buffer this short has no room for holding back.
            for (std::size_t asked; (asked = pa_stream_writable_size(stream_) / frameBytes) > 0;) {
                const std::size_t frames = std::min(asked, bufferFrames);
                target_.render(target_.user, block_.data(), static_cast<int>(frames), clockNow());
                if (pa_stream_write(stream_, block_.data(), frames * frameBytes, nullptr, 0,
                                    PA_SEEK_RELATIVE) < 0)
                    return;
            }
            if (pa_mainloop_iterate(loop_, 1, nullptr) < 0) return;
            if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) return;
        }
    }

    RenderTarget target_;
    int blockFrames_;
    int rate_ = 0;
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::vector<float> block_;
    std::thread thread_;
    std::atomic<bool> running_{false};
};

}  // namespace

std::unique_ptr<Output> openPulseOutput(RenderTarget target, int rate, int blockFrames) {
    auto output = std::make_unique<PulseOutput>(target, blockFrames);
    if (!output->open(rate)) return nullptr;
    return output;
}

}  // namespace audio
