// tabladex-render: writes a rhythm or a playlist to an audio file. See render_options.h for
// the command line and render_job.h for what a render does.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/render/data_folder.h"
#include "cli/render/render_job.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

void onSignal(int) { interrupted = 1; }

std::string duration(int64_t frames, int32_t rate) {
    const double seconds = static_cast<double>(frames) / rate;
    char text[48];
    std::snprintf(text, sizeof text, "%d:%06.3f", static_cast<int>(seconds / 60),
                  seconds - 60.0 * static_cast<int>(seconds / 60));
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    RenderOptions options;
    std::string error;
    if (!parseRenderOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "tabladex-render: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(renderUsage(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("tabladex-render %s\n", TABLADEX_VERSION);
        return 0;
    }

    const std::string dataFolder = sampleDataFolder(executableFolder());
    if (dataFolder.empty()) {
        std::fprintf(stderr, "tabladex-render: the drum samples (soundFont/) were found neither beside "
                             "the program nor in ../share/tabladex/\n");
        return 1;
    }
    // An interrupted render stops between blocks and removes its unfinished file.
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    ProgressBar bar(stderr, options.rate);
    RenderHooks hooks;
    hooks.progress = isatty(STDERR_FILENO) ? &bar : nullptr;
    hooks.interrupted = &interrupted;
    RenderReport report;
    std::vector<std::string> warnings;
    const bool rendered = renderToFile(options, dataFolder, hooks, report, warnings, error);
    for (const std::string& warning : warnings) std::fprintf(stderr, "tabladex-render: warning: %s\n", warning.c_str());
    if (!rendered) {
        std::fprintf(stderr, "tabladex-render: %s\n", error.c_str());
        return interrupted ? 130 : 1;
    }
    if (options.verbose) {
        std::printf("%s: %s (%lld frames at %d Hz), %zu %s, %lld strokes\n", options.output.c_str(),
                    duration(report.frames, report.rate).c_str(), static_cast<long long>(report.frames),
                    report.rate, report.entries, report.entries == 1 ? "entry" : "entries",
                    static_cast<long long>(report.strokes));
        if (report.clippedSamples > 0)
            std::printf("%lld samples clipped by the gain\n", static_cast<long long>(report.clippedSamples));
    }
    return 0;
}
