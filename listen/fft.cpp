#include "listen/fft.h"

#include <cassert>
#include <cmath>

// The real transform of size N runs as a complex one of N/2 points over the even samples
// (real part) and the odd ones (imaginary part), then splits the two spectra apart.
RealFft::RealFft(std::size_t size)
    : size_(size), reversed_(size / 2), twiddles_(size / 2), work_(size / 2) {
    assert(size >= 4 && (size & (size - 1)) == 0);
    const std::size_t half = size / 2;
    std::size_t bits = 0;
    while ((std::size_t{1} << bits) < half) ++bits;
    for (std::size_t i = 0; i < half; ++i) {
        std::size_t r = 0;
        for (std::size_t b = 0; b < bits; ++b)
            if (i & (std::size_t{1} << b)) r |= std::size_t{1} << (bits - 1 - b);
        reversed_[i] = r;
    }
    const double pi = std::acos(-1.0);
    for (std::size_t k = 0; k < half; ++k) {
        const double angle = -2.0 * pi * double(k) / double(size);
        twiddles_[k] = {float(std::cos(angle)), float(std::sin(angle))};
    }
}

void RealFft::transformHalf(const float* in) {
    const std::size_t half = size_ / 2;
    for (std::size_t i = 0; i < half; ++i) work_[reversed_[i]] = {in[2 * i], in[2 * i + 1]};
    // Butterflies of the half-size transform; its twiddles are every other one of ours.
    for (std::size_t len = 2; len <= half; len *= 2) {
        const std::size_t stride = 2 * (half / len);
        for (std::size_t start = 0; start < half; start += len) {
            for (std::size_t j = 0; j < len / 2; ++j) {
                const std::complex<float> t = twiddles_[j * stride] * work_[start + j + len / 2];
                const std::complex<float> u = work_[start + j];
                work_[start + j] = u + t;
                work_[start + j + len / 2] = u - t;
            }
        }
    }
}

std::complex<float> RealFft::bin(std::size_t k) const {
    const std::size_t half = size_ / 2;
    const std::complex<float> a = work_[k % half];
    const std::complex<float> b = std::conj(work_[(half - k) % half]);
    const std::complex<float> even = 0.5f * (a + b);
    const std::complex<float> odd = std::complex<float>{0.f, -0.5f} * (a - b);
    const std::complex<float> w = k < half ? twiddles_[k] : std::complex<float>{-1.f, 0.f};
    return even + w * odd;
}

void RealFft::forward(const float* in, std::complex<float>* out) {
    transformHalf(in);
    for (std::size_t k = 0; k <= size_ / 2; ++k) out[k] = bin(k);
}

void RealFft::power(const float* in, float* power) {
    transformHalf(in);
    for (std::size_t k = 0; k <= size_ / 2; ++k) power[k] = std::norm(bin(k));
}
