// The default input through a PulseAudio server (PipeWire serves the same protocol): a record
// stream on the server's default source, mono float at the mixer's rate (the server converts),
// in fragments of about 10 ms, on a threaded main loop of the input's own, apart from the
// output's, so that neither waits for the other.
//
// Dating the frames: twenty times a second the input asks the server for its timing; a report
// says, at the moment the server made it, how much the source had put into the stream (its
// write index) and how much more it holds (its latency). The frame at that index plus that
// latency reached the input at that moment; a frame read at index i reached it (i - that) /
// rate later. Each fragment read is dated from the latest report, and the dates are averaged
// over about a second (capture_stamp.h), since each report is off by a millisecond or two.
// (libpulse's own interpolated latency is not used: its smoother takes a second to follow a
// source that wakes up, and dates the first second's frames hundreds of milliseconds off.)
//
// A sink's monitor: the report also gives the sink's latency, by which the frames the sink has
// taken (and passed to its monitor) are heard after the report; it is taken off, as libpulse
// does for a monitor, so a monitor's frames are dated when they are heard. A sink that rewinds
// has its monitor hold frames back by up to its rewind window, which no report tells: there
// the dates come out early by up to that window (a few ms on a null sink).
//
// A server that goes away fails the context: the input stops writing and says it no longer
// captures; it does not reconnect (startCapture opens a new one).
#include <pulse/pulseaudio.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "capture.h"
#include "capture_stamp.h"
#include "clock.h"

namespace audio {

namespace {

constexpr double kFragmentSeconds = 0.010;
constexpr double kConnectTimeoutSeconds = 2.0;
constexpr double kTimingSeconds = 0.05;  // how often the server's timing is asked for

class PulseInput final : public Input {
public:
    explicit PulseInput(CaptureTarget target) : ring_(target.ring), status_(target.status), rate_(target.rate), stamp_(target.rate) {}
    ~PulseInput() override {
        stop();
        if (loop_) pa_threaded_mainloop_free(loop_);
    }

    // Connects and sets up the stream, held back (corked) until start; false when the server
    // cannot be reached or will not record within the time-out.
    bool open() {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return false;
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Tabladex");
        if (!context_) return false;
        pa_context_set_state_callback(context_, &PulseInput::contextChanged, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
        if (pa_threaded_mainloop_start(loop_) < 0) return false;
        looping_ = true;
        const double deadline = steadySeconds() + kConnectTimeoutSeconds;
        if (!waitUntil(deadline, [this] { return contextState(); })) return false;
        pa_threaded_mainloop_lock(loop_);
        const bool connected = connectStream();
        pa_threaded_mainloop_unlock(loop_);
        return connected && waitUntil(deadline, [this] { return streamState(); });
    }

    Result start() override {
        if (!stream_) return ErrInputInit;
        pa_threaded_mainloop_lock(loop_);
        pa_operation* uncork = pa_stream_cork(stream_, 0, nullptr, nullptr);
        if (uncork) pa_operation_unref(uncork);
        pa_threaded_mainloop_unlock(loop_);
        if (!uncork) return ErrInputInit;
        status_->capturing.store(true);
        return Ok;
    }

    void stop() override {
        if (looping_) pa_threaded_mainloop_lock(loop_);
        if (stream_) {
            pa_stream_set_read_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        if (looping_) {
            pa_threaded_mainloop_unlock(loop_);
            pa_threaded_mainloop_stop(loop_);
            looping_ = false;
        }
        status_->capturing.store(false);
    }

private:
    // 1 when ready, 0 on the way, -1 failed; the loop's lock is taken.
    int contextState() {
        const pa_context_state_t state = pa_context_get_state(context_);
        return state == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(state) ? 0 : -1;
    }
    int streamState() {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        return state == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(state) ? 0 : -1;
    }

    // Polls state (under the loop's lock) until it is settled or the deadline passes; true when
    // it came to 1. A short poll rather than a wait, so that a server that never answers
    // cannot hold the main thread past the deadline.
    template <class State>
    bool waitUntil(double deadline, State state) {
        for (;;) {
            pa_threaded_mainloop_lock(loop_);
            const int now = state();
            pa_threaded_mainloop_unlock(loop_);
            if (now != 0) return now > 0;
            if (steadySeconds() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    bool connectStream() {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(rate_), 1};
        stream_ = pa_stream_new(context_, "Listening", &format, nullptr);
        if (!stream_) return false;
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(kFragmentSeconds * rate_) * sizeof(float);
        pa_stream_set_read_callback(stream_, &PulseInput::readable, this);
        pa_stream_set_state_callback(stream_, &PulseInput::streamChanged, this);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_AUTO_TIMING_UPDATE |
                                                          PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
        return pa_stream_connect_record(stream_, nullptr, &attr, flags) >= 0;
    }

    // On the loop's thread: the server went away, or the source did.
    static void contextChanged(pa_context* context, void* user) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) static_cast<PulseInput*>(user)->status_->capturing.store(false);
    }
    static void streamChanged(pa_stream* stream, void* user) {
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) static_cast<PulseInput*>(user)->status_->capturing.store(false);
    }

    // On the loop's thread: every fragment that waits goes to the ring, dated.
    static void readable(pa_stream* stream, std::size_t, void* user) {
        auto* self = static_cast<PulseInput*>(user);
        const void* data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
            self->take(stream, static_cast<const float*>(data), bytes / sizeof(float));
            pa_stream_drop(stream);
        }
    }

    void take(pa_stream* stream, const float* mono, std::size_t frames) {
        const pa_timing_info* info = pa_stream_get_timing_info(stream);
        // A hole in the stream, or frames that cannot be dated (before the first timing
        // report, or after a jump the server has not yet reported): not kept.
        if (!mono || !info || info->read_index_corrupt || info->write_index_corrupt) {
            if (written_) ring_->lose();
            stamp_.restart();
            return;
        }
        const double now = clockNow();
        if (steadySeconds() >= timingDue_) {
            if (pa_operation* asking = pa_stream_update_timing_info(stream, nullptr, nullptr)) pa_operation_unref(asking);
            timingDue_ = steadySeconds() + kTimingSeconds;
        }
        timespec wall{};
        clock_gettime(CLOCK_REALTIME, &wall);
        const double reportedAt = now - (static_cast<double>(wall.tv_sec) + wall.tv_nsec * 1e-9) +
                                  static_cast<double>(info->timestamp.tv_sec) + info->timestamp.tv_usec * 1e-6;
        const double bytesPerSecond = static_cast<double>(rate_) * sizeof(float);
        const double atInput = static_cast<double>(info->write_index) / bytesPerSecond +
                               (static_cast<double>(info->source_usec) - static_cast<double>(info->sink_usec)) * 1e-6;
        const double first = reportedAt + static_cast<double>(info->read_index) / bytesPerSecond - atInput;
        ring_->write(mono, frames, stamp_.stamp(first, frames));
        written_ = true;
        status_->latency.store(now - first - static_cast<double>(frames) / rate_, std::memory_order_relaxed);
    }

    CaptureRing* ring_;
    CaptureStatus* status_;
    int rate_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;  // under the loop's lock, as is stream_
    pa_stream* stream_ = nullptr;
    bool looping_ = false;  // main thread
    // The loop's thread only.
    CaptureStamp stamp_;
    bool written_ = false;
    double timingDue_ = 0;  // steady seconds
};

}  // namespace

std::unique_ptr<Input> openPulseInput(CaptureTarget target) {
    auto input = std::make_unique<PulseInput>(target);
    if (!input->open()) return nullptr;
    return input;
}

}  // namespace audio
