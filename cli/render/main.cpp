// tabladex-render: writes a rhythm or a playlist to an audio file. See render_options.h for
// the command line and render_job.h for what a render does.
#ifdef _WIN32
#include <io.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/render/data_folder.h"
#include "cli/render/render_job.h"

namespace {

// The number of the signal that asked the render to stop; 0 while none has.
volatile std::sig_atomic_t interrupted = 0;

void onSignal(int number) { interrupted = number; }

// A closed terminal or ssh session (SIGHUP), Ctrl+C, Ctrl+\ and kill stop the render at the
// next block; it removes its unfinished file and the program exits with 128 + the signal's
// number, as shells report a signal. The handler only sets the flag. A signal the program
// was started ignoring (nohup, a background job of a script) stays ignored.
void catchStopSignals() {
#ifdef _WIN32
    // The only two that <csignal> has on Windows.
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
#else
    for (const int number : {SIGHUP, SIGINT, SIGTERM, SIGQUIT}) {
        struct sigaction action {};
        if (sigaction(number, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) continue;
        action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;  // a write under way finishes; the flag is read after it
        sigaction(number, &action, nullptr);
    }
#endif
}

bool stderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
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
    catchStopSignals();

    ProgressBar bar(stderr, options.rate);
    RenderHooks hooks;
    hooks.progress = stderrIsTerminal() ? &bar : nullptr;
    hooks.interrupted = &interrupted;
    RenderReport report;
    std::vector<std::string> warnings;
    const bool rendered = renderToFile(options, dataFolder, hooks, report, warnings, error);
    for (const std::string& warning : warnings) std::fprintf(stderr, "tabladex-render: warning: %s\n", warning.c_str());
    if (!rendered) {
        std::fprintf(stderr, "tabladex-render: %s\n", error.c_str());
        return interrupted ? 128 + interrupted : 1;
    }
    if (options.verbose) {
        std::printf("%s: %s (%lld frames at %d Hz), %zu %s, %lld strokes\n", options.output.c_str(),
                    formatDuration(report.frames, report.rate).c_str(), static_cast<long long>(report.frames),
                    report.rate, report.entries, report.entries == 1 ? "entry" : "entries",
                    static_cast<long long>(report.strokes));
        if (report.clippedSamples > 0)
            std::printf("%lld samples clipped by the gain\n", static_cast<long long>(report.clippedSamples));
    }
    return 0;
}
