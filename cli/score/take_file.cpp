// Reading takes with libsndfile.
#include "cli/score/take_file.h"

#include <sndfile.h>

#include <algorithm>
#include <filesystem>

namespace {

// An open take; closed on every path out.
class TakeReader {
public:
    bool open(const std::string& path, std::string& error) {
        std::error_code code;
        if (!std::filesystem::exists(path, code)) {
            error = path + ": no such file";
            return false;
        }
        if (std::filesystem::is_directory(path, code)) {
            error = path + ": a folder, not a recording";
            return false;
        }
        file_ = sf_open(path.c_str(), SFM_READ, &info_);
        if (!file_) {
            error = path + ": " + sf_strerror(nullptr);
            return false;
        }
        if (info_.channels < 1 || info_.samplerate < 1) {
            error = path + ": no channels or no sample rate";
            return false;
        }
        return true;
    }
    ~TakeReader() {
        if (file_) sf_close(file_);
    }

    TakeInfo info() const { return TakeInfo{info_.samplerate, static_cast<int64_t>(info_.frames)}; }

    // Up to mono.size() frames mixed to mono; how many were read, below 0 on an error.
    int64_t read(std::vector<float>& mono, std::string& error, const std::string& path) {
        const int channels = info_.channels;
        interleaved_.resize(mono.size() * static_cast<std::size_t>(channels));
        const sf_count_t got = sf_readf_float(file_, interleaved_.data(), static_cast<sf_count_t>(mono.size()));
        if (got < 0 || (got == 0 && sf_error(file_) != SF_ERR_NO_ERROR)) {
            error = path + ": " + sf_strerror(file_);
            return -1;
        }
        for (sf_count_t f = 0; f < got; ++f) {
            float sum = 0.f;
            for (int c = 0; c < channels; ++c) sum += interleaved_[static_cast<std::size_t>(f * channels + c)];
            mono[static_cast<std::size_t>(f)] = sum / static_cast<float>(channels);
        }
        return got;
    }

private:
    SF_INFO info_{};
    SNDFILE* file_ = nullptr;
    std::vector<float> interleaved_;
};

constexpr std::size_t blockFrames = 4096;

}  // namespace

bool takeInfo(const std::string& path, TakeInfo& info, std::string& error) {
    TakeReader reader;
    if (!reader.open(path, error)) return false;
    info = reader.info();
    return true;
}

bool listenToTake(const std::string& path, const StrokeCalibration& calibration, TakeInfo& info,
                  std::vector<HeardStroke>& heard, std::string& error) {
    TakeReader reader;
    if (!reader.open(path, error)) return false;
    info = reader.info();
    StrokeListener listener(info.rate, calibration);
    std::vector<float> block(blockFrames);
    heard.clear();
    for (;;) {
        const int64_t got = reader.read(block, error, path);
        if (got < 0) return false;
        if (got == 0) break;
        listener.feed(block.data(), static_cast<std::size_t>(got), heard);
    }
    listener.flush(heard);
    return true;
}

bool readMonoTake(const std::string& path, double maxSeconds, std::vector<float>& mono, TakeInfo& info,
                  std::string& error) {
    TakeReader reader;
    if (!reader.open(path, error)) return false;
    info = reader.info();
    if (static_cast<double>(info.frames) > maxSeconds * info.rate) {
        error = path + ": longer than " + std::to_string(static_cast<int>(maxSeconds)) + " seconds";
        return false;
    }
    mono.assign(static_cast<std::size_t>(info.frames), 0.f);
    std::size_t at = 0;
    std::vector<float> block(blockFrames);
    for (;;) {
        const int64_t got = reader.read(block, error, path);
        if (got < 0) return false;
        if (got == 0) break;
        const std::size_t take = std::min(static_cast<std::size_t>(got), mono.size() - at);
        std::copy_n(block.begin(), take, mono.begin() + static_cast<std::ptrdiff_t>(at));
        at += take;
    }
    mono.resize(at);
    return true;
}
