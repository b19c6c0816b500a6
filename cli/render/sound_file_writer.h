// sound_file_writer.h - writes a render to a WAV, FLAC or Ogg Vorbis file without ever
// leaving a partial file under the target's name, or to a stream.
//
// A target that is a plain file, or names none yet, is written to a hidden temporary file in
// its folder and renamed over the target only by commit(), after everything is written and
// flushed to disk. A writer that is abandoned, fails or is destroyed before commit() removes
// its temporary file. A symbolic link is followed to the file it names: the link stays and
// its target gets the render. A file replaced keeps its permissions (and, where the program
// may give them, its owner and group). A read-only file, one the user may not write, and a
// folder are refused before anything is written.
//
// "-" is standard output, and a target that exists but is no plain file (a pipe, a
// terminal, /dev/null) is written in place, as a stream: nothing is renamed or removed there.
// A WAV stream gets its header, with the exact length, from the frame count open() is given,
// and commit() fails if a different number of frames was written.
//
// Formats: .wav is 16-bit PCM (plain WAV, which every player reads, unless the render's
// length needs RF64 beyond 4 GB), .flac 16-bit FLAC, .ogg Ogg Vorbis. Samples are
// interleaved stereo float; values beyond [-1, 1] are clipped. Every format carries the
// title and the software that wrote it.
//
// Threads: one thread at a time per writer. Ownership: the writer owns its temporary file
// until commit() hands it over under the target's name; it never closes standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct AppendOnly;

enum class SoundFileFormat { Wav, Flac, Ogg };

// The format that path's extension asks for (case ignored); false for any other extension.
bool soundFileFormatFor(const std::string& path, SoundFileFormat& format);
// The format named "wav", "flac" or "ogg"; false for any other name.
bool soundFileFormatNamed(const std::string& name, SoundFileFormat& format);

// The file a render to path writes: path itself, or, through each symbolic link, the path of
// the file it names (which may not exist yet). False, with error set, for a loop of links.
bool followLinks(const std::string& path, std::string& resolved, std::string& error);

// True when both paths name one existing file (symbolic links followed).
bool sameFile(const std::string& a, const std::string& b);

struct SoundFileTags {
    std::string title;
    std::string software;
};

class SoundFileWriter {
public:
    SoundFileWriter();
    SoundFileWriter(const SoundFileWriter&) = delete;
    SoundFileWriter& operator=(const SoundFileWriter&) = delete;
    ~SoundFileWriter();

    // Starts the render to path ("-": standard output) at rate frames per second, for
    // exactly `frames` frames. False, with error set and nothing left behind, when the
    // format cannot be written at that rate or the target may not be written.
    bool open(const std::string& path, SoundFileFormat format, int32_t rate, int64_t frames,
              const SoundFileTags& tags, std::string& error);
    bool write(const float* stereo, std::size_t frames, std::string& error);
    // Finishes the file and renames it to the target's name.
    bool commit(std::string& error);
    // Removes the temporary file (nothing when none is open).
    void abandon();

    // The temporary file's path while one is open; empty for a stream.
    const std::string& temporaryPath() const { return temporary_; }

private:
    bool openStream(const std::string& path, SoundFileFormat format, int32_t rate, const SoundFileTags& tags,
                    std::string& error);

    std::string target_;     // the path written, as given, for messages
    std::string temporary_;  // the temporary file renamed to final_ by commit()
    std::string final_;
    int fd_ = -1;
    bool ownFd_ = true;   // false for standard output
    int64_t frames_ = 0;  // announced to a WAV stream's header; -1: not announced
    int64_t written_ = 0;
    void* file_ = nullptr;  // SNDFILE*
    std::unique_ptr<AppendOnly> stream_;  // a WAV stream's samples, written after its header
};
