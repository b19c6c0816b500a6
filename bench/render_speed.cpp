// render_speed: how fast tabladex-render writes a long practice track. A playlist of shipped
// rhythms lasting about ten minutes is made in a temporary folder and rendered to a file there
// (WAV unless --format flac|ogg) through the same units the program runs; the wall time, the
// audio's length and the process's peak memory are printed. Last line:
//   RESULT realtime_factor=<audio seconds per wall second> peak_mb=<peak resident MB>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/render/data_folder.h"
#include "cli/render/render_job.h"
#include "rhythm/rhythm_file.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::string format = "wav";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--format") == 0 && i + 1 < argc) format = argv[++i];
        else {
            std::fprintf(stderr, "usage: render_speed [--format wav|flac|ogg]\n");
            return 2;
        }
    }
    const std::string data = sampleDataFolder(executableFolder());
    if (data.empty()) {
        std::fprintf(stderr, "render_speed: no data folder beside the program\n");
        return 1;
    }
    const fs::path dir = fs::temp_directory_path() / ("render_speed_" + std::to_string(::getpid()));
    fs::create_directories(dir);

    // Eight rhythms, each repeated for about 75 seconds.
    const char* const rhythms[] = {"maqsum", "baladi", "saidi", "malfuf",
                                   "ayoub", "masmoudi_kebir", "chiftetelli", "wahda"};
    std::ofstream list(dir / "ten_minutes.krp", std::ios::binary);
    for (const char* name : rhythms) {
        const std::string file = std::string(name) + ".krf";
        fs::copy_file(data + "rhythms/" + file, dir / file, fs::copy_options::overwrite_existing);
        std::FILE* in = std::fopen((dir / file).c_str(), "rb");
        RhythmText text;
        ReadProblem problem;
        const bool read = in && readRhythmText(in, file.c_str(), text, problem);
        if (in) std::fclose(in);
        if (!read) {
            std::fprintf(stderr, "render_speed: %s: %s\n", file.c_str(), problem.text.c_str());
            return 1;
        }
        const double cycle = stepTimeFor(text.tempo, text.subdivision) * static_cast<double>(text.notation.size());
        list << file << "\n" << static_cast<int>(75.0 / cycle + 0.5) << "\n";
    }
    list.close();

    RenderOptions options;
    options.input = (dir / "ten_minutes.krp").string();
    options.output = (dir / ("ten_minutes." + format)).string();
    RenderReport report;
    std::vector<std::string> warnings;
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    const bool rendered = renderToFile(options, data, {}, report, warnings, error);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::error_code ignored;
    const auto bytes = fs::file_size(options.output, ignored);
    fs::remove_all(dir, ignored);
    if (!rendered) {
        std::fprintf(stderr, "render_speed: %s\n", error.c_str());
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double audio = static_cast<double>(report.frames) / report.rate;
    const double peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
    std::printf("playlist: %zu entries, %lld strokes, %.1f s of audio at %d Hz\n", report.entries,
                static_cast<long long>(report.strokes), audio, report.rate);
    std::printf("%s file: %.1f MB, written in %.3f s\n", format.c_str(), static_cast<double>(bytes) / 1e6, wall);
    std::printf("RESULT realtime_factor=%.0f peak_mb=%.1f\n", audio / wall, peakMb);
    return 0;
}
