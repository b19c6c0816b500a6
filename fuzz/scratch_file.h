// scratch_file.h - a fuzz input as a file, for the readers that take a path (drum samples,
// BMP images): one scratch file a process, under /tmp, named after the target and its pid.
//
// libFuzzer may end the process without running exit handlers, so a target removes the file
// as soon as the reader is done with it. Threads: the fuzzing thread only.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace fuzz_support {

// Writes the input to /tmp/tabladex-<target>-fuzz-<pid><extension> and returns that path;
// empty when the file cannot be written.
inline std::string writeScratchFile(const char* target, const char* extension,
                                    const uint8_t* data, std::size_t size) {
    const std::string path =
        std::string("/tmp/tabladex-") + target + "-fuzz-" + std::to_string(getpid()) + extension;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return {};
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) {
        std::remove(path.c_str());
        return {};
    }
    return path;
}

}  // namespace fuzz_support
