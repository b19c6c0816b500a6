// fft.h - a small real FFT for power-of-two sizes, for the listener's spectra.
//
// Radix-2, with the twiddles and the bit-reversal order worked out once when the plan is
// made; a transform allocates nothing. Our own because no FFT library is at hand in both the
// Linux and the MinGW Windows builds, and the listener's sizes are small.
//
// Threads: a plan is used by one thread at a time (it keeps its scratch). Ownership: the plan
// owns its tables and scratch; callers own the buffers they pass.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

class RealFft {
public:
    // size: a power of two, at least 4.
    explicit RealFft(std::size_t size);

    std::size_t size() const { return size_; }

    // The spectrum of size real samples: bins 0..size/2 (size/2 + 1 of them) into out.
    void forward(const float* in, std::complex<float>* out);

    // Squared magnitudes of bins 0..size/2 into power (size/2 + 1 values).
    void power(const float* in, float* power);

private:
    void transformHalf(const float* in);           // the half-size complex transform
    std::complex<float> bin(std::size_t k) const;  // bin k of the real spectrum, from it

    std::size_t size_;
    std::vector<std::size_t> reversed_;  // bit-reversed index of each of size/2 slots
    std::vector<float> cos_, sin_;       // e^{-2 pi i k / size}, k < size/2
    std::vector<float> re_, im_;         // the half-size transform's size/2 points
};
