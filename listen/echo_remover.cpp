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

}  // namespace

EchoRemover::EchoRemover(int rate, const EchoRemoverSettings& settings)
    : block_(blockFor(rate)), size_(2 * block_), settings_(settings) {
    assert(rate > 0);
    partitions_ = std::max<std::size_t>(
        1, static_cast<std::size_t>(std::ceil(settings.filterSeconds * rate / block_)));
    warmupBlocks_ = static_cast<int64_t>(std::ceil(settings.warmupSeconds * rate / block_));

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
    std::fill(head_.begin(), head_.end(), 0.f);
    std::fill(recent_.begin(), recent_.end(), 0.f);
    std::fill(tail_.begin(), tail_.end(), 0.f);
    newest_ = 0;
    fill_ = 0;
    nextConstrained_ = 1;
    activeBlocks_ = 0;
    leak_ = 1.f;
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
                const std::complex<float> odd = data[start + k + half] * w;
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
    for (std::size_t k = 0; k < bins; ++k) {
        power_[k] += std::norm(scratch_[k]) - std::norm(newest[k]);
        newest[k] = scratch_[k];
    }
    // Refreshing the running sums now and then keeps rounding from piling up.
    if (newest_ == 0) {
        std::fill(power_.begin(), power_.end(), 0.f);
        for (const Spectrum& h : history_)
            for (std::size_t k = 0; k < bins; ++k) power_[k] += std::norm(h[k]);
    }

    float errorEnergy = 0.f, echoEnergy = 0.f, referenceEnergy = 0.f;
    for (std::size_t i = 0; i < block_; ++i) {
        errorEnergy += blockError_[i] * blockError_[i];
        echoEnergy += blockEcho_[i] * blockEcho_[i];
        referenceEnergy += recent_[block_ + i] * recent_[block_ + i];
    }
    if (referenceEnergy > silentMeanSquare * float(block_)) ++activeBlocks_;

    // How much of the prediction is left over as echo, followed quickly downwards (blocks of
    // echo alone) and slowly upwards (the learner's strokes lift it for a moment only).
    const float floorEnergy = silentMeanSquare * float(block_);
    if (echoEnergy > floorEnergy && activeBlocks_ >= warmupBlocks_) {
        const float ratio = std::clamp(errorEnergy / echoEnergy, 1e-4f, 1.f);
        const float rise = std::log(ratio / leak_);
        leak_ *= std::exp(rise < 0 ? 0.3f * rise : 0.01f * std::min(rise, 1.f));
        leak_ = std::clamp(leak_, 1e-4f, 1.f);
    }
    float step = settings_.step;
    if (activeBlocks_ >= warmupBlocks_)
        step *= std::min(1.f, leak_ * echoEnergy / std::max(errorEnergy, floorEnergy));

    if (step > 1e-6f && errorEnergy > 0.f) {
        for (std::size_t i = 0; i < block_; ++i) scratch_[i] = {};
        for (std::size_t i = 0; i < block_; ++i) scratch_[block_ + i] = {blockError_[i], 0.f};
        transform(scratch_.data(), false);
        // Regularised where the reference has had next to nothing in a bin.
        const float delta = float(size_) * float(partitions_) * silentMeanSquare;
        for (std::size_t k = 0; k < bins; ++k)
            scratch_[k] *= step / (power_[k] + delta);
        for (std::size_t p = 0; p < partitions_; ++p) {
            const Spectrum& x = history_[(newest_ + partitions_ - p) % partitions_];
            Spectrum& w = weights_[p];
            for (std::size_t k = 0; k < bins; ++k) w[k] += std::conj(x[k]) * scratch_[k];
        }
        constrain(0);
        if (partitions_ > 1) {
            constrain(nextConstrained_);
            nextConstrained_ = nextConstrained_ + 1 < partitions_ ? nextConstrained_ + 1 : 1;
        }
    }

    // The next block's prediction from every partition but the first: their reference blocks
    // are all in the past already.
    std::fill(tail_.begin(), tail_.end(), 0.f);
    if (partitions_ > 1) {
        for (std::size_t k = 0; k < bins; ++k) scratch_[k] = {};
        for (std::size_t p = 1; p < partitions_; ++p) {
            const Spectrum& x = history_[(newest_ + partitions_ + 1 - p) % partitions_];
            const Spectrum& w = weights_[p];
            for (std::size_t k = 0; k < bins; ++k) scratch_[k] += w[k] * x[k];
        }
        for (std::size_t k = bins; k < size_; ++k) scratch_[k] = std::conj(scratch_[size_ - k]);
        transform(scratch_.data(), true);
        for (std::size_t i = 0; i < block_; ++i) tail_[i] = scratch_[block_ + i].real();
    }

    std::copy(recent_.begin() + block_, recent_.end(), recent_.begin());
    fill_ = 0;
}
