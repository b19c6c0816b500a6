#include "measure/onset_detect.h"

#include <algorithm>
#include <cmath>

std::vector<std::size_t> findOnsets(const float* stereo, std::size_t frames, int sampleRate,
                                    const OnsetOptions& options) {
    const auto minQuiet = static_cast<std::size_t>(
        std::max(1.0, std::ceil(options.minSilenceSeconds * sampleRate)));
    std::vector<std::size_t> onsets;
    std::size_t quiet = minQuiet;  // the buffer opens on silence
    for (std::size_t i = 0; i < frames; ++i) {
        const float level = std::max(std::fabs(stereo[2 * i]), std::fabs(stereo[2 * i + 1]));
        if (level > options.threshold) {
            if (quiet >= minQuiet) onsets.push_back(i);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return onsets;
}
