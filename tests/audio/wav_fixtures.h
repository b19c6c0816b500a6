// wav_fixtures.h - test sound files, written into a fresh temporary folder that is removed
// when the fixture object goes. On Linux libsndfile writes them (a writer independent of the
// decoder under test); on Windows, where there is no libsndfile, a plain RIFF writer here.
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

// The sample formats of a WAV file's data chunk.
enum SampleFormat { PcmU8, Pcm16, Pcm24, Pcm32, Float32 };

// Writes interleaved samples (channels 1 or 2) as a WAV in the given format. Returns false
// when the file cannot be written.
bool writeWav(const std::string& path, SampleFormat format, int channels, int rate,
              const std::vector<float>& samples);

// frames of a constant level per side, with a sharp start: the simplest sound whose start
// frame and level can be read straight off a render.
std::vector<float> constantStereo(std::size_t frames, float left, float right);

}  // namespace audio_test
