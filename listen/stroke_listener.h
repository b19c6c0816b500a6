// stroke_listener.h - hears strokes in a stream of mono samples: their onsets to the sample,
// their kinds against a calibration, and how loud they were.
//
// The onset detector and the feature meter in one streaming unit, what the tutor feeds from
// its capture ring and the command-line scorer from a recorded take. A stroke is reported once
// the window after its onset has been fed, so at most latencyFrames() after it (a stroke that
// opens the stream, up to a fifth of a second: see onset_detector.h).
//
// Threads: one listener is fed by one thread at a time. Ownership: the listener owns its
// detector, a short history of the samples and its calibration (a copy); feeding allocates
// nothing once warm; callers own the blocks and vectors they pass. The calibration should be
// one made at (or near) this rate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "listen/onset_detector.h"
#include "listen/stroke_calibration.h"
#include "listen/stroke_features.h"
#include "listen/stroke_kind.h"

struct HeardStroke {
    int64_t frame = 0;  // sample index of the onset, 0 at the first sample fed
    StrokeKind kind = StrokeKind::Doum;
    float confidence = 0.f;  // 0..1
    float level = 0.f;       // peak of the window after the onset, dBFS
};

class StrokeListener {
public:
    StrokeListener(int rate, const StrokeCalibration& calibration);

    // Takes count samples (any block size) and appends the strokes that became certain.
    void feed(const float* mono, std::size_t count, std::vector<HeardStroke>& heard);

    // End of stream: the strokes still held back, those near the end measured on what there is.
    void flush(std::vector<HeardStroke>& heard);

    // At most this many samples after an onset have to be fed before its stroke is reported.
    int64_t latencyFrames() const;

    int64_t framesFed() const;

    // Back to the state after construction, the calibration kept.
    void reset();

private:
    void emitReady(std::vector<HeardStroke>& heard, bool ending);

    StrokeCalibration calibration_;
    OnsetDetector detector_;
    StrokeFeatureMeter meter_;
    std::vector<float> history_;  // ring of the latest samples, a power of two long
    int64_t fed_ = 0;
    std::vector<Onset> pending_;  // onsets found whose window is not all here yet
    std::vector<Onset> found_;    // scratch for the detector
    std::vector<float> window_;   // scratch: one window copied out of the ring
    std::vector<float> before_;   // and the samples just before it
};
