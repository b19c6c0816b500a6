// The command line of tabladex-check.
#include "cli/check/check_program.h"

#include <optional>
#include <set>

#include "cli/check/file_checker.h"

namespace {

constexpr char usage[] = "Usage: tabladex-check [options] FILE...\n";

constexpr char help[] =
    "Checks rhythm files and playlists as Tabladex reads them, and the rhythm files\n"
    "each playlist names, and prints one line per problem:\n"
    "\n"
    "  PATH:LINE:COLUMN: error: TEXT   the tutor refuses the file for this reason\n"
    "  PATH:LINE: warning: TEXT        the tutor loads it, but not as probably meant\n"
    "  PATH: error: TEXT               the whole file (unreadable, empty or too large)\n"
    "\n"
    "LINE and COLUMN are the file's as an editor counts them; COLUMN is given only\n"
    "where the problem is one character (of a notation or a title). Each file's\n"
    "problems come in line order, a playlist's before those of the rhythm files it\n"
    "names. A blank or comment line that puts a playlist's pairs of lines out of\n"
    "step is reported once, and nothing that follows from it. A line longer than\n"
    "255 characters gets a warning: the tutor reads its first 255 characters, and\n"
    "the rest as the next line.\n"
    "\n"
    "A FILE ending in .krf is read as a rhythm file, one ending in .krp as a\n"
    "playlist. Any other (such as .txt, which both open dialogs offer) is read as a\n"
    "rhythm file when its fourth line does not begin with a number (a rhythm's\n"
    "fourth line is its notation, a playlist's a count) or, having three lines\n"
    "only, when its third line does (a subdivision); otherwise as a playlist.\n"
    "--rhythm and --playlist override this for every FILE given; the files a\n"
    "playlist names are always rhythm files.\n"
    "\n"
    "Options:\n"
    "  -q, --quiet     print errors only\n"
    "  -v, --verbose   also print \"PATH: ok\" for each file without problems\n"
    "      --rhythm    read every FILE as a rhythm file\n"
    "      --playlist  read every FILE as a playlist\n"
    "  -h, --help      print this help and exit\n"
    "      --version   print the version and exit\n"
    "      --          what follows is a file, even if it starts with '-'\n"
    "\n"
    "Exit status: 0 no errors (warnings allowed), 1 errors found, 2 could not run.\n";

struct Options {
    bool quiet = false;
    bool verbose = false;
    std::optional<FileKind> kind;
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
        } else if (arg == "--rhythm" || arg == "--playlist") {
            const FileKind kind = arg == "--rhythm" ? FileKind::Rhythm : FileKind::Playlist;
            if (options.kind && *options.kind != kind) {
                std::fprintf(err, "tabladex-check: '--rhythm' and '--playlist' exclude each other\n%s",
                             usage);
                return checkCouldNotRun;
            }
            options.kind = kind;
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
        for (const Problem& problem : checker.check(file, checked, options.kind)) {
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
