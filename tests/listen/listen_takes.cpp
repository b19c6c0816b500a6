#include "tests/listen/listen_takes.h"

#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "tests/support/test_support.h"

namespace listen_takes {

namespace {

const std::vector<float>& sampleData(Sample sample) {
    static std::map<Sample, std::vector<float>> loaded;
    auto& data = loaded[sample];
    if (data.empty()) {
        const char* names[] = {"doumBackClipped", "tek_front", "half_tek_front", "slap_front"};
        const auto path = testing_support::programFolder() / "soundFont" /
                          (std::string(names[int(sample)]) + ".wav");
        SF_INFO info{};
        SNDFILE* file = sf_open(path.string().c_str(), SFM_READ, &info);
        if (file && info.channels == 1) {
            data.resize(std::size_t(info.frames));
            sf_readf_float(file, data.data(), info.frames);
        }
        if (file) sf_close(file);
    }
    return data;
}

}  // namespace

StrokeKind kindOf(Sample sample) {
    switch (sample) {
        case Sample::Doum: return StrokeKind::Doum;
        case Sample::Tek:
        case Sample::HalfTek: return StrokeKind::Tek;
        case Sample::Slap: return StrokeKind::Slap;
    }
    return StrokeKind::Doum;
}

Take makeTake(const std::vector<Placed>& strokes, double seconds, float noiseDb, unsigned seed) {
    Take take;
    take.samples.assign(std::size_t(seconds * take.rate), 0.f);
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.f, std::pow(10.f, noiseDb / 20.f));
    for (float& x : take.samples) x = noise(random);
    for (const Placed& stroke : strokes) {
        const auto& data = sampleData(stroke.sample);
        const float gain = std::pow(10.f, stroke.gainDb / 20.f);
        for (std::size_t i = 0; i < data.size() && std::size_t(stroke.frame) + i < take.samples.size(); ++i)
            take.samples[std::size_t(stroke.frame) + i] += gain * data[i];
    }
    return take;
}

std::vector<Placed> inSequence(const std::vector<Sample>& samples, double gap, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> gain(-10.f, 0.f);
    std::vector<Placed> placed;
    for (std::size_t i = 0; i < samples.size(); ++i)
        placed.push_back({samples[i], int64_t((0.5 + gap * double(i)) * 44100), gain(random)});
    return placed;
}

std::string dataText(const std::string& relative) {
    std::ifstream in(testing_support::programFolder() / relative, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace listen_takes
