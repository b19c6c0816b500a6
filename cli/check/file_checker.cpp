// Checking files with the tutor's readers.
#include "cli/check/file_checker.h"

#include <cstdio>
#include <filesystem>

#include "cli/check/rhythm_warnings.h"
#include "rhythm/line_reader.h"
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

// The warning on a line the readers take in parts.
Problem longLineWarning(const std::string& path, int32_t line) {
    return {path, line, Severity::Warning,
            "line " + std::to_string(line) + " is longer than " +
                std::to_string(maxLineCharacters) + " characters; the tutor reads only the first " +
                std::to_string(maxLineCharacters)};
}

}  // namespace

bool FileChecker::firstVisit(const std::string& path, FileKind kind, bool*& loads) {
    // Two spellings of one file (./a.krf, a.krf) are one file. A playlist named by a playlist
    // is read as a rhythm file there: its verdict as a playlist says nothing about that.
    std::error_code error;
    std::filesystem::path key = std::filesystem::weakly_canonical(path, error);
    if (error) key = std::filesystem::path(path).lexically_normal();
    const auto [at, inserted] = verdicts.try_emplace(
        std::make_pair(key.string(), kind), false);
    loads = &at->second;
    return inserted;
}

std::vector<Problem> FileChecker::check(const std::string& path,
                                        std::vector<std::string>& checked,
                                        std::optional<FileKind> kind) {
    std::vector<Problem> problems;
    Run run{problems, checked};
    const std::string resolved = withSlashes(path);
    if (!kind) {
        std::FILE* file = openPlainFile(resolved);
        kind = fileKind(resolved, file);
        if (file) std::fclose(file);
    }
    if (*kind == FileKind::Playlist)
        checkPlaylist(resolved, run);
    else
        checkRhythm(resolved, run);
    return problems;
}

bool FileChecker::checkRhythm(const std::string& path, Run& run) {
    bool* loads = nullptr;
    if (!firstVisit(path, FileKind::Rhythm, loads)) return *loads;
    run.checked.push_back(path);

    std::FILE* file = openPlainFile(path);
    if (!file) {
        run.problems.push_back({path, 0, Severity::Error, readErrorText});
        return false;
    }
    RhythmText text;
    ReadProblem refusal;
    *loads = readRhythmText(file, path.c_str(), text, refusal);
    for (const int32_t line : text.longLines) run.problems.push_back(longLineWarning(path, line));
    if (*loads) {
        for (Problem& warning : rhythmWarnings(path, text))
            run.problems.push_back(std::move(warning));
    } else {
        run.problems.push_back({path, refusal.line, Severity::Error, refusal.text});
    }
    // The tutor says so in a box, but keeps the rhythm it read.
    if (std::fclose(file) != 0)
        run.problems.push_back({path, 0, Severity::Warning, closeErrorText});
    return *loads;
}

void FileChecker::checkPlaylist(const std::string& path, Run& run) {
    bool* loads = nullptr;
    if (!firstVisit(path, FileKind::Playlist, loads)) return;
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

    for (const int32_t line : playlist.longLines)
        run.problems.push_back(longLineWarning(path, line));
    // Refusals, in the order the tutor meets them; the entries of a refused playlist are
    // never read.
    if (!playlist.refusal.empty()) {
        run.problems.push_back({path, playlist.refusedLine, Severity::Error, playlist.refusal});
        return;
    }
    const auto entries = static_cast<int32_t>(playlist.items.size());
    // The tutor shows this box and loads the playlist: the last entry takes its count from
    // its own line.
    if (playlist.oddLines)
        run.problems.push_back(
            {path, playlist.items.back().pathLine, Severity::Warning, oddLinesText});
    if (const std::string refusal = entryCountRefusal(playlist); !refusal.empty()) {
        run.problems.push_back({path, 0, Severity::Error, refusal});
        return;
    }

    for (int32_t k = 0; k < entries; ++k) {
        const PlaylistItem& item = playlist.items[k];
        const std::string rhythmPath = withSlashes(item.path);
        // A blank line in a playlist without a folder names no file at all: the line itself
        // is the problem.
        if (rhythmPath.empty())
            run.problems.push_back({path, item.pathLine, Severity::Error, readErrorText});
        if (rhythmPath.empty() || !checkRhythm(rhythmPath, run))
            run.problems.push_back(
                {path, item.pathLine, Severity::Error, playlistLoadErrorText});
        const bool countOwnLine = playlist.oddLines && k == entries - 1;
        if (item.repeatCount <= 0 && !countOwnLine)
            run.problems.push_back({path, item.countLine, Severity::Warning,
                                    "The count " + std::to_string(item.repeatCount) +
                                        " never ends this entry: it repeats until the learner "
                                        "moves on."});
    }
    *loads = true;
}
