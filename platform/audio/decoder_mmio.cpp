// Decoding on Windows with the system's own RIFF functions (mmio, winmm): PCM 8/16/24/32-bit
// and 32-bit float WAVs, plain or extensible format, with linear interpolation for rates
// that differ from the output's.
#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <cstring>
#include <new>

#include "decoder.h"

namespace audio {

namespace {

constexpr WORD kFormatPcm = 1;
constexpr WORD kFormatFloat = 3;
constexpr WORD kFormatExtensible = 0xFFFE;

struct Mmio {
    HMMIO handle = nullptr;
    ~Mmio() {
        if (handle) mmioClose(handle, 0);
    }
};

// The fields of WAVEFORMATEX / WAVEFORMATEXTENSIBLE this decoder needs, read byte by byte.
struct WavFormat {
    WORD tag = 0;
    WORD channels = 0;
    DWORD rate = 0;
    WORD bits = 0;
};

WORD readLe16(const unsigned char* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
DWORD readLe32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24);
}

bool parseFormat(const unsigned char* bytes, LONG size, WavFormat* format) {
    if (size < 16) return false;
    format->tag = readLe16(bytes);
    format->channels = readLe16(bytes + 2);
    format->rate = readLe32(bytes + 4);
    format->bits = readLe16(bytes + 14);
    if (format->tag == kFormatExtensible) {
        if (size < 26) return false;
        format->tag = readLe16(bytes + 24);  // first two bytes of the sub-format GUID
    }
    return true;
}

float sampleAt(const unsigned char* p, const WavFormat& format) {
    switch (format.bits) {
    case 8: return (static_cast<int>(p[0]) - 128) / 128.0f;
    case 16: return static_cast<std::int16_t>(readLe16(p)) / 32768.0f;
    case 24: {
        const std::int32_t v = static_cast<std::int32_t>((p[0] << 8) | (p[1] << 16) |
                                                         (static_cast<std::uint32_t>(p[2]) << 24));
        return static_cast<float>(v / 2147483648.0);
    }
    default:
        if (format.tag == kFormatFloat) {
            float f;
            std::memcpy(&f, p, sizeof f);
            return f;
        }
        return static_cast<float>(static_cast<std::int32_t>(readLe32(p)) / 2147483648.0);
    }
}

}  // namespace

Result decodeSoundFile(const char* path, int outputRate, SoundData* out) {
    if (!path || !out || outputRate <= 0) return ErrInvalidParam;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return ErrFileNotFound;
    }
    Mmio file;
    file.handle = mmioOpenA(const_cast<char*>(path), nullptr, MMIO_READ | MMIO_ALLOCBUF);
    if (!file.handle) return ErrFileNotFound;
    const LONG fileSize = mmioSeek(file.handle, 0, SEEK_END);
    mmioSeek(file.handle, 0, SEEK_SET);

    MMCKINFO riff{};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    if (mmioDescend(file.handle, &riff, nullptr, MMIO_FINDRIFF) != MMSYSERR_NOERROR) {
        return fileSize >= 4 && fileSize < 12 ? ErrFileTruncated : ErrFileBad;
    }
    const bool riffCut = static_cast<LONG>(riff.cksize + 8) > fileSize;

    MMCKINFO fmt{};
    fmt.ckid = mmioFOURCC('f', 'm', 't', ' ');
    if (mmioDescend(file.handle, &fmt, &riff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) {
        return riffCut ? ErrFileTruncated : ErrFileBad;
    }
    unsigned char formatBytes[64] = {};
    const LONG formatSize = static_cast<LONG>(fmt.cksize < sizeof formatBytes ? fmt.cksize : sizeof formatBytes);
    if (mmioRead(file.handle, reinterpret_cast<HPSTR>(formatBytes), formatSize) != formatSize) {
        return ErrFileTruncated;
    }
    WavFormat format;
    if (!parseFormat(formatBytes, formatSize, &format)) return ErrFileBad;
    const bool pcm = format.tag == kFormatPcm &&
                     (format.bits == 8 || format.bits == 16 || format.bits == 24 || format.bits == 32);
    const bool floating = format.tag == kFormatFloat && format.bits == 32;
    if ((!pcm && !floating) || format.channels < 1 || format.channels > 2 || format.rate == 0) {
        return ErrFileBad;
    }
    mmioAscend(file.handle, &fmt, 0);

    MMCKINFO data{};
    data.ckid = mmioFOURCC('d', 'a', 't', 'a');
    if (mmioDescend(file.handle, &data, &riff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) {
        return riffCut ? ErrFileTruncated : ErrFileBad;
    }
    const std::size_t frameBytes = static_cast<std::size_t>(format.bits / 8) * format.channels;
    const std::size_t frames = data.cksize / frameBytes;
    if (frames == 0) return ErrFileBad;
    try {
        std::vector<unsigned char> bytes(frames * frameBytes);
        const LONG wanted = static_cast<LONG>(bytes.size());
        if (mmioRead(file.handle, reinterpret_cast<HPSTR>(bytes.data()), wanted) != wanted) {
            return ErrFileTruncated;
        }
        std::vector<float> samples(frames * format.channels);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = sampleAt(bytes.data() + i * (format.bits / 8), format);
        }
        std::vector<float> stereo(frames * 2);
        toStereo(samples.data(), frames, format.channels, stereo.data());
        if (static_cast<int>(format.rate) == outputRate) {
            out->samples = std::move(stereo);
            out->frames = frames;
            return Ok;
        }
        out->samples = resampleLinear(stereo, frames, static_cast<int>(format.rate), outputRate, &out->frames);
        return out->frames > 0 ? Ok : ErrResample;
    } catch (const std::bad_alloc&) {
        return ErrMemory;
    }
}

}  // namespace audio
