// make_calibration - writes the default stroke calibration (data/soundFont/default.cal) from
// the shipped drum samples: each sample at several gains, dry and in rooms of a few sizes,
// with a little noise, measured as the listener measures a stroke. Tek and half tek are both
// tek. Deterministic: running it again writes the same text.
//
//   make_calibration <soundFont folder> <output file>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "listen/stroke_calibration.h"
#include "listen/stroke_features.h"

namespace {

struct Sound {
    std::vector<float> samples;
    int rate = 0;
};

bool readSound(const std::string& path, Sound& out) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return false;
    std::vector<float> interleaved(std::size_t(info.frames) * std::size_t(info.channels));
    sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    out.rate = info.samplerate;
    out.samples.assign(std::size_t(info.frames), 0.f);
    for (sf_count_t i = 0; i < info.frames; ++i) out.samples[std::size_t(i)] = interleaved[std::size_t(i * info.channels)];
    return true;
}

// A small fixed-seed generator, so the file comes out the same everywhere.
struct Random {
    uint64_t state = 0x9e3779b97f4a7c15ull;
    double uniform() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return double(state >> 11) / double(uint64_t{1} << 53);
    }
    double gaussian() {
        const double u = std::max(uniform(), 1e-12), v = uniform();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * 3.141592653589793 * v);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_calibration <soundFont folder> <output file>\n");
        return 2;
    }
    const std::string folder = argv[1];
    const struct { const char* file; StrokeKind kind; } sources[] = {
        {"doumBackClipped.wav", StrokeKind::Doum}, {"tek_front.wav", StrokeKind::Tek},
        {"half_tek_front.wav", StrokeKind::Tek}, {"slap_front.wav", StrokeKind::Slap}};
    const double roomSeconds[] = {0.0, 0.2, 0.3, 0.5};  // reverberation times: dry to a bare room
    constexpr int gains = 6;

    Random random;
    std::vector<StrokeFeatures> byKind[strokeKindCount];
    int rate = 0;
    for (const auto& source : sources) {
        Sound sound;
        if (!readSound(folder + "/" + source.file, sound)) {
            std::fprintf(stderr, "make_calibration: cannot read %s/%s\n", folder.c_str(), source.file);
            return 1;
        }
        rate = sound.rate;
        StrokeFeatureMeter meter(rate);
        const std::size_t window = meter.windowFrames();
        std::vector<float> wet(window), before(window);
        for (double room : roomSeconds) {
            for (int g = 0; g < gains; ++g) {
                // Only the window after the onset is measured, so the room's response is only
                // needed that long: a direct sound, then noise decaying by 60 dB in `room`.
                std::vector<float> response(window, 0.f);
                response[0] = 1.f;
                if (room > 0) {
                    const double tail = std::sqrt(1.0 / (room * rate / 13.8));
                    for (std::size_t i = 1; i < window; ++i)
                        response[i] = float(random.gaussian() * tail * std::exp(-6.9 * double(i) / (room * rate)));
                }
                const float gain = float(std::pow(10.0, -12.0 * g / (gains - 1) / 20.0));
                double power = 0;
                for (std::size_t i = 0; i < window; ++i) {
                    double sum = 0;
                    for (std::size_t j = 0; j <= i && i - j < sound.samples.size(); ++j)
                        sum += double(response[j]) * sound.samples[i - j];
                    wet[i] = float(sum) * gain;
                    power += double(wet[i]) * wet[i];
                }
                const double noise = std::sqrt(power / double(window) / 1000.0);  // 30 dB under
                for (float& x : wet) x += float(random.gaussian() * noise);
                for (float& x : before) x = float(random.gaussian() * noise);
                byKind[int(source.kind)].push_back(
                    meter.measure(wet.data(), wet.size(), before.data(), before.size()));
            }
        }
    }

    StrokeCalibration calibration;
    calibration.rate = rate;
    calibration.learner = false;
    for (int k = 0; k < strokeKindCount; ++k)
        calibration.kinds[k] = strokeModelOf(byKind[k].data(), byKind[k].size());
    std::ofstream out(argv[2], std::ios::binary);
    out << "# The default stroke calibration, made by tools/make_calibration from the shipped samples.\n"
        << calibrationText(calibration);
    if (!out) {
        std::fprintf(stderr, "make_calibration: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
