// sound_file_writer.h - writes a render to a WAV, FLAC or Ogg Vorbis file without ever
// leaving a partial file under the target's name.
//
// The file is written to a hidden temporary file in the target's folder and renamed over the
// target only by commit(), after everything is written and flushed to disk. A writer that is
// abandoned, fails or is destroyed before commit() removes its temporary file. The format
// follows the target's extension (case ignored): .wav is 16-bit PCM (plain WAV, which every
// player reads, unless the render's length needs RF64 beyond 4 GB),
// .flac 16-bit FLAC, .ogg Ogg Vorbis; other extensions are refused. Samples are interleaved
// stereo float; values beyond [-1, 1] are clipped.
//
// Threads: one thread at a time per writer. Ownership: the writer owns its temporary file
// until commit() hands it over under the target's name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class SoundFileFormat { Wav, Flac, Ogg };

// The format that path's extension asks for; false for any other extension.
bool soundFileFormatFor(const std::string& path, SoundFileFormat& format);

class SoundFileWriter {
public:
    SoundFileWriter() = default;
    SoundFileWriter(const SoundFileWriter&) = delete;
    SoundFileWriter& operator=(const SoundFileWriter&) = delete;
    ~SoundFileWriter() { abandon(); }

    // Creates the temporary file for path at rate frames per second, for about `frames`
    // frames. False, with error set and nothing left behind, when the extension is unknown or
    // the folder is not writable.
    bool open(const std::string& path, int32_t rate, int64_t frames, std::string& error);
    bool write(const float* stereo, std::size_t frames, std::string& error);
    // Finishes the file and renames it to the target's name.
    bool commit(std::string& error);
    // Removes the temporary file (nothing when none is open).
    void abandon();

    // The temporary file's path while one is open.
    const std::string& temporaryPath() const { return temporary_; }

private:
    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    void* file_ = nullptr;  // SNDFILE*
};
