// onset_detector.h - finds where strokes begin in a stream of mono samples.
//
// Spectral flux on 1024-sample frames every 256 samples (Hann window, log-compressed
// magnitudes in third-octave bands, rises only) marks the frame of an attack when it stands
// above a running median of the flux before it and above a floor; the onset is then placed to
// the sample where the signal turns from what came before to the attack. The threshold looks
// only at past frames and a peak is confirmed one hop later, so an onset is reported at most
// latencyFrames() samples after it happened. Onsets closer than minGapSeconds to the one
// before are taken as part of it. Bands are measured against the larger of the room's noise,
// an absolute floor and what the strokes just before still mask, so a clean stroke's ringing
// is no new stroke, and a peak needs some of its rise over what the room's noise itself
// reaches in each band, so the noise's chance swings are no strokes. A stroke that opens the
// stream (nothing before it to rise from) is told from noise that opens it only as it dies
// away, so it is reported up to a fifth of a second late.
//
// Threads: one detector is fed by one thread at a time. Ownership: the detector owns its
// history and scratch (sized at construction: feeding allocates nothing); callers own the
// sample blocks and the vectors they pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct Onset {
    int64_t frame = 0;     // sample index, 0 at the first sample fed
    float strength = 0.f;  // the flux peak over its threshold; above 1
};

struct OnsetSettings {
    int rate = 48000;
    double minGapSeconds = 0.04;
};

class OnsetDetector {
public:
    explicit OnsetDetector(const OnsetSettings& settings = {});
    ~OnsetDetector();
    OnsetDetector(OnsetDetector&&) noexcept;
    OnsetDetector& operator=(OnsetDetector&&) noexcept;

    // Takes count samples (any block size) and appends the onsets that became certain, each
    // once and in order of frame.
    void feed(const float* mono, std::size_t count, std::vector<Onset>& found);

    // End of stream: appends what the samples fed so far still held back.
    void flush(std::vector<Onset>& found);

    // At most this many samples after an onset have to be fed before it is reported.
    int64_t latencyFrames() const;

    int64_t framesFed() const;

    // Back to the state after construction; frames count from 0 again. Needed after flush()
    // before another stream is fed.
    void reset();

private:
    struct State;
    std::unique_ptr<State> state_;
};
