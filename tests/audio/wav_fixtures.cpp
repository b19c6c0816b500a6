#include "wav_fixtures.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <system_error>

#ifndef _WIN32
#include <sndfile.h>
#endif

namespace audio_test {

TempDir::TempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto candidate =
            std::filesystem::temp_directory_path() / ("tabladex-audio-" + std::to_string(random()));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            path_ = candidate;
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

#ifndef _WIN32

bool writeWav(const std::string& path, SampleFormat format, int channels, int rate,
              const std::vector<float>& samples) {
    static const int subtypes[] = {SF_FORMAT_PCM_U8, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24,
                                   SF_FORMAT_PCM_32, SF_FORMAT_FLOAT};
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | subtypes[format];
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    const sf_count_t frames = static_cast<sf_count_t>(samples.size() / channels);
    const bool ok = sf_writef_float(file, samples.data(), frames) == frames;
    return sf_close(file) == 0 && ok;
}

#else

namespace {

void putLe(std::string& bytes, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
}

// Full-scale integer for a sample in [-1, 1], rounded and clipped as writers do.
std::int32_t scaled(float sample, double fullScale) {
    const double value = std::round(std::clamp(static_cast<double>(sample), -1.0, 1.0) * fullScale);
    return static_cast<std::int32_t>(std::clamp(value, -fullScale, fullScale - 1));
}

}  // namespace

bool writeWav(const std::string& path, SampleFormat format, int channels, int rate,
              const std::vector<float>& samples) {
    static const int bytesPerSample[] = {1, 2, 3, 4, 4};
    const int width = bytesPerSample[format];
    std::string data;
    data.reserve(samples.size() * width);
    for (float sample : samples) {
        switch (format) {
        case PcmU8: putLe(data, static_cast<std::uint32_t>(scaled(sample, 128.0) + 128), 1); break;
        case Pcm16: putLe(data, static_cast<std::uint32_t>(scaled(sample, 32768.0)), 2); break;
        case Pcm24: putLe(data, static_cast<std::uint32_t>(scaled(sample, 8388608.0)), 3); break;
        case Pcm32: putLe(data, static_cast<std::uint32_t>(scaled(sample, 2147483648.0)), 4); break;
        case Float32: {
            std::uint32_t bits;
            std::memcpy(&bits, &sample, sizeof bits);
            putLe(data, bits, 4);
            break;
        }
        }
    }
    std::string header = "RIFF";
    putLe(header, static_cast<std::uint32_t>(36 + data.size()), 4);
    header += "WAVEfmt ";
    putLe(header, 16, 4);
    putLe(header, format == Float32 ? 3 : 1, 2);
    putLe(header, static_cast<std::uint32_t>(channels), 2);
    putLe(header, static_cast<std::uint32_t>(rate), 4);
    putLe(header, static_cast<std::uint32_t>(rate * channels * width), 4);
    putLe(header, static_cast<std::uint32_t>(channels * width), 2);
    putLe(header, static_cast<std::uint32_t>(8 * width), 2);
    header += "data";
    putLe(header, static_cast<std::uint32_t>(data.size()), 4);
    std::ofstream out(path, std::ios::binary);
    out << header << data;
    return static_cast<bool>(out.flush());
}

#endif

std::vector<float> constantStereo(std::size_t frames, float left, float right) {
    std::vector<float> samples(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        samples[2 * i] = left;
        samples[2 * i + 1] = right;
    }
    return samples;
}

}  // namespace audio_test
