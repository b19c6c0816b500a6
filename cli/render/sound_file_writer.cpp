// Writing the render with libsndfile, through a temporary file.
#include "cli/render/sound_file_writer.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

std::string lowerExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string extension = path.substr(dot);
    for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return extension;
}

SNDFILE* sndfile(void* file) { return static_cast<SNDFILE*>(file); }

}  // namespace

bool soundFileFormatFor(const std::string& path, SoundFileFormat& format) {
    const std::string extension = lowerExtension(path);
    if (extension == ".wav") format = SoundFileFormat::Wav;
    else if (extension == ".flac") format = SoundFileFormat::Flac;
    else if (extension == ".ogg") format = SoundFileFormat::Ogg;
    else return false;
    return true;
}

bool SoundFileWriter::open(const std::string& path, int32_t rate, int64_t frames, std::string& error) {
    abandon();
    SoundFileFormat format;
    if (!soundFileFormatFor(path, format)) {
        error = path + ": unknown output format (use .wav, .flac or .ogg)";
        return false;
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    switch (format) {
        case SoundFileFormat::Wav:
            // A WAV file's sizes are 32-bit: a longer render is written as RF64.
            info.format = (frames * 4 < (int64_t(1) << 32) - (1 << 20) ? SF_FORMAT_WAV : SF_FORMAT_RF64) |
                          SF_FORMAT_PCM_16;
            break;
        case SoundFileFormat::Flac: info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16; break;
        case SoundFileFormat::Ogg: info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS; break;
    }
    if (!sf_format_check(&info)) {
        error = path + ": this format cannot be written at " + std::to_string(rate) + " Hz";
        return false;
    }

    // Hidden, beside the target, so the final rename stays within one file system.
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::vector<char> pattern;
    const std::string text = folder + "." + name + ".XXXXXX";
    pattern.assign(text.begin(), text.end());
    pattern.push_back('\0');
    fd_ = mkstemp(pattern.data());
    if (fd_ < 0) {
        error = "cannot write in " + (folder.empty() ? std::string("the current folder") : folder) +
                ": " + std::strerror(errno);
        return false;
    }
    temporary_ = pattern.data();
    target_ = path;
    // mkstemp makes the file private; the result gets the permissions of any new file.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);

    file_ = sf_open_fd(fd_, SFM_WRITE, &info, SF_FALSE);
    if (!file_) {
        error = path + ": " + sf_strerror(nullptr);
        abandon();
        return false;
    }
    sf_command(sndfile(file_), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return true;
}

bool SoundFileWriter::write(const float* stereo, std::size_t frames, std::string& error) {
    if (!file_) {
        error = "no output file is open";
        return false;
    }
    const sf_count_t written = sf_writef_float(sndfile(file_), stereo, static_cast<sf_count_t>(frames));
    if (written != static_cast<sf_count_t>(frames)) {
        error = target_ + ": " + sf_strerror(sndfile(file_));
        return false;
    }
    return true;
}

bool SoundFileWriter::commit(std::string& error) {
    if (!file_) {
        error = "no output file is open";
        return false;
    }
    const int closed = sf_close(sndfile(file_));
    file_ = nullptr;
    if (closed != 0) {
        error = target_ + ": " + sf_error_number(closed);
        abandon();
        return false;
    }
    if (fsync(fd_) != 0 || close(fd_) != 0) {
        fd_ = -1;
        error = target_ + ": " + std::strerror(errno);
        abandon();
        return false;
    }
    fd_ = -1;
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        error = target_ + ": " + std::strerror(errno);
        abandon();
        return false;
    }
    temporary_.clear();
    return true;
}

void SoundFileWriter::abandon() {
    if (file_) sf_close(sndfile(file_));
    file_ = nullptr;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) unlink(temporary_.c_str());
    temporary_.clear();
}
