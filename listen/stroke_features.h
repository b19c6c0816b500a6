// stroke_features.h - what the listener measures of a stroke to tell its kind: a few
// spectral and temporal features of the first strokeWindowSeconds after its onset.
//
// The features do not change with the stroke's loudness (band energies are shares of the
// whole, the decay is a ratio) nor with the sample rate (bands in hertz, times in seconds),
// so one calibration serves any input gain and rate. What was sounding before the onset (the
// tail of the stroke before, the room) is taken off, bin by bin, so a tek just after a doum
// still sounds like a tek.
//   0-4  share of the window's energy below 200 Hz, 200-600, 600-1500, 1500-4000 and above
//        4000 Hz, in bels (log10), floored at -6
//   5    spectral centroid, log2 of hertz
//   6    decay: energy of the window's second half over its first, in bels
//
// Threads: a StrokeFeatureMeter is used by one thread at a time. Ownership: the meter owns its
// FFT plan and scratch (no allocation per measure); callers own the samples.
#pragma once

#include <array>
#include <cstddef>
#include <memory>

constexpr int strokeFeatureCount = 7;
constexpr double strokeWindowSeconds = 0.020;

using StrokeFeatures = std::array<float, strokeFeatureCount>;

class RealFft;

class StrokeFeatureMeter {
public:
    explicit StrokeFeatureMeter(int rate);
    ~StrokeFeatureMeter();
    StrokeFeatureMeter(StrokeFeatureMeter&&) noexcept;
    StrokeFeatureMeter& operator=(StrokeFeatureMeter&&) noexcept;

    // Samples in the window after an onset: strokeWindowSeconds at this rate.
    std::size_t windowFrames() const { return window_; }

    // Features of window samples starting at the onset; a shorter count is padded with
    // silence. before: the beforeCount samples just ahead of the onset (up to windowFrames()
    // of them, the nearest last), or none.
    StrokeFeatures measure(const float* window, std::size_t count, const float* before = nullptr,
                           std::size_t beforeCount = 0);

private:
    int rate_;
    std::size_t window_;
    std::unique_ptr<RealFft> fft_;
    std::array<float, 4096> frame_{};
    std::array<float, 2049> power_{};
    std::array<float, 2049> powerBefore_{};

    // The faded window's power spectrum into power; the energies of its two halves.
    void spectrum(const float* samples, std::size_t count, float* power, double& firstHalf,
                  double& secondHalf);
};
