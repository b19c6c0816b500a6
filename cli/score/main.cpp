// tabladex-score: scores a recording of the learner playing a rhythm. See score_options.h for
// the command line and score_job.h for what a scoring does.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/render/data_folder.h"
#include "cli/score/score_job.h"
#include "cli/score/score_report.h"

namespace {

void printError(const std::string& text) { std::fprintf(stderr, "tabladex-score: %s\n", text.c_str()); }

}  // namespace

int main(int argc, char** argv) {
    ScoreOptions options;
    std::string error;
    if (!parseScoreOptions(argc, argv, options, error)) {
        printError(error);
        std::fprintf(stderr, "%sTry 'tabladex-score --help' for more.\n", scoreUsageLine());
        return 2;
    }
    if (options.help) {
        std::fputs(scoreUsage(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (options.version) {
        std::printf("tabladex-score %s\n"
                    "Copyright (c) 2026 The Tabladex developers\n"
                    "License: MIT <https://opensource.org/licenses/MIT>\n"
                    "This is free software: you are free to change and redistribute it.\n"
                    "There is NO WARRANTY, to the extent permitted by law.\n",
                    TABLADEX_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    // The default calibration lies beside the drum samples; a learner's own needs neither.
    const std::string dataFolder = sampleDataFolder(executableFolder());
    if (dataFolder.empty() && options.calibration.empty()) {
        printError("the default calibration (soundFont/default.cal) was found neither beside the program nor in "
                   "../share/tabladex/; give your own with --calibration");
        return 1;
    }
    ScoredTake scored;
    std::vector<std::string> warnings;
    const bool ok = scoreTakeFile(options, dataFolder, scored, warnings, error);
    for (const std::string& warning : warnings) std::fprintf(stderr, "tabladex-score: warning: %s\n", warning.c_str());
    if (!ok) {
        printError(error);
        return 1;
    }
    const std::string text = options.json ? scoreJson(scored) : scoreText(scored, options.input, options.take);
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
