// wav_fixtures.h - test sound files, written with libsndfile into a fresh temporary folder
// that is removed when the fixture object goes.
//
// Threads: test thread only. Ownership: the TempDir owns its folder and files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace audio_test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Writes interleaved samples (channels 1 or 2) as a WAV; format is a libsndfile subtype
// such as SF_FORMAT_PCM_16 or SF_FORMAT_FLOAT. Returns false when libsndfile refuses.
bool writeWav(const std::string& path, int format, int channels, int rate,
              const std::vector<float>& samples);

// frames of a constant level per side, with a sharp start: the simplest sound whose start
// frame and level can be read straight off a render.
std::vector<float> constantStereo(std::size_t frames, float left, float right);

}  // namespace audio_test
