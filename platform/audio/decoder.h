// decoder.h - turns a sound file into the mixer's format, once, when a sound is created.
//
// Promises: decodeSoundFile reads the whole file (WAV: PCM 8/16/24/32-bit or float, mono or
// stereo, any rate) and leaves interleaved stereo float at outputRate in *out. Mono is
// copied to both sides; other rates are converted. Results: Ok, ErrFileNotFound (cannot be
// opened), ErrFileTruncated (ends before the data its header announces), ErrFileBad (not a
// sound it can decode, or no frames at all), ErrResample, ErrMemory, ErrInvalidParam.
//
// Threads: main thread (never the audio thread: it reads the disk and allocates).
// Ownership: *out owns its samples; nothing is kept by the decoder.
//
// Two implementations, chosen by the build: libsndfile + libsamplerate (decoder_sndfile.cpp)
// and Windows' mmio functions with linear interpolation (decoder_mmio.cpp).
#pragma once

#include <cstddef>
#include <vector>

#include "audio.h"

namespace audio {

struct SoundData {
    std::vector<float> samples;  // interleaved left, right
    std::size_t frames = 0;
};

Result decodeSoundFile(const char* path, int outputRate, SoundData* out);

// Copies decoded frames (interleaved, 1 or 2 channels) into stereo, non-finite values as
// silence; shared by both decoders.
void toStereo(const float* in, std::size_t frames, int channels, float* out);

// Linear-interpolation rate conversion of interleaved stereo; used where no better
// converter exists.
std::vector<float> resampleLinear(const std::vector<float>& stereo, std::size_t frames,
                                  int inRate, int outRate, std::size_t* outFrames);

}  // namespace audio
