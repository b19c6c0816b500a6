// Checking files with the tutor's readers.
#include "cli/check/file_checker.h"

#include <cstdio>
#include <filesystem>

#include "cli/check/rhythm_warnings.h"
#include "rhythm/playlist.h"
#include "rhythm/rhythm_file.h"

namespace {

// Paths may come with Windows separators, as the tutor accepts them.
std::string withSlashes(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

// Only plain files are read, as in the tutor: a folder says nothing, a pipe could block.
std::FILE* openPlainFile(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return nullptr;
    return std::fopen(path.c_str(), "rb");
}

bool isPlaylistName(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
    std::string extension = path.substr(dot);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension == ".krp" || extension == ".txt";
}

}  // namespace

bool FileChecker::firstVisit(const std::string& path, bool*& loads) {
    // Two spellings of one file (./a.krf, a.krf) are one file.
    std::error_code error;
    std::filesystem::path key = std::filesystem::weakly_canonical(path, error);
    if (error) key = std::filesystem::path(path).lexically_normal();
    const auto [at, inserted] = verdicts.try_emplace(key.string(), false);
    loads = &at->second;
    return inserted;
}

std::vector<Problem> FileChecker::check(const std::string& path,
                                        std::vector<std::string>& checked) {
    std::vector<Problem> problems;
    Run run{problems, checked};
    const std::string resolved = withSlashes(path);
    if (isPlaylistName(resolved))
        checkPlaylist(resolved, run);
    else
        checkRhythm(resolved, run);
    return problems;
}

bool FileChecker::checkRhythm(const std::string& path, Run& run) {
    bool* loads = nullptr;
    if (!firstVisit(path, loads)) return *loads;
    run.checked.push_back(path);

    std::FILE* file = openPlainFile(path);
    if (!file) {
        run.problems.push_back({path, 0, Severity::Error, readErrorText});
        return false;
    }
    RhythmText text;
    ReadProblem refusal;
    *loads = readRhythmText(file, path.c_str(), text, refusal);
    if (*loads) {
        for (Problem& warning : rhythmWarnings(path, text))
            run.problems.push_back(std::move(warning));
    } else {
        run.problems.push_back({path, refusal.line, Severity::Error, refusal.text});
    }
    if (std::fclose(file) != 0) run.problems.push_back({path, 0, Severity::Error, closeErrorText});
    return *loads;
}

void FileChecker::checkPlaylist(const std::string& path, Run& run) {
    bool* loads = nullptr;
    if (!firstVisit(path, loads)) return;
    run.checked.push_back(path);

    std::FILE* file = openPlainFile(path);
    if (!file) {
        run.problems.push_back({path, 0, Severity::Error, readErrorText});
        return;
    }
    const size_t slash = path.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const PlaylistText playlist = readPlaylistText(file, folder, path);
    std::fclose(file);  // read only: nothing to lose

    // Refusals, in the order the tutor meets them; the entries of a refused playlist are
    // never read.
    if (!playlist.refusal.empty()) {
        run.problems.push_back({path, playlist.refusedLine, Severity::Error, playlist.refusal});
        return;
    }
    const auto entries = static_cast<int32_t>(playlist.items.size());
    // Entry k is named on line 2k + 1 and counted on the line after it; the last entry of a
    // file with an odd number of lines takes its count from its own line.
    if (playlist.oddLines)
        run.problems.push_back({path, 2 * entries - 1, Severity::Error, oddLinesText});
    if (const std::string refusal = entryCountRefusal(playlist); !refusal.empty()) {
        const int32_t line = entries == 0 ? 0 : 2 * static_cast<int32_t>(maxPlaylistEntries) + 1;
        run.problems.push_back({path, line, Severity::Error, refusal});
        return;
    }

    for (int32_t k = 0; k < entries; ++k) {
        const PlaylistItem& item = playlist.items[k];
        const int32_t pathLine = 2 * k + 1;
        const std::string rhythmPath = withSlashes(item.path);
        // A blank line in a playlist without a folder names no file at all: the line itself
        // is the problem.
        if (rhythmPath.empty())
            run.problems.push_back({path, pathLine, Severity::Error, readErrorText});
        if (rhythmPath.empty() || !checkRhythm(rhythmPath, run))
            run.problems.push_back({path, pathLine, Severity::Error, playlistLoadErrorText});
        const bool countOwnLine = playlist.oddLines && k == entries - 1;
        if (item.repeatCount <= 0 && !countOwnLine)
            run.problems.push_back({path, pathLine + 1, Severity::Warning,
                                    "The count " + std::to_string(item.repeatCount) +
                                        " never ends this entry: it repeats until the learner "
                                        "moves on."});
    }
    *loads = true;
}
