// The echo remover takes out what the tutor played, heard through a room, and keeps what the
// learner played over it.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "listen/echo_remover.h"

TEST(EchoRemover, RemovesTheReferenceThroughItsPathAndKeepsTheOtherSignal) {
    const int rate = 48000;
    const std::size_t frames = 4 * rate;
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.f, 0.1f);
    std::vector<float> reference(frames), other(frames), input(frames), out(frames);
    for (float& x : reference) x = noise(random);
    // The learner: decaying bursts of their own noise, twice a second, 6 dB under the echo.
    for (std::size_t i = 0; i < frames; ++i)
        other[i] = 0.5f * noise(random) * std::exp(-double(i % (rate / 2)) / (0.05 * rate));
    // Loudspeaker to microphone: 0.8 ms late, a reflection and a weak later one.
    const std::size_t delays[] = {37, 52, 900};
    const float gains[] = {0.6f, -0.3f, 0.1f};
    for (std::size_t i = 0; i < frames; ++i) {
        input[i] = other[i];
        for (int t = 0; t < 3; ++t)
            if (i >= delays[t]) input[i] += gains[t] * reference[i - delays[t]];
    }

    EchoRemover remover(rate);
    // Blocks of uneven sizes, as a capture callback hands them over.
    for (std::size_t at = 0, n = 1; at < frames; at += n, n = n * 7 % 1000 + 1)
        remover.process(&input[at], &reference[at], std::min(n, frames - at), &out[at]);

    // The last second: what is left of the echo, against the echo and against the learner.
    double echo = 0, left = 0, kept = 0;
    for (std::size_t i = frames - rate; i < frames; ++i) {
        echo += std::pow(input[i] - other[i], 2);
        left += std::pow(out[i] - other[i], 2);
        kept += std::pow(other[i], 2);
    }
    EXPECT_LT(10 * std::log10(left / echo), -20.0) << "echo not removed";
    EXPECT_LT(10 * std::log10(left / kept), -10.0) << "what is left of the echo is not well under the learner";
}
