// take_check: reads a take recorded from a sound server's monitor (raw signed 16-bit
// little-endian stereo) and reports where strokes start, how far apart they are, and every
// dropout. Built for the host by the Wine smoke run; also run by hand on long takes.
//
//   take_check TAKE.raw RATE STEP_SECONDS NOTATION [MIN_ONSETS]
//
// A stroke starts where the level of the signal's change from frame to frame jumps well
// above everything of the 10 ms before it (the drum samples have sharp attacks; a stroke
// can start while another still rings). Each interval between starts must be a whole
// number of steps within 5 ms, and the numbers of steps must follow the notation's strokes
// round its cycle. A dropout is sound cut off to digital silence: a run of at least 1 ms
// of exact zeros right after a sample of clear level (the samples end by fading, and the
// mixer ends a cut-off voice with a fade, so nothing else does that).
// Prints the figures; exits 1 when a check fails.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr float kOnsetFloor = 0.02f;     // an onset's change per frame is at least this
constexpr float kOnsetRise = 4.0f;       // ... and this many times the 10 ms before it
constexpr double kRefractory = 0.05;     // seconds between two onsets at least
constexpr float kCutLevel = 0.01f;       // a dropout cuts off sound at least this loud
// Starts are placed on their frame, but the mixer maps the clock to frames by the times the
// output asks for blocks, and Wine's driver asks in bursts of its 10 ms period: a few
// milliseconds of spread remain. A dropout or a late start moves a stroke far more.
constexpr double kToleranceSeconds = 0.005;

// Step counts between consecutive strokes of the notation, going round its end.
std::vector<int> strokeDistances(const std::string& notation) {
    std::vector<int> strokes;
    for (std::size_t i = 0; i < notation.size(); ++i) {
        if (notation[i] != '-') strokes.push_back(static_cast<int>(i));
    }
    std::vector<int> distances;
    for (std::size_t i = 0; i < strokes.size(); ++i) {
        const int next = i + 1 < strokes.size() ? strokes[i + 1]
                                                : strokes[0] + static_cast<int>(notation.size());
        distances.push_back(next - strokes[i]);
    }
    return distances;
}

// Whether the measured step counts follow the notation's cycle from one of its strokes on.
bool followsCycle(const std::vector<int>& steps, const std::vector<int>& cycle) {
    for (std::size_t start = 0; start < cycle.size(); ++start) {
        bool all = true;
        for (std::size_t i = 0; i < steps.size() && all; ++i) {
            all = steps[i] == cycle[(start + i) % cycle.size()];
        }
        if (all) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: take_check TAKE.raw RATE STEP_SECONDS NOTATION [MIN_ONSETS]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int rate = std::atoi(argv[2]);
    const double step = std::atof(argv[3]);
    const std::vector<int> cycle = strokeDistances(argv[4]);
    const std::size_t minOnsets = argc > 5 ? std::strtoul(argv[5], nullptr, 10) : 2;
    if (rate <= 0 || step <= 0 || cycle.empty()) return 2;

    // Level of each frame: the louder side.
    const std::size_t frames = bytes.size() / 4;
    // and the level of its first difference, which brings out the sharp attacks over the
    // low ring of a doum that still sounds.
    std::vector<float> level(frames);
    std::vector<float> attack(frames, 0.0f);
    std::vector<bool> zero(frames);
    int lastLeft = 0;
    int lastRight = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + 4 * i);
        const int left = static_cast<std::int16_t>(p[0] | p[1] << 8);
        const int right = static_cast<std::int16_t>(p[2] | p[3] << 8);
        level[i] = std::max(std::abs(left), std::abs(right)) / 32768.0f;
        attack[i] = std::max(std::abs(left - lastLeft), std::abs(right - lastRight)) / 32768.0f;
        zero[i] = left == 0 && right == 0;
        lastLeft = left;
        lastRight = right;
    }

    // Onsets, block by block (1 ms blocks), refined to the first loud frame.
    const std::size_t block = static_cast<std::size_t>(rate / 1000);
    const std::size_t blocks = frames / block;
    std::vector<float> peak(blocks, 0.0f);
    for (std::size_t b = 0; b < blocks; ++b) {
        for (std::size_t i = b * block; i < (b + 1) * block; ++i) peak[b] = std::max(peak[b], attack[i]);
    }
    std::vector<std::size_t> onsets;
    const auto refractory = static_cast<std::size_t>(kRefractory * rate);
    for (std::size_t b = 10; b < blocks; ++b) {
        float before = 0.0f;
        for (std::size_t k = b - 10; k < b; ++k) before = std::max(before, peak[k]);
        const float threshold = std::max(kOnsetFloor, kOnsetRise * before);
        if (peak[b] < threshold) continue;
        std::size_t frame = b * block;
        while (attack[frame] < threshold) ++frame;
        if (!onsets.empty() && frame - onsets.back() < refractory) continue;
        onsets.push_back(frame);
    }

    // Dropouts between the first stroke and the end of the last one.
    std::size_t dropouts = 0;
    double longestDropout = 0.0;
    const std::size_t minRun = static_cast<std::size_t>(rate / 1000);
    if (!onsets.empty()) {
        for (std::size_t i = onsets.front() + 1; i < frames;) {
            if (!zero[i] || level[i - 1] < kCutLevel) {
                ++i;
                continue;
            }
            std::size_t end = i;
            while (end < frames && zero[end]) ++end;
            if (end - i >= minRun && end < frames) {
                ++dropouts;
                longestDropout = std::max(longestDropout, static_cast<double>(end - i) / rate);
                std::printf("dropout at %.3f s: %.1f ms of silence\n", static_cast<double>(i) / rate,
                            1000.0 * static_cast<double>(end - i) / rate);
            }
            i = end;
        }
    }

    // Intervals against the notation's step distances.
    std::size_t offGrid = 0;
    double worst = 0.0;
    std::string shown;
    std::vector<int> stepCounts;
    for (std::size_t i = 1; i < onsets.size(); ++i) {
        const double interval = static_cast<double>(onsets[i] - onsets[i - 1]) / rate;
        const int steps = static_cast<int>(std::lround(interval / step));
        const double error = std::fabs(interval - steps * step);
        worst = std::max(worst, error);
        stepCounts.push_back(steps);
        if (error > kToleranceSeconds) {
            ++offGrid;
            std::printf("interval %zu: %.2f ms is off the grid of %.0f ms steps\n", i,
                        1000.0 * interval, 1000.0 * step);
        }
        if (i <= 24) {
            char text[32];
            std::snprintf(text, sizeof text, "%s%.2f", shown.empty() ? "" : " ", 1000.0 * interval);
            shown += text;
        }
    }

    const double seconds = static_cast<double>(frames) / rate;
    std::printf("take: %.3f s, %zu onsets, first at %.3f s\n", seconds, onsets.size(),
                onsets.empty() ? 0.0 : static_cast<double>(onsets.front()) / rate);
    std::printf("onset intervals (ms): %s%s\n", shown.c_str(), onsets.size() > 25 ? " ..." : "");
    std::printf("largest deviation from the step grid: %.3f ms; off-grid intervals: %zu\n",
                1000.0 * worst, offGrid);
    const bool pattern = followsCycle(stepCounts, cycle);
    std::printf("strokes follow the notation: %s\n", pattern ? "yes" : "no");
    std::printf("dropouts: %zu (longest %.1f ms)\n", dropouts, 1000.0 * longestDropout);
    const bool ok = onsets.size() >= minOnsets && offGrid == 0 && pattern && dropouts == 0;
    std::printf("RESULT %s\n", ok ? "pass" : "fail");
    return ok ? 0 : 1;
}
