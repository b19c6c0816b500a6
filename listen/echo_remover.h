// echo_remover.h - takes the tutor's own playback out of the microphone input, so that the
// listener hears the learner and not the loudspeaker.
//
// The tutor knows exactly what it played: the reference is that signal, on the input's
// frames. What reaches the microphone is the reference through the loudspeaker and the room,
// a little later (the acoustic path, and whatever the latencies' estimate missed). An
// adaptive filter of filterSeconds learns that response and its prediction is subtracted from
// the input. The echo may lag the reference by anything from 0 to well inside filterSeconds;
// it must never lead it (feed the reference early rather than late when unsure).
//
// The filter is a partitioned frequency-domain NLMS in blocks of about 2.7 ms: its first
// block of taps is applied sample by sample, the rest from past blocks' spectra, so the
// output is on the input's own frames with no added latency. It learns at the full step for
// the first warmupSeconds of reference sound (the count-in or the first pass, while the
// learner listens), and after that only in blocks where the echo it predicts is most of the
// input: a learner playing along lands on the same steps as the tutor, and a filter that
// learnt through their strokes would learn to cancel them. It learns only from the
// reference's loud parts and, in each bin, only where the error stands well above the
// room's noise, since NLMS steps on noise as readily as on echo.
//
// Threads: one remover is used by one thread at a time. Ownership: the remover owns its
// filter and scratch, all sized at construction; process() allocates nothing. Callers own
// the blocks they pass.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

struct EchoRemoverSettings {
    double filterSeconds = 0.125;  // the longest echo path learnt, reverberation included
    double warmupSeconds = 2.0;    // reference sound heard before the learner is expected
    float step = 0.5f;             // the largest NLMS step
};

class EchoRemover {
public:
    explicit EchoRemover(int rate, const EchoRemoverSettings& settings = {});

    // input and reference hold count frames each, on the same frames; out gets the input
    // with the predicted echo subtracted. out may be the input itself. Any block size.
    void process(const float* input, const float* reference, std::size_t count, float* out);

    // Forgets what was learnt: back to the state after construction.
    void reset();

    // Frames processed since construction or reset.
    int64_t framesProcessed() const { return frames_; }

private:
    using Spectrum = std::vector<std::complex<float>>;

    void endBlock();
    void predictTail();  // the next block's prediction from all but the first taps
    void transform(std::complex<float>* data, bool inverse);
    void constrain(std::size_t partition);

    std::size_t block_;       // frames a block
    std::size_t size_;        // transform size, two blocks
    std::size_t partitions_;  // blocks of taps
    EchoRemoverSettings settings_;

    std::vector<std::complex<float>> twiddles_;
    std::vector<std::size_t> reversed_;

    std::vector<Spectrum> weights_;   // one spectrum a partition
    std::vector<Spectrum> history_;   // reference spectra of the latest blocks, a ring
    std::size_t newest_ = 0;          // index in history_ of the latest block's spectrum
    std::vector<float> power_;        // per bin: |X|^2 summed over the blocks in history_
    std::vector<float> stepOf_;       // per bin: this block's step
    std::vector<float> smoothedError_;  // per bin: the error's power, smoothed
    std::vector<float> noiseFloor_;   // per bin: the room's noise, as the error's lately least
    std::vector<float> head_;         // first block of taps, time domain, reversed for the dot
    std::vector<float> recent_;       // the reference: the block before, then this block
    std::vector<float> blockError_;   // this block's output
    std::vector<float> blockEcho_;    // this block's prediction
    std::vector<float> tail_;         // this block's prediction from all but the first taps
    Spectrum scratch_;
    Spectrum scratch2_;
    std::size_t fill_ = 0;            // frames of this block so far
    std::size_t nextConstrained_ = 1;
    int64_t warmupBlocks_ = 0;
    int64_t activeBlocks_ = 0;        // blocks with reference sound so far
    float referencePeak_ = 0.f;       // the loudest block of reference lately (energy)
    int64_t frames_ = 0;
};
