#include "listen/fft.h"

#include <cassert>
#include <cmath>

// The real transform of size N runs as a complex one of N/2 points over the even samples
// (real part) and the odd ones (imaginary part), then splits the two spectra apart. The
// arithmetic is written out on separate real and imaginary arrays: through std::complex the
// compiler shuffles the pairs through memory and the transform runs several times slower.
RealFft::RealFft(std::size_t size)
    : size_(size), reversed_(size / 2), cos_(size / 2), sin_(size / 2), re_(size / 2), im_(size / 2) {
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
        cos_[k] = float(std::cos(angle));
        sin_[k] = float(std::sin(angle));
    }
}

void RealFft::transformHalf(const float* in) {
    const std::size_t half = size_ / 2;
    float* re = re_.data();
    float* im = im_.data();
    for (std::size_t i = 0; i < half; ++i) {
        re[reversed_[i]] = in[2 * i];
        im[reversed_[i]] = in[2 * i + 1];
    }
    // Butterflies of the half-size transform; its twiddles are every other one of ours.
    for (std::size_t len = 2; len <= half; len *= 2) {
        const std::size_t step = len / 2, stride = 2 * (half / len);
        for (std::size_t start = 0; start < half; start += len) {
            for (std::size_t j = 0; j < step; ++j) {
                const float wr = cos_[j * stride], wi = sin_[j * stride];
                const std::size_t a = start + j, b = a + step;
                const float tr = wr * re[b] - wi * im[b];
                const float ti = wr * im[b] + wi * re[b];
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] += tr;
                im[a] += ti;
            }
        }
    }
}

std::complex<float> RealFft::bin(std::size_t k) const {
    const std::size_t half = size_ / 2;
    const std::size_t p = k % half, q = (half - k) % half;
    // Z[k] and conj(Z[half - k]) give the even samples' spectrum (their half sum) and the odd
    // ones' (their half difference over i), which the twiddle then shifts into place.
    const float evenRe = 0.5f * (re_[p] + re_[q]), evenIm = 0.5f * (im_[p] - im_[q]);
    const float oddRe = 0.5f * (im_[p] + im_[q]), oddIm = -0.5f * (re_[p] - re_[q]);
    const float wr = k < half ? cos_[k] : -1.f, wi = k < half ? sin_[k] : 0.f;
    return {evenRe + wr * oddRe - wi * oddIm, evenIm + wr * oddIm + wi * oddRe};
}

void RealFft::forward(const float* in, std::complex<float>* out) {
    transformHalf(in);
    for (std::size_t k = 0; k <= size_ / 2; ++k) out[k] = bin(k);
}

void RealFft::power(const float* in, float* power) {
    transformHalf(in);
    for (std::size_t k = 0; k <= size_ / 2; ++k) {
        const std::complex<float> x = bin(k);
        power[k] = x.real() * x.real() + x.imag() * x.imag();
    }
}
