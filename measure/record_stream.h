// record_stream.h - a record stream on a source of the sound server the environment names
// (PULSE_SERVER), for the benchmarks that record a null sink's monitor inside their own
// process: a threaded libpulse main loop of its own, one stream of 48 kHz stereo float in
// fragments of the size asked for, with timing updates, and the caller's read callback on
// the loop's thread. Header only; link libpulse.
//
// Threads: start and stop on one controlling thread; the read callback runs on the loop's
// thread with its lock held (lock() takes the same lock). Ownership: the stream owns its
// client library objects; the callback's user data stays the caller's.
#pragma once

#include <pulse/pulseaudio.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace record_stream {

constexpr uint32_t rate = 48000;
constexpr uint8_t channels = 2;

class Stream {
public:
    using Read = void (*)(pa_stream* stream, std::size_t bytes, void* user);

    Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    ~Stream() { stop(); }

    // Connects and starts recording source; blocks until the stream records. False with a
    // message in error when it cannot.
    bool start(const char* name, const std::string& source, uint32_t fragmentBytes, pa_stream_flags_t extraFlags,
               Read read, void* user, std::string* error) {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return failed(error, "no client main loop");
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), name);
        if (!context_) return failed(error, "no client context");
        pa_context_set_state_callback(context_, &Stream::signalContext, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_threaded_mainloop_start(loop_) < 0)
            return failed(error, std::string("cannot connect to the sound server: ") + reason());
        pa_threaded_mainloop_lock(loop_);
        bool ok = true;
        while (ok && pa_context_get_state(context_) != PA_CONTEXT_READY) {
            ok = PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
            if (ok) pa_threaded_mainloop_wait(loop_);
        }
        if (!ok) {
            pa_threaded_mainloop_unlock(loop_);
            return failed(error, std::string("the sound server refused: ") + reason());
        }
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, rate, channels};
        stream_ = pa_stream_new(context_, name, &format, nullptr);
        if (stream_) {
            pa_buffer_attr attributes{};
            attributes.maxlength = static_cast<uint32_t>(-1);
            attributes.fragsize = fragmentBytes;
            pa_stream_set_state_callback(stream_, &Stream::signalStream, this);
            pa_stream_set_read_callback(stream_, read, user);
            const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                              PA_STREAM_AUTO_TIMING_UPDATE | extraFlags);
            ok = pa_stream_connect_record(stream_, source.c_str(), &attributes, flags) >= 0;
        }
        while (ok && stream_ && pa_stream_get_state(stream_) != PA_STREAM_READY) {
            ok = PA_STREAM_IS_GOOD(pa_stream_get_state(stream_));
            if (ok) pa_threaded_mainloop_wait(loop_);
        }
        pa_threaded_mainloop_unlock(loop_);
        if (!ok || !stream_) return failed(error, "cannot record " + source + ": " + reason());
        return true;
    }

    void stop() {
        if (!loop_) return;
        pa_threaded_mainloop_lock(loop_);
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
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }

    // The loop's lock, which the read callback holds while it runs.
    void lock() { pa_threaded_mainloop_lock(loop_); }
    void unlock() { pa_threaded_mainloop_unlock(loop_); }

private:
    static void signalContext(pa_context*, void* self) {
        pa_threaded_mainloop_signal(static_cast<Stream*>(self)->loop_, 0);
    }
    static void signalStream(pa_stream*, void* self) {
        pa_threaded_mainloop_signal(static_cast<Stream*>(self)->loop_, 0);
    }
    std::string reason() const { return context_ ? pa_strerror(pa_context_errno(context_)) : "no context"; }
    static bool failed(std::string* error, const std::string& message) {
        if (error) *error = message;
        return false;
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
};

}  // namespace record_stream
