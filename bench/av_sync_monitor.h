// av_sync_monitor.h - records a sound server's source (the null sink's monitor) inside this
// process, and dates the recording on CLOCK_MONOTONIC as the moments the sink played it.
//
// Dating: each time a fragment is taken from the record stream, pa_stream_get_latency is
// asked at that instant. For a stream on a monitor it says how long ago the sink played the
// fragment's first frame (negative while the sink's clock has not reached it yet: a sink
// renders ahead of its clock), so that frame left the sink at now - latency. Every fragment
// gives one such anchor: its offset is its played time minus frame / rate. A null sink
// renders exactly rate frames per second of the monotonic clock, so the true offset is one
// constant; the anchors wander around it with the client library's timing estimates (by a
// few ms, more when this process stalls). The recording is therefore dated by one offset:
// the median of the anchors from the moment the stream's clock held still (waitSteady) to
// the end, and calibration() reports how far the anchors wander from it.
//
// Threads: start and stop on one controlling thread; the fragments are taken on the
// client library's own thread. The results are read after stop.
// Ownership: the recorder owns its client library objects and its recording.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "measure/record_stream.h"

class MonitorRecorder {
public:
    struct Calibration {
        std::size_t anchors = 0;          // fragments dated
        std::size_t used = 0;             // anchors from the steady moment on, which date it
        double offsetSeconds = 0.0;       // played time of frame 0 (CLOCK_MONOTONIC)
        double spreadP5Ms = 0.0;          // those anchors' offsets against the median,
        double spreadP95Ms = 0.0;         //   5th and 95th percentile
        double latencyMinMs = 0.0;        // the record stream's latency at each fragment
        double latencyMedianMs = 0.0;     //   (playing to being read here; negative: read
        double latencyMaxMs = 0.0;        //   before the sink's clock reached it)
        double arrivalMedianMs = 0.0;     // a fragment's last frame played to its arrival
        std::size_t holeFrames = 0;       // frames the server dropped (filled with zeros)
    };

    MonitorRecorder() = default;
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;
    ~MonitorRecorder();

    // Connects to the server of the environment (PULSE_SERVER) and records the source, as
    // 48 kHz stereo float in fragments of about 5 ms. Blocks until the stream records; false
    // with a message when it cannot.
    bool start(const std::string& source, std::string* error);
    // Waits until the record stream's clock holds still: the offsets of the fragments of
    // the last second within 0.5 ms of their median. A stream's timing glides for a while
    // after the sink starts running. False when it did not within the timeout. The
    // recording is dated by the fragments from then on.
    bool waitSteady(double timeoutSeconds);
    // Ends the recording; the results below are valid after it.
    void stop();

    int rate() const { return record_stream::rate; }
    const std::vector<float>& samples() const { return samples_; }  // interleaved stereo
    std::size_t frames() const { return samples_.size() / 2; }
    // The CLOCK_MONOTONIC second at which the sink played the given frame (after stop).
    double playedAt(double frame) const { return calibration_.offsetSeconds + frame / rate(); }
    const Calibration& calibration() const { return calibration_; }

    struct Anchor {
        std::size_t frame;   // first frame of the fragment
        std::size_t frames;  // its length
        double readAt;       // when it was taken
        double latency;      // the stream's latency then, in seconds, signed
    };
    // Every dated fragment, in order (after stop).
    const std::vector<Anchor>& anchors() const { return anchors_; }

private:
    static void onRead(pa_stream* stream, std::size_t bytes, void* self);
    void calibrate();

    record_stream::Stream stream_;
    std::vector<float> samples_;
    std::vector<Anchor> anchors_;
    std::size_t holeFrames_ = 0;
    double steadyAt_ = 0.0;  // when waitSteady found the clock still (0: not asked)
    Calibration calibration_;
};
