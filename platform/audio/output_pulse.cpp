// The sound device through a PulseAudio server (PipeWire desktops serve the same protocol).
//
// Why not only SDL: SDL's pulse driver asks the server for a buffer of exactly one callback
// and refills it a whole callback at a time, so with a buffer short enough for a tutor
// (about 20 ms) a few milliseconds of scheduling delay empty it. Here the stream asks for
// 48 ms of latency, of which the server lets the sink have a part and holds the rest; this
// output tops the stream up with whatever the server asks for (about two blocks at a time),
// as soon as it asks, and so may be late by about 30 ms before the stream runs dry. The
// screen follows the time each stroke is heard (heardDelay), so the depth costs only the
// delay from Play to the first stroke (about 55 ms with the mixer's latency), never sync.
//
// The output thread owns a plain (non-threaded) main loop: it renders and writes what the
// server has room for, then blocks in the loop until the server asks for more or stop()
// wakes it. open() connects on the calling thread and fails quickly, without
// starting a server, when none is reachable.
//
// The device latency pairs the server's timing with this thread's own record of writes: ten
// times a second the thread asks the server where its sink reads the stream and how long the
// sink then takes to play what it read (its own latency, which a Bluetooth sink reports in
// hundreds of milliseconds); the frame read then is heard that long after, and was asked for
// at the time its block was rendered (plus its place in the block). deviceLatency() reports a
// slowly moving average of the difference, so a request answered late (which finds less in
// the buffer) averages out as it does in the mixer's frame clock. A new stream (a reconnection)
// starts the average again; while SDL plays instead, SDL's figure is reported.
//
// Servers restart (on updates, on a change of devices). When the context or the stream
// fails, the thread drops both, keeps the mix going on the steady clock (device_gap.h) and
// connects again, without blocking, on the same main loop, with a back-off; a new stream
// restarts the mixer's frame clock. A server still away after 3 s is replaced by SDL2's
// device, which then plays for good; when SDL has no device either, the server is tried on
// (SDL again every 5 s).
#include <pulse/pulseaudio.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "clock.h"
#include "device_gap.h"
#include "output.h"
#include "realtime_thread.h"

namespace audio {

namespace {

constexpr double kBufferSeconds = 0.048;  // the stream's whole latency, server and sink
constexpr int kRequestBlocks = 2;         // the server asks for this many blocks at a time
// The reported latency follows the measurements quickly while a new stream fills and settles,
// then slowly: a request answered late finds less in the buffer, and that noise averages out.
constexpr double kSettleSeconds = 0.5;
constexpr double kSettlingAverageSeconds = 0.05;
constexpr double kAverageSeconds = 1.0;
constexpr double kTimingSeconds = 0.1;  // how often the server's timing is asked for
constexpr std::size_t kWritesKept = 64;  // the record of writes: over half a second of them
constexpr double kConnectTimeoutSeconds = 2.0;
// The server asks every 10 ms or so while its sink plays; a silence this long is a sink that
// sleeps or a stream held back, not a late request.
constexpr double kStallSeconds = 0.1;
constexpr double kFallbackAfterSeconds = 3.0;
constexpr double kFallbackRetrySeconds = 5.0;
// Below the sound server's own threads (which PulseAudio and PipeWire run at 5 and above
// where they get it), above everything ordinary.
constexpr int kRealtimePriority = 4;

class PulseOutput final : public Output {
public:
    PulseOutput(RenderTarget target, int rate, int blockFrames)
        : target_(target), rate_(rate), blockFrames_(blockFrames), gap_(target, rate, blockFrames) {}
    ~PulseOutput() override {
        stop();
        disconnect();
        if (loop_) pa_mainloop_free(loop_);
    }

    bool open() {
        loop_ = pa_mainloop_new();
        if (!loop_) return false;
        // Room for the whole buffer at once, so a late request is answered in one write.
        block_.assign(static_cast<std::size_t>(kBufferSeconds * rate_ + blockFrames_) * 2, 0.0f);
        if (!beginConnect()) return false;
        const double deadline = steadySeconds() + kConnectTimeoutSeconds;
        for (;;) {
            const int state = progress();
            if (state != 0) return state > 0;
            if (steadySeconds() > deadline) return false;
            if (pa_mainloop_prepare(loop_, 50 * 1000) < 0 || pa_mainloop_poll(loop_) < 0 ||
                pa_mainloop_dispatch(loop_) < 0)
                return false;
        }
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
        if (running_.exchange(false)) {
            pa_mainloop_wakeup(loop_);
            if (thread_.joinable()) thread_.join();
        }
        if (fallback_) fallback_->stop();
    }

    double deviceLatency() const override {
        if (const Output* fallback = fallbackShown_.load(std::memory_order_acquire)) return fallback->deviceLatency();
        return latency_.load(std::memory_order_relaxed);
    }

    DeviceStatus status() const override {
        DeviceStatus s = health_.status();
        if (const Output* fallback = fallbackShown_.load(std::memory_order_acquire)) {
            const DeviceStatus f = fallback->status();
            s.playing = f.playing;
            s.losses += f.losses;
            s.recoveries += f.recoveries;
        }
        return s;
    }

private:
    // Starts connecting to the server; false when that fails at once.
    bool beginConnect() {
        context_ = pa_context_new(pa_mainloop_get_api(loop_), "Tabladex");
        return context_ && pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
    }

    // Takes the connection a step on as the main loop brings news: 1 once the stream plays,
    // 0 while it is on its way, -1 when the context or the stream failed.
    int progress() {
        const pa_context_state_t context = pa_context_get_state(context_);
        if (!PA_CONTEXT_IS_GOOD(context)) return -1;
        if (context != PA_CONTEXT_READY) return 0;
        if (!stream_ && !connectStream()) return -1;
        const pa_stream_state_t stream = pa_stream_get_state(stream_);
        if (!PA_STREAM_IS_GOOD(stream)) return -1;
        return stream == PA_STREAM_READY ? 1 : 0;
    }

    bool connectStream() {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(rate_), 2};
        stream_ = pa_stream_new(context_, "Drum strokes", &format, nullptr);
        if (!stream_) return false;
        const uint32_t frameBytes = 2 * sizeof(float);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(kBufferSeconds * rate_) * frameBytes;
        attr.prebuf = static_cast<uint32_t>(-1);
        // The server asks once two blocks have room and lets the sink have part of the rest;
        // what the stream holds when it asks is how late this thread may answer.
        attr.minreq = static_cast<uint32_t>(kRequestBlocks * blockFrames_) * frameBytes;
        attr.fragsize = static_cast<uint32_t>(-1);
        pa_stream_set_latency_update_callback(stream_, &PulseOutput::timingArrived, this);
        written_ = 0;
        writeIndex_ = 0;
        return pa_stream_connect_playback(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) >= 0;
    }

    void disconnect() {
        if (stream_) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
    }

    void run() {
        // Ahead of ordinary work, as sound threads are: real-time where the system or the
        // desktop's RealtimeKit grants it, else a raised nice value where allowed; without
        // either it stays as it is and the buffer absorbs the delays.
        if (!makeThreadRealtime(kRealtimePriority))
            setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -11);
        bool playing = true;  // open() left a stream that plays
        lastAsked_ = steadySeconds();
        streamSince_ = lastAsked_;
        while (running_.load(std::memory_order_relaxed)) {
            if (playing) {
                if (feed()) continue;
                playing = false;
                disconnect();
                health_.lost();
                gap_.begin(steadySeconds());
            } else if (fallback_) {
                wait(steadySeconds() + 1.0);  // SDL plays now; this thread only waits for stop()
            } else {
                playing = reconnect();
            }
        }
        if (nextFallback_ > 0 || fallback_) releaseSdlThreadState();
    }

    // Writes everything the server asks for, as soon as it asks, and waits for its next
    // request; false when the stream or the server is gone. A server that stops asking (a
    // sink asleep, a stream held back) gets the mix as it is when it asks again: meanwhile
    // the blocks are rendered on the steady clock, so that requests do not pile up to sound
    // together, late, when it wakes.
    bool feed() {
        const std::size_t frameBytes = 2 * sizeof(float);
        const std::size_t bufferFrames = block_.size() / 2;
        bool asked = false;
        // Its requests need not come in whole blocks, and a buffer this short has no room
        // for holding back.
        for (std::size_t room; (room = pa_stream_writable_size(stream_)) > 0;) {
            if (room == static_cast<std::size_t>(-1)) return false;  // the stream failed
            const std::size_t frames = std::min(room / frameBytes, bufferFrames);
            if (frames == 0) break;
            writes_[written_++ % kWritesKept] = Write{writeIndex_, steadySeconds()};
            target_.render(target_.user, block_.data(), static_cast<int>(frames), clockNow());
            if (pa_stream_write(stream_, block_.data(), frames * frameBytes, nullptr, 0,
                                PA_SEEK_RELATIVE) < 0)
                return false;
            writeIndex_ += static_cast<std::int64_t>(frames * frameBytes);
            asked = true;
        }
        const double now = steadySeconds();
        if (now >= timingDue_) {
            if (pa_operation* asking = pa_stream_update_timing_info(stream_, nullptr, nullptr))
                pa_operation_unref(asking);
            timingDue_ = now + kTimingSeconds;
        }
        if (asked || !stalled_) {
            if (asked) lastAsked_ = now;
            stalled_ = false;
        }
        double until = lastAsked_ + kStallSeconds;
        if (now >= until) {
            if (!stalled_) gap_.begin(lastAsked_);
            stalled_ = true;
            until = gap_.renderDue(now);
        }
        if (!wait(until)) return false;
        return pa_context_get_state(context_) == PA_CONTEXT_READY &&
               pa_stream_get_state(stream_) == PA_STREAM_READY;
    }

    // The server's timing has come (on this thread, inside the main loop): the frame its sink
    // read at the time of the report is heard the sink's latency later.
    static void timingArrived(pa_stream* stream, void* user) {
        auto* self = static_cast<PulseOutput*>(user);
        const pa_timing_info* info = pa_stream_get_timing_info(stream);
        if (!info || !info->playing || info->read_index_corrupt || info->read_index < 0) return;
        timespec wall{};
        clock_gettime(CLOCK_REALTIME, &wall);
        const double now = steadySeconds();
        // The report's time is on the system clock.
        const double wallNow = static_cast<double>(wall.tv_sec) + wall.tv_nsec * 1e-9;
        const double reported = static_cast<double>(info->timestamp.tv_sec) + info->timestamp.tv_usec * 1e-6;
        const double heard = now - (wallNow - reported) + static_cast<double>(info->sink_usec) * 1e-6;
        double asked = 0;
        if (self->askedFor(info->read_index, &asked)) self->measured(heard - asked, now);
    }

    // When the frame at the stream's byte index was asked for, from the record of writes;
    // false when it lies beyond what the record keeps.
    bool askedFor(std::int64_t index, double* asked) const {
        const std::size_t kept = std::min(written_, kWritesKept);
        for (std::size_t back = 1; back <= kept; ++back) {
            const Write& write = writes_[(written_ - back) % kWritesKept];
            if (write.index > index) continue;
            if (back == kept && kept == kWritesKept) return false;  // may begin before the record
            *asked = write.asked + static_cast<double>(index - write.index) / (2 * sizeof(float)) / rate_;
            return true;
        }
        return false;
    }

    // Folds one measurement of the device latency into the average deviceLatency() reports.
    void measured(double latency, double now) {
        latency = std::max(0.0, latency);
        if (measuredAt_ < streamSince_) {
            latency_.store(latency, std::memory_order_relaxed);
        } else {
            const double span = now - streamSince_ < kSettleSeconds ? kSettlingAverageSeconds : kAverageSeconds;
            const double weight = std::min(1.0, (now - measuredAt_) / span);
            const double average = latency_.load(std::memory_order_relaxed);
            latency_.store(average + weight * (latency - average), std::memory_order_relaxed);
        }
        measuredAt_ = now;
    }

    // One turn while the server is away: the blocks due, a step of the connection under way
    // or a new try when one is due, the fallback when the server has been away long enough.
    // True once a new stream plays.
    bool reconnect() {
        double now = steadySeconds();
        double wake = gap_.renderDue(now);
        if (context_) {
            const int state = progress();
            if (state > 0) {
                if (target_.restart) target_.restart(target_.user);
                lastAsked_ = steadySeconds();
                streamSince_ = lastAsked_;
                stalled_ = false;
                health_.restored();
                return true;
            }
            if (state < 0 || now > tryDeadline_) {
                disconnect();
                gap_.tried(now);
            }
        } else if (now >= gap_.nextTry()) {
            if (beginConnect()) {
                tryDeadline_ = now + kConnectTimeoutSeconds;
            } else {
                disconnect();
                gap_.tried(now);
            }
        }
        if (!context_ && gap_.awayFor(now) >= kFallbackAfterSeconds && now >= nextFallback_) {
            if (openFallback()) return false;
            now = steadySeconds();
            nextFallback_ = now + kFallbackRetrySeconds;
            wake = gap_.renderDue(now);
        }
        wait(std::min(wake, context_ ? tryDeadline_ : gap_.nextTry()));
        return false;
    }

    // SDL2's device in this output's place, at the mixer's rate and block; from its start on
    // only SDL's thread renders.
    bool openFallback() {
        std::unique_ptr<Output> sdl = openSdlOutput(target_, rate_, blockFrames_, true);
        if (!sdl) return false;
        if (target_.restart) target_.restart(target_.user);
        if (sdl->start() != Ok) return false;
        fallback_ = std::move(sdl);
        health_.restored(true);
        fallbackShown_.store(fallback_.get(), std::memory_order_release);
        return true;
    }

    // Runs the main loop until the steady time until, or until the server or stop() wakes it;
    // false when the loop fails.
    bool wait(double until) {
        const double seconds = std::max(0.0, until - steadySeconds());
        const int timeout = static_cast<int>(std::ceil(seconds * 1e6));
        if (pa_mainloop_prepare(loop_, timeout) < 0 || pa_mainloop_poll(loop_) < 0 ||
            pa_mainloop_dispatch(loop_) < 0) {
            // A loop that cannot poll must not turn this thread into a spin.
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
            return false;
        }
        return true;
    }

    RenderTarget target_;
    int rate_;
    int blockFrames_;
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;  // output thread once started, as are the four below
    pa_stream* stream_ = nullptr;
    double lastAsked_ = 0;  // when the server last asked for frames
    double streamSince_ = 0;  // when the stream that plays was set up
    double measuredAt_ = -1;  // when its latency was last measured
    double timingDue_ = 0;    // when the server's timing is next asked for
    // The record of writes on the stream that plays: each block's first byte index on the
    // stream and the steady time it was asked for, the last kWritesKept of written_.
    struct Write {
        std::int64_t index = 0;
        double asked = 0;
    };
    std::array<Write, kWritesKept> writes_{};
    std::size_t written_ = 0;
    std::int64_t writeIndex_ = 0;
    bool stalled_ = false;  // it has not asked for kStallSeconds: the gap renders
    double tryDeadline_ = 0;
    double nextFallback_ = 0;
    DeviceGap gap_;
    std::unique_ptr<Output> fallback_;  // output thread; the main thread once it is joined
    std::atomic<const Output*> fallbackShown_{nullptr};
    std::atomic<double> latency_{0.0};  // written by the output thread, read by any
    DeviceHealth health_;
    std::vector<float> block_;
    std::thread thread_;
    std::atomic<bool> running_{false};
};

}  // namespace

std::unique_ptr<Output> openPulseOutput(RenderTarget target, int rate, int blockFrames) {
    auto output = std::make_unique<PulseOutput>(target, rate, blockFrames);
    if (!output->open()) return nullptr;
    return output;
}

}  // namespace audio
