// Writing the render with libsndfile, through a temporary file or to a stream.
#include "cli/render/sound_file_writer.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
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

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool writeAll(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t done = ::write(fd, bytes, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

// A little-endian RIFF byte layout, built up field by field.
struct Bytes {
    std::vector<unsigned char> data;
    void tag(const char (&four)[5]) { data.insert(data.end(), four, four + 4); }
    void u16(uint32_t v) { for (int i = 0; i < 2; ++i) data.push_back(static_cast<unsigned char>(v >> (8 * i))); }
    void u32(uint32_t v) { for (int i = 0; i < 4; ++i) data.push_back(static_cast<unsigned char>(v >> (8 * i))); }
    void u64(uint64_t v) { for (int i = 0; i < 8; ++i) data.push_back(static_cast<unsigned char>(v >> (8 * i))); }
    // An INFO sub-chunk: the text with its terminating zero, padded to an even size.
    void text(const char (&four)[5], const std::string& value) {
        tag(four);
        u32(static_cast<uint32_t>(value.size() + 1));
        data.insert(data.end(), value.begin(), value.end());
        data.push_back(0);
        if (data.size() % 2) data.push_back(0);
    }
};

// The header of a 16-bit stereo WAV stream of exactly `frames` frames, up to its data
// chunk's first sample: RIFF, or RF64 when the sizes pass 32 bits.
std::vector<unsigned char> wavStreamHeader(int32_t rate, int64_t frames, const SoundFileTags& tags) {
    Bytes info;
    info.tag("INFO");
    if (!tags.title.empty()) info.text("INAM", tags.title);
    info.text("ISFT", tags.software);
    const uint64_t dataBytes = static_cast<uint64_t>(frames) * 4;
    const bool rf64 = 4 + 36 + 28 + 24 + 8 + info.data.size() + 8 + dataBytes > UINT32_MAX;
    const uint64_t riffBytes = 4 + (rf64 ? 36 : 0) + 24 + 8 + info.data.size() + 8 + dataBytes;
    Bytes h;
    h.tag(rf64 ? "RF64" : "RIFF");
    h.u32(rf64 ? UINT32_MAX : static_cast<uint32_t>(riffBytes));
    h.tag("WAVE");
    if (rf64) {
        h.tag("ds64");
        h.u32(28);
        h.u64(riffBytes);
        h.u64(dataBytes);
        h.u64(static_cast<uint64_t>(frames));
        h.u32(0);
    }
    h.tag("fmt ");
    h.u32(16);
    h.u16(1);  // integer PCM
    h.u16(2);
    h.u32(static_cast<uint32_t>(rate));
    h.u32(static_cast<uint32_t>(rate) * 4);
    h.u16(4);
    h.u16(16);
    h.tag("LIST");
    h.u32(static_cast<uint32_t>(info.data.size()));
    h.data.insert(h.data.end(), info.data.begin(), info.data.end());
    h.tag("data");
    h.u32(rf64 ? UINT32_MAX : static_cast<uint32_t>(dataBytes));
    return h.data;
}

}  // namespace

// The raw samples after a WAV stream's header go through libsndfile (for its conversion and
// clipping) to the descriptor as a stream that can only be appended to; the header's bytes
// count as already written, so libsndfile does not take the file for one embedded in another.
struct AppendOnly {
    int fd;
    sf_count_t position;
};

namespace {

SF_VIRTUAL_IO appendOnlyIo() {
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* user) { return static_cast<AppendOnly*>(user)->position; };
    io.seek = [](sf_count_t offset, int whence, void* user) -> sf_count_t {
        auto* out = static_cast<AppendOnly*>(user);
        if ((whence == SEEK_CUR && offset == 0) || (whence == SEEK_SET && offset == out->position))
            return out->position;
        return -1;
    };
    io.read = [](void*, sf_count_t, void*) -> sf_count_t { return 0; };
    io.write = [](const void* data, sf_count_t size, void* user) -> sf_count_t {
        auto* out = static_cast<AppendOnly*>(user);
        if (!writeAll(out->fd, data, static_cast<std::size_t>(size))) return 0;
        out->position += size;
        return size;
    };
    io.tell = [](void* user) { return static_cast<AppendOnly*>(user)->position; };
    return io;
}

SF_INFO formatInfo(SoundFileFormat format, int32_t rate, int64_t frames) {
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
    return info;
}

}  // namespace

SoundFileWriter::SoundFileWriter() = default;
SoundFileWriter::~SoundFileWriter() { abandon(); }

bool soundFileFormatNamed(const std::string& name, SoundFileFormat& format) {
    if (name == "wav") format = SoundFileFormat::Wav;
    else if (name == "flac") format = SoundFileFormat::Flac;
    else if (name == "ogg") format = SoundFileFormat::Ogg;
    else return false;
    return true;
}

bool soundFileFormatFor(const std::string& path, SoundFileFormat& format) {
    const std::string extension = lowerExtension(path);
    return !extension.empty() && soundFileFormatNamed(extension.substr(1), format);
}

bool followLinks(const std::string& path, std::string& resolved, std::string& error) {
    resolved = path;
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat st;
        if (lstat(resolved.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::vector<char> link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
        const ssize_t length = readlink(resolved.c_str(), link.data(), link.size());
        if (length < 0 || static_cast<std::size_t>(length) >= link.size()) return true;
        const std::string target(link.data(), static_cast<std::size_t>(length));
        resolved = target[0] == '/' ? target : folderOf(resolved) + target;
    }
    error = path + ": too many levels of symbolic links";
    return false;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool SoundFileWriter::open(const std::string& path, SoundFileFormat format, int32_t rate, int64_t frames,
                           const SoundFileTags& tags, std::string& error) {
    abandon();
    SF_INFO info = formatInfo(format, rate, frames);
    if (!sf_format_check(&info)) {
        error = path + ": this format cannot be written at " + std::to_string(rate) + " Hz";
        return false;
    }
    target_ = path;
    frames_ = frames;
    written_ = 0;
    if (path == "-") return openStream(path, format, rate, tags, error);
    if (!followLinks(path, final_, error)) return false;

    struct stat existing;
    const bool exists = stat(final_.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        error = path + ": is a folder";
        return false;
    }
    if (exists && !S_ISREG(existing.st_mode)) return openStream(final_, format, rate, tags, error);
    // Even where the user could (root may write anything), a file marked read-only is kept.
    if (exists && ((existing.st_mode & 0222) == 0 || access(final_.c_str(), W_OK) != 0)) {
        error = path + ": the file is read-only for you; it is left as it is";
        return false;
    }

    // Hidden, beside the file replaced, so the final rename stays within one file system.
    const std::string folder = folderOf(final_);
    const std::string text = folder + "." + final_.substr(folder.size()) + ".XXXXXX";
    std::vector<char> pattern(text.begin(), text.end());
    pattern.push_back('\0');
    fd_ = mkstemp(pattern.data());
    if (fd_ < 0) {
        error = "cannot write in " + (folder.empty() ? std::string("the current folder") : folder) + ": " +
                std::strerror(errno);
        return false;
    }
    temporary_ = pattern.data();
    ownFd_ = true;
    if (exists) {
        // The file replaced keeps its owner and group where the program may give them (as
        // root), and its permissions.
        if (fchown(fd_, existing.st_uid, existing.st_gid) != 0) {
            // Not ours to give: the render belongs to whoever runs it.
        }
        fchmod(fd_, existing.st_mode & 07777);
    } else {
        // mkstemp makes the file private; a new file gets the permissions of any new file.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd_, 0666 & ~mask);
    }

    file_ = sf_open_fd(fd_, SFM_WRITE, &info, SF_FALSE);
    if (!file_) {
        error = path + ": " + sf_strerror(nullptr);
        abandon();
        return false;
    }
    frames_ = -1;
    // Strings go into the file's header or trailer as its format keeps them; FLAC and Ogg
    // need them before the first sample.
    if (!tags.title.empty()) sf_set_string(sndfile(file_), SF_STR_TITLE, tags.title.c_str());
    sf_set_string(sndfile(file_), SF_STR_SOFTWARE, tags.software.c_str());
    sf_command(sndfile(file_), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return true;
}

bool SoundFileWriter::openStream(const std::string& path, SoundFileFormat format, int32_t rate,
                                 const SoundFileTags& tags, std::string& error) {
    ownFd_ = path != "-";
    fd_ = ownFd_ ? ::open(path.c_str(), O_WRONLY | O_CLOEXEC) : STDOUT_FILENO;
    if (fd_ < 0) {
        error = target_ + ": " + std::strerror(errno);
        return false;
    }
    const std::string name = path == "-" ? std::string("standard output") : target_;
    SF_INFO info = formatInfo(format, rate, frames_);
    if (format == SoundFileFormat::Wav) {
        // A stream cannot be sought back to for the header's sizes: the header is written
        // first with the length announced, then the samples as raw 16-bit PCM.
        const std::vector<unsigned char> header = wavStreamHeader(rate, frames_, tags);
        if (!writeAll(fd_, header.data(), header.size())) {
            error = name + ": " + std::strerror(errno);
            abandon();
            return false;
        }
        info.format = SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
        static SF_VIRTUAL_IO io = appendOnlyIo();
        stream_ = std::make_unique<AppendOnly>(AppendOnly{fd_, 0});
        file_ = sf_open_virtual(&io, SFM_WRITE, &info, stream_.get());
    } else {
        frames_ = -1;
        file_ = sf_open_fd(fd_, SFM_WRITE, &info, SF_FALSE);
    }
    if (!file_) {
        error = name + ": " + sf_strerror(nullptr);
        abandon();
        return false;
    }
    if (format != SoundFileFormat::Wav) {
        if (!tags.title.empty()) sf_set_string(sndfile(file_), SF_STR_TITLE, tags.title.c_str());
        sf_set_string(sndfile(file_), SF_STR_SOFTWARE, tags.software.c_str());
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
    written_ += written;
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
    if (frames_ >= 0 && written_ != frames_) {
        error = target_ + ": " + std::to_string(written_) + " frames written where the header announced " +
                std::to_string(frames_);
        abandon();
        return false;
    }
    if (temporary_.empty()) {  // a stream: it is in place already
        const bool closedWell = !ownFd_ || close(fd_) == 0;
        fd_ = -1;
        if (!closedWell) error = target_ + ": " + std::strerror(errno);
        return closedWell;
    }
    if (fsync(fd_) != 0 || close(fd_) != 0) {
        fd_ = -1;
        error = target_ + ": " + std::strerror(errno);
        abandon();
        return false;
    }
    fd_ = -1;
    if (std::rename(temporary_.c_str(), final_.c_str()) != 0) {
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
    if (fd_ >= 0 && ownFd_) close(fd_);
    fd_ = -1;
    ownFd_ = true;
    if (!temporary_.empty()) unlink(temporary_.c_str());
    temporary_.clear();
}
