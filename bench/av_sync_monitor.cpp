// The in-process recorder of the sink's monitor, dated by the record stream's latency.
#include "bench/av_sync_monitor.h"

#include <pulse/pulseaudio.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

constexpr int channels = record_stream::channels;

}  // namespace

MonitorRecorder::~MonitorRecorder() { stop(); }

void MonitorRecorder::onRead(pa_stream* stream, std::size_t, void* self) {
    auto* recorder = static_cast<MonitorRecorder*>(self);
    const void* data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        // The latency is that of the fragment's first frame, taken before it is dropped.
        pa_usec_t usec = 0;
        int negative = 0;
        const bool dated = pa_stream_get_latency(stream, &usec, &negative) == 0;
        const double readAt = monotonicSeconds();
        const std::size_t first = recorder->frames();
        const std::size_t count = bytes / (channels * sizeof(float));
        if (data) {
            const auto* values = static_cast<const float*>(data);
            recorder->samples_.insert(recorder->samples_.end(), values, values + count * channels);
        } else {
            // A hole: the server lost these frames; zeros keep the frame count true.
            recorder->samples_.resize(recorder->samples_.size() + count * channels, 0.0f);
            recorder->holeFrames_ += count;
        }
        if (dated) {
            const double latency = (negative ? -1.0 : 1.0) * static_cast<double>(usec) * 1e-6;
            recorder->anchors_.push_back(Anchor{first, count, readAt, latency});
        }
        pa_stream_drop(stream);
    }
}

bool MonitorRecorder::start(const std::string& source, std::string* error) {
    samples_.reserve(static_cast<std::size_t>(rate()) * channels * 120);
    // Small fragments, so each is taken soon after the server has it; the latency of each
    // is still what dates it, however late it is taken.
    const uint32_t fragment = static_cast<uint32_t>(rate() / 200 * channels * sizeof(float));  // 5 ms
    return stream_.start("av_sync monitor", source, fragment, PA_STREAM_DONT_MOVE, &MonitorRecorder::onRead, this,
                         error);
}

bool MonitorRecorder::waitSteady(double timeoutSeconds) {
    const double until = monotonicSeconds() + timeoutSeconds;
    while (monotonicSeconds() < until) {
        std::vector<double> recent;
        stream_.lock();  // the fragments are taken with the lock held
        const double since = monotonicSeconds() - 1.0;
        for (auto anchor = anchors_.rbegin(); anchor != anchors_.rend() && anchor->readAt > since; ++anchor)
            recent.push_back(anchor->readAt - anchor->latency - static_cast<double>(anchor->frame) / rate());
        const bool recording = !anchors_.empty() && anchors_.front().readAt < since;
        stream_.unlock();
        if (recording && recent.size() >= 50) {
            const double middle = percentile(recent, 0.5);
            const auto [low, high] = std::minmax_element(recent.begin(), recent.end());
            if (middle - *low < 0.0005 && *high - middle < 0.0005) {
                steadyAt_ = monotonicSeconds();
                return true;
            }
        }
        struct timespec pause{0, 50000000};
        nanosleep(&pause, nullptr);
    }
    steadyAt_ = monotonicSeconds();
    return false;
}

void MonitorRecorder::stop() {
    stream_.stop();
    calibrate();
}

void MonitorRecorder::calibrate() {
    Calibration result;
    result.holeFrames = holeFrames_;
    result.anchors = anchors_.size();
    if (anchors_.empty()) {
        calibration_ = result;
        return;
    }
    std::vector<double> offsets, latencies, arrivals;
    for (const Anchor& anchor : anchors_) {
        if (anchor.readAt < steadyAt_) continue;
        offsets.push_back(anchor.readAt - anchor.latency - static_cast<double>(anchor.frame) / rate());
        latencies.push_back(1000.0 * anchor.latency);
    }
    if (offsets.empty()) {
        for (const Anchor& anchor : anchors_) {
            offsets.push_back(anchor.readAt - anchor.latency - static_cast<double>(anchor.frame) / rate());
            latencies.push_back(1000.0 * anchor.latency);
        }
    }
    result.used = offsets.size();
    result.offsetSeconds = percentile(offsets, 0.5);
    for (const Anchor& anchor : anchors_) {
        if (anchor.readAt < steadyAt_) continue;
        const double lastPlayed = result.offsetSeconds + static_cast<double>(anchor.frame + anchor.frames - 1) / rate();
        arrivals.push_back(1000.0 * (anchor.readAt - lastPlayed));
    }
    for (double& offset : offsets) offset = 1000.0 * (offset - result.offsetSeconds);
    result.spreadP5Ms = percentile(offsets, 0.05);
    result.spreadP95Ms = percentile(offsets, 0.95);
    result.latencyMinMs = percentile(latencies, 0.0);
    result.latencyMedianMs = percentile(latencies, 0.5);
    result.latencyMaxMs = percentile(latencies, 1.0);
    result.arrivalMedianMs = percentile(arrivals, 0.5);
    calibration_ = result;
}
