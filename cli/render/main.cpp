// tabladex-render: writes a rhythm or a playlist to an audio file. See render_options.h for
// the command line and render_job.h for what a render does.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
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
    for (const int number : {SIGHUP, SIGINT, SIGTERM, SIGQUIT}) {
        struct sigaction action {};
        if (sigaction(number, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) continue;
        action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;  // a write under way finishes; the flag is read after it
        sigaction(number, &action, nullptr);
    }
}

// The terminal's width in columns: the terminal's own word, else $COLUMNS, else 80.
int terminalColumns() {
    struct winsize size {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char* columns = std::getenv("COLUMNS"); columns && std::atoi(columns) > 0) return std::atoi(columns);
    return 80;
}

std::size_t warningsTold = 0;

void printWarning(const std::string& text) {
    std::fprintf(stderr, "tabladex-render: warning: %s\n", text.c_str());
    ++warningsTold;
}

void printError(const std::string& text) {
    std::fprintf(stderr, "tabladex-render: %s\n", text.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    RenderOptions options;
    std::string error;
    if (!parseRenderOptions(argc, argv, options, error)) {
        printError(error);
        std::fprintf(stderr, "%sTry 'tabladex-render --help' for more.\n", renderUsageLine());
        return 2;
    }
    if (options.help) {
        std::fputs(renderUsage(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (options.version) {
        std::printf("tabladex-render %s\n"
                    "Copyright (c) 2026 The Tabladex developers\n"
                    "License: MIT <https://opensource.org/licenses/MIT>\n"
                    "This is free software: you are free to change and redistribute it.\n"
                    "There is NO WARRANTY, to the extent permitted by law.\n",
                    TABLADEX_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    const std::string dataFolder = sampleDataFolder(executableFolder());
    if (dataFolder.empty()) {
        printError("the drum samples (soundFont/) were found neither beside the program nor in "
                   "../share/tabladex/");
        return 1;
    }
    catchStopSignals();

    ProgressBar bar(stderr, options.rate, terminalColumns());
    RenderHooks hooks;
    hooks.progress = !options.quiet && isatty(STDERR_FILENO) ? &bar : nullptr;
    hooks.warn = options.quiet ? nullptr : printWarning;
    hooks.interrupted = &interrupted;
    RenderReport report;
    std::vector<std::string> warnings;
    const bool rendered = renderToFile(options, dataFolder, hooks, report, warnings, error);
    // Warnings of a render that failed before it began were not told yet.
    for (std::size_t i = warningsTold; !options.quiet && i < warnings.size(); ++i) printWarning(warnings[i]);
    if (!rendered) {
        printError(error);
        return interrupted ? 128 + interrupted : 1;
    }
    if (options.verbose) {
        // Standard output may be the sound itself.
        std::FILE* out = options.output == "-" ? stderr : stdout;
        const std::string name = options.output == "-" ? "standard output" : options.output;
        std::fprintf(out, "%s: %s (%lld frames at %d Hz), %zu %s, %lld strokes\n", name.c_str(),
                     formatDuration(report.frames, report.rate).c_str(), static_cast<long long>(report.frames),
                     report.rate, report.entries, report.entries == 1 ? "entry" : "entries",
                     static_cast<long long>(report.strokes));
    }
    return 0;
}
