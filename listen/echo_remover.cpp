// The tutor's own sound out of the microphone input: a partitioned frequency-domain NLMS
// filter, its first block of taps run in the time domain so that nothing is delayed.
#include "listen/echo_remover.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numbers>

namespace {

// About 2.7 ms blocks: short enough that the time-domain head stays cheap, long enough that
// the transforms run a few hundred times a second, not thousands.
std::size_t blockFor(int rate) {
    std::size_t block = 16;
    while (block * 375 < static_cast<std::size_t>(rate)) block *= 2;
    return block;
}

// Below this mean square a block of reference is silence (about -80 dBFS).
constexpr float silentMeanSquare = 1e-8f;

// After warming up, a block teaches the filter only while its error is under this share of
// the echo it predicted, fully when far under.
constexpr float doubleTalkRatio = 0.5f;

// A block of reference within this share of its recent loudest teaches at the full step;
// the loudest falls back by this much a block (about 10 dB a second).
constexpr float loudShare = 0.05f;
constexpr float peakFall = 0.9938f;

// The noise floor's rise a block (about 5 dB a second), and how far above it a bin's error
// has to be before it teaches anything: the least of a noisy spectrum lies well under its
// mean, hence the wide margin.
constexpr float noiseRise = 1.003f;
constexpr float noiseMargin = 30.f;
// A block of reference this far under its recent loudest (30 dB) leaves the noise audible.
constexpr float quietShare = 1e-3f;

// Bins the reference has left nearly empty would take huge steps on what spills into them
// from their neighbours: none is normalised by less than this share of the mean power.
constexpr float whiteningFloor = 0.05f;

// Complex products written out: std::complex's operator* guards against infinities and
// NaNs through a library call, which costs more than the whole product here.
inline std::complex<float> times(std::complex<float> a, std::complex<float> b) {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}
inline std::complex<float> conjTimes(std::complex<float> a, std::complex<float> b) {
    return {a.real() * b.real() + a.imag() * b.imag(), a.real() * b.imag() - a.imag() * b.real()};
}

}  // namespace

EchoRemover::EchoRemover(int rate, const EchoRemoverSettings& settings)
    : block_(blockFor(rate)), size_(2 * block_), settings_(settings) {
    assert(rate > 0);
    warmupBlocks_ = static_cast<int64_t>(std::ceil(settings.warmupSeconds * rate / block_));
    partitions_ = std::max<std::size_t>(
        1, static_cast<std::size_t>(std::ceil(settings.filterSeconds * rate / block_)));

    twiddles_.resize(size_ / 2);
    for (std::size_t k = 0; k < size_ / 2; ++k) {
        double angle = -2.0 * std::numbers::pi * double(k) / double(size_);
        twiddles_[k] = {float(std::cos(angle)), float(std::sin(angle))};
    }
    reversed_.resize(size_);
    std::size_t bits = 0;
    while ((std::size_t(1) << bits) < size_) ++bits;
    for (std::size_t i = 0; i < size_; ++i) {
        std::size_t r = 0;
        for (std::size_t b = 0; b < bits; ++b)
            if (i & (std::size_t(1) << b)) r |= std::size_t(1) << (bits - 1 - b);
        reversed_[i] = r;
    }

    const std::size_t bins = size_ / 2 + 1;
    weights_.assign(partitions_, Spectrum(bins));
    history_.assign(partitions_, Spectrum(bins));
    power_.assign(bins, 0.f);
    stepOf_.assign(bins, 0.f);
    smoothedError_.assign(bins, 0.f);
    noiseFloor_.assign(bins, 0.f);
    head_.assign(block_, 0.f);
    recent_.assign(2 * block_, 0.f);
    blockError_.assign(block_, 0.f);
    blockEcho_.assign(block_, 0.f);
    tail_.assign(block_, 0.f);
    scratch_.assign(size_, {});
    scratch2_.assign(size_, {});
}

void EchoRemover::reset() {
    for (auto& w : weights_) std::fill(w.begin(), w.end(), std::complex<float>{});
    for (auto& h : history_) std::fill(h.begin(), h.end(), std::complex<float>{});
    std::fill(power_.begin(), power_.end(), 0.f);
    std::fill(smoothedError_.begin(), smoothedError_.end(), 0.f);
    std::fill(noiseFloor_.begin(), noiseFloor_.end(), 0.f);
    std::fill(head_.begin(), head_.end(), 0.f);
    std::fill(recent_.begin(), recent_.end(), 0.f);
    std::fill(tail_.begin(), tail_.end(), 0.f);
    newest_ = 0;
    fill_ = 0;
    nextConstrained_ = 1;
    activeBlocks_ = 0;
    referencePeak_ = 0.f;
    frames_ = 0;
}

void EchoRemover::process(const float* input, const float* reference, std::size_t count,
                          float* out) {
    for (std::size_t i = 0; i < count; ++i) {
        const float in = input[i];
        recent_[block_ + fill_] = reference[i];
        // head_ holds the first taps reversed, so the dot runs forward over the reference
        // that ends at this frame.
        const float* x = &recent_[fill_ + 1];
        float echo = tail_[fill_];
        for (std::size_t k = 0; k < block_; ++k) echo += head_[k] * x[k];
        const float error = in - echo;
        out[i] = error;
        blockError_[fill_] = error;
        blockEcho_[fill_] = echo;
        if (++fill_ == block_) endBlock();
    }
    frames_ += static_cast<int64_t>(count);
}

void EchoRemover::transform(std::complex<float>* data, bool inverse) {
    for (std::size_t i = 0; i < size_; ++i)
        if (i < reversed_[i]) std::swap(data[i], data[reversed_[i]]);
    for (std::size_t half = 1; half < size_; half *= 2) {
        const std::size_t stride = size_ / (2 * half);
        for (std::size_t start = 0; start < size_; start += 2 * half) {
            for (std::size_t k = 0; k < half; ++k) {
                std::complex<float> w = twiddles_[k * stride];
                if (inverse) w = std::conj(w);
                const std::complex<float> odd = times(data[start + k + half], w);
                data[start + k + half] = data[start + k] - odd;
                data[start + k] += odd;
            }
        }
    }
    if (inverse) {
        const float scale = 1.f / float(size_);
        for (std::size_t i = 0; i < size_; ++i) data[i] *= scale;
    }
}

// A partition's weights back to a filter of one block of taps: the frequency-domain update
// lets them spread over two blocks, which would wrap around the circular convolution.
void EchoRemover::constrain(std::size_t partition) {
    Spectrum& w = weights_[partition];
    const std::size_t bins = size_ / 2 + 1;
    for (std::size_t k = 0; k < bins; ++k) scratch2_[k] = w[k];
    for (std::size_t k = bins; k < size_; ++k) scratch2_[k] = std::conj(w[size_ - k]);
    transform(scratch2_.data(), true);
    for (std::size_t i = 0; i < block_; ++i) scratch2_[i] = {scratch2_[i].real(), 0.f};
    for (std::size_t i = block_; i < size_; ++i) scratch2_[i] = {};
    if (partition == 0)
        for (std::size_t i = 0; i < block_; ++i) head_[block_ - 1 - i] = scratch2_[i].real();
    transform(scratch2_.data(), false);
    for (std::size_t k = 0; k < bins; ++k) w[k] = scratch2_[k];
}

void EchoRemover::endBlock() {
    const std::size_t bins = size_ / 2 + 1;

    // The reference spectrum of the block before and this one (overlap-save).
    for (std::size_t i = 0; i < size_; ++i) scratch_[i] = {recent_[i], 0.f};
    transform(scratch_.data(), false);
    newest_ = (newest_ + 1) % partitions_;
    Spectrum& newest = history_[newest_];
    for (std::size_t k = 0; k < bins; ++k) newest[k] = scratch_[k];
    // Summed afresh each block: a running sum, with strokes tens of decibels above the tails
    // between them, would leave rounding errors as large as the tails themselves.
    std::fill(power_.begin(), power_.end(), 0.f);
    for (const Spectrum& h : history_)
        for (std::size_t k = 0; k < bins; ++k) power_[k] += std::norm(h[k]);

    float errorEnergy = 0.f, echoEnergy = 0.f, referenceEnergy = 0.f;
    for (std::size_t i = 0; i < block_; ++i) {
        errorEnergy += blockError_[i] * blockError_[i];
        echoEnergy += blockEcho_[i] * blockEcho_[i];
        referenceEnergy += recent_[block_ + i] * recent_[block_ + i];
    }
    const float floorEnergy = silentMeanSquare * float(block_);
    if (errorEnergy <= floorEnergy) {
        predictTail();
        return;
    }

    // How fast to learn: only from the reference's loud parts (in its quiet tails the room's
    // noise outweighs the echo, and NLMS, normalised by the reference's power, would take
    // large steps on it); while warming up (the tutor's first seconds, the learner listening)
    // at the full step; after that only in blocks where the echo predicted is most of the
    // input. A learner's stroke is not echo, and a learner playing along lands on the same
    // steps as the tutor, so a filter that learnt through their strokes would learn to
    // cancel them.
    referencePeak_ = std::max(referencePeak_ * peakFall, referenceEnergy);
    float rate = settings_.step * std::min(1.f, referenceEnergy / (loudShare * referencePeak_));
    if (referenceEnergy > floorEnergy) ++activeBlocks_;
    if (activeBlocks_ >= warmupBlocks_)
        rate *= std::clamp(1.f - errorEnergy / (doubleTalkRatio * echoEnergy), 0.f, 1.f);
    for (std::size_t i = 0; i < block_; ++i) scratch_[i] = {};
    for (std::size_t i = 0; i < block_; ++i) scratch_[block_ + i] = {blockError_[i], 0.f};
    transform(scratch_.data(), false);
    // The room's noise in each bin: the least the error has been, a little smoothed, while
    // the tutor was quiet (the lead-in, rests), let rise by about 5 dB a second of such
    // blocks so that it follows a noisier room. None until the tutor has been quiet.
    const bool quiet = referenceEnergy < quietShare * referencePeak_;
    for (std::size_t k = 0; k < bins; ++k) {
        smoothedError_[k] += 0.3f * (std::norm(scratch_[k]) - smoothedError_[k]);
        if (quiet)
            noiseFloor_[k] = noiseFloor_[k] > 0.f
                                 ? std::min(noiseFloor_[k] * noiseRise, smoothedError_[k])
                                 : smoothedError_[k];
    }
    if (rate <= 0.f) {
        predictTail();
        return;
    }

    // A bin where the error is mostly the room's noise has no echo to learn from: its step
    // goes to nothing there, or it would learn the noise.
    for (std::size_t k = 0; k < bins; ++k) {
        const float error = std::norm(scratch_[k]);
        const float clean = error > 0.f ? 1.f - noiseMargin * noiseFloor_[k] / error : 0.f;
        stepOf_[k] = rate * std::max(0.f, clean);
    }

    float meanPower = 0.f;
    for (std::size_t k = 0; k < bins; ++k) meanPower += power_[k];
    meanPower /= float(bins);
    const float delta = std::max(float(size_) * float(partitions_) * silentMeanSquare,
                                 whiteningFloor * meanPower);
    for (std::size_t k = 0; k < bins; ++k) scratch_[k] *= stepOf_[k] / (power_[k] + delta);
    for (std::size_t p = 0; p < partitions_; ++p) {
        const Spectrum& x = history_[(newest_ + partitions_ - p) % partitions_];
        Spectrum& w = weights_[p];
        for (std::size_t k = 0; k < bins; ++k) w[k] += conjTimes(x[k], scratch_[k]);
    }
    constrain(0);
    if (partitions_ > 1) {
        constrain(nextConstrained_);
        nextConstrained_ = nextConstrained_ + 1 < partitions_ ? nextConstrained_ + 1 : 1;
    }
    predictTail();
}

void EchoRemover::predictTail() {
    const std::size_t bins = size_ / 2 + 1;
    // The next block's prediction from every partition but the first: their reference blocks
    // are all in the past already.
    std::fill(tail_.begin(), tail_.end(), 0.f);
    if (partitions_ > 1) {
        for (std::size_t k = 0; k < bins; ++k) scratch_[k] = {};
        for (std::size_t p = 1; p < partitions_; ++p) {
            const Spectrum& x = history_[(newest_ + partitions_ + 1 - p) % partitions_];
            const Spectrum& w = weights_[p];
            for (std::size_t k = 0; k < bins; ++k) scratch_[k] += times(w[k], x[k]);
        }
        for (std::size_t k = bins; k < size_; ++k) scratch_[k] = std::conj(scratch_[size_ - k]);
        transform(scratch_.data(), true);
        for (std::size_t i = 0; i < block_; ++i) tail_[i] = scratch_[block_ + i].real();
    }

    std::copy(recent_.begin() + block_, recent_.end(), recent_.begin());
    fill_ = 0;
}
