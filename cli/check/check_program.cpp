// The command line of tabladex-check.
#include "cli/check/check_program.h"

#include <set>

#include "cli/check/file_checker.h"

namespace {

constexpr char usage[] = "usage: tabladex-check [--quiet] [-v] FILE...\n";

constexpr char help[] =
    "Checks rhythm files (.krf) and playlists (.krp, .txt) as Tabladex reads them, and the\n"
    "rhythm files each playlist names, and prints one line per problem:\n"
    "\n"
    "  PATH:LINE: error: TEXT      the tutor refuses the file with this message\n"
    "  PATH:LINE: warning: TEXT    the tutor plays it, but not as it was probably meant\n"
    "  PATH: error: TEXT           the file as a whole (it cannot be read, or is empty)\n"
    "\n"
    "Options:\n"
    "  -q, --quiet     print errors only\n"
    "  -v, --verbose   also print \"PATH: ok\" for each file without problems\n"
    "  -h, --help      print this help and exit\n"
    "      --version   print the version and exit\n"
    "      --          what follows is a file, even if it starts with '-'\n"
    "\n"
    "Exit status: 0 no errors (warnings allowed), 1 errors found, 2 could not run.\n";

struct Options {
    bool quiet = false;
    bool verbose = false;
    std::vector<std::string> files;
};

}  // namespace

int runCheck(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    Options options;
    bool filesOnly = false;
    for (const std::string& arg : args) {
        if (filesOnly || arg.empty() || arg[0] != '-' || arg == "-") {
            options.files.push_back(arg);
        } else if (arg == "--") {
            filesOnly = true;
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "-v" || arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(usage, out);
            std::fputs(help, out);
            return std::fflush(out) == 0 ? checkClean : checkCouldNotRun;
        } else if (arg == "--version") {
            std::fputs("tabladex-check " TABLADEX_VERSION "\n", out);
            return std::fflush(out) == 0 ? checkClean : checkCouldNotRun;
        } else {
            std::fprintf(err, "tabladex-check: unknown option '%s'\n%s", arg.c_str(), usage);
            return checkCouldNotRun;
        }
    }
    if (options.files.empty()) {
        std::fprintf(err, "tabladex-check: no files given\n%s", usage);
        return checkCouldNotRun;
    }

    FileChecker checker;
    bool errors = false;
    for (const std::string& file : options.files) {
        std::vector<std::string> checked;
        std::set<std::string> named;  // paths that got a line
        for (const Problem& problem : checker.check(file, checked)) {
            errors = errors || problem.severity == Severity::Error;
            if (options.quiet && problem.severity == Severity::Warning) continue;
            std::fprintf(out, "%s\n", formatProblem(problem).c_str());
            named.insert(problem.path);
        }
        if (options.verbose)
            for (const std::string& path : checked)
                if (!named.count(path)) std::fprintf(out, "%s: ok\n", path.c_str());
    }
    // A report that did not reach its reader (a full disk, a closed pipe) is no report.
    if (std::fflush(out) != 0 || std::ferror(out)) {
        std::fputs("tabladex-check: the report could not be written\n", err);
        return checkCouldNotRun;
    }
    return errors ? checkFoundErrors : checkClean;
}
