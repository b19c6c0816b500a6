// Checking files with the tutor's readers.
#include "cli/check/file_checker.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>

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
            "The line is longer than " + std::to_string(maxLineCharacters) +
                " characters; the tutor reads only the first " +
                std::to_string(maxLineCharacters)};
}

// A reader's refusal as a problem line words it: the line prefix names the file and the line,
// so the message does not again ("The tempo on line 2 of a.krf must be" reads "The tempo
// must be"; "Line 3 (the subdivision) of a.krf is missing" reads "The subdivision is
// missing"). The part of a cut line a message names ("from its character 256") becomes the
// problem's column.
Problem placed(const std::string& path, int32_t line, std::string text) {
    for (const std::string& place : {" of " + path, "The file " + path + " "})
        if (const size_t at = text.find(place); !path.empty() && at != std::string::npos)
            text.replace(at, place.size(), place[0] == ' ' ? "" : "The file ");
    static const std::regex onLine(" on line [0-9]+( \\(from its character ([0-9]+)\\))?");
    static const std::regex missing("^Line [0-9]+ \\(the ([a-z]+)\\)");
    int32_t column = 0;
    if (std::smatch found; line > 0 && std::regex_search(text, found, onLine) && found[2].matched)
        column = std::stoi(found[2].str());
    text = std::regex_replace(std::regex_replace(text, onLine, ""), missing, "The $1");
    return {path, line, Severity::Error, text, column};
}

// The lines of a file as the readers take them: up to most parts, each with its file line
// and first column.
struct Part {
    std::string text;
    int32_t line = 0;
    int32_t column = 1;
};

std::vector<Part> readParts(std::FILE* file, size_t most) {
    std::vector<Part> parts;
    std::rewind(file);
    LineReader reader(file);
    for (std::string line; parts.size() < most && reader.readLine(line);)
        parts.push_back({std::move(line), reader.fileLine(), reader.firstColumn()});
    return parts;
}

bool blankLine(const std::string& text) {
    return text.find_first_not_of(" \t\v\f\r") == std::string::npos;
}

// What a writer may have meant as a comment; a playlist has no comments.
bool commentLine(const std::string& text) {
    const size_t at = text.find_first_not_of(" \t");
    return at != std::string::npos &&
           (text[at] == '#' || text[at] == ';' || text.compare(at, 2, "//") == 0);
}

bool wholeNumberLine(const std::string& text) {
    int32_t value = 0;
    return leadingInteger(text, value) && !trailsNumber(text);
}

std::string quotedLine(const std::string& text) {
    std::string out = "'";
    for (const char byte : text) {
        if (byte == '\\' || byte == '\'') out += '\\';
        out += byte;
    }
    return out + "'";
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
    const size_t firstChecked = checked.size();
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
    // File by file in the order they were read (a playlist before the rhythm files it
    // names), each file's problems in the order of its lines and columns.
    const auto fileOrder = [&](const std::string& file) {
        const auto at = std::find(checked.begin() + firstChecked, checked.end(), file);
        return at - checked.begin();
    };
    std::stable_sort(problems.begin(), problems.end(), [&](const Problem& a, const Problem& b) {
        const auto fileA = fileOrder(a.path), fileB = fileOrder(b.path);
        if (fileA != fileB) return fileA < fileB;
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
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
        const std::vector<Part> parts = readParts(file, 4);
        NumberLine tempo, subdivision;
        int32_t notationColumn = 1;
        if (parts.size() == 4) {
            tempo = {parts[1].text, parts[1].line};
            subdivision = {parts[2].text, parts[2].line};
            notationColumn = parts[3].column;
        }
        for (Problem& warning : rhythmWarnings(path, text, notationColumn, tempo, subdivision))
            run.problems.push_back(std::move(warning));
    } else {
        run.problems.push_back(placed(path, refusal.line, refusal.text));
    }
    // The tutor says so in a box, but keeps the rhythm it read.
    if (std::fclose(file) != 0)
        run.problems.push_back({path, 0, Severity::Warning, closeErrorText});
    return *loads;
}

namespace {

// The first line from which a playlist's pairs are read out of step with what its writer
// meant: a blank or comment line where a rhythm file's name belongs, or where a count belongs
// with a count after it. Everything the tutor then says about later lines follows from it,
// so it is reported alone. line is 0 when there is none.
struct OutOfStep {
    int32_t line = 0;
    Problem problem;
};

OutOfStep outOfStep(const std::string& path, const std::string& folder,
                    const std::vector<Part>& parts) {
    size_t last = parts.size();
    while (last > 0 && parts[last - 1].text.empty()) --last;  // trailing blanks name nothing
    for (size_t i = 0; i < last; ++i) {
        const Part& part = parts[i];
        const bool blank = blankLine(part.text);
        if (!blank && !commentLine(part.text)) continue;
        const std::string what =
            blank ? "The line is blank"
                  : "The line " + quotedLine(part.text) +
                        " looks like a comment, but a playlist has no comments";
        std::error_code error;
        if (i % 2 == 0) {
            if (std::filesystem::is_regular_file(withSlashes(folder + part.text), error)) continue;
            return {part.line,
                    {path, part.line, Severity::Error,
                     what + ": the playlist's pairs are read out of step from here; the tutor "
                            "takes it for a rhythm file's name, finds no such file and refuses "
                            "the playlist (\"" + playlistLoadErrorText + "\")."}};
        }
        if (i + 1 >= last || !wholeNumberLine(parts[i + 1].text)) continue;
        const bool named =
            std::filesystem::is_regular_file(withSlashes(folder + parts[i + 1].text), error);
        return {part.line,
                {path, part.line, named ? Severity::Warning : Severity::Error,
                 what + " where a count belongs: the playlist's pairs are read out of step from "
                        "here; the tutor reads the count as 0 and the number after it as a "
                        "rhythm file's name" +
                     (named ? "." : ", finds no such file and refuses the playlist (\"" +
                                        std::string(playlistLoadErrorText) + "\").")}};
    }
    return {};
}

// What a count line says that its writer may not mean; empty when nothing.
std::string countWarning(const std::string& text, int32_t count) {
    const std::string never = "so this entry never ends: it repeats until the learner moves on.";
    if (wholeNumberLine(text))
        return count > 0 ? std::string()
                         : "The count " + std::to_string(count) + " never ends this entry: it "
                           "repeats until the learner moves on.";
    const std::string said = blankLine(text) ? std::string("The count line is empty")
                                             : "The count " + quotedLine(text) +
                                                   " is not a whole number";
    return said + ": the tutor reads it as " + std::to_string(count) +
           (count > 0 ? "." : ", " + never);
}

}  // namespace

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
    const std::vector<Part> parts =
        playlist.refusal.empty() ? readParts(file, 2 * maxPlaylistEntries + 2) : std::vector<Part>();
    std::fclose(file);  // read only: nothing to lose

    const OutOfStep root = outOfStep(path, folder, parts);
    // Only what comes before the root is the writer's own; the rest follows from it.
    const auto before = [&](int32_t line) { return root.line == 0 || line < root.line; };
    for (const int32_t line : playlist.longLines)
        if (before(line)) run.problems.push_back(longLineWarning(path, line));
    // Refusals, in the order the tutor meets them; the entries of a refused playlist are
    // never read.
    if (!playlist.refusal.empty()) {
        run.problems.push_back(placed(path, playlist.refusedLine, playlist.refusal));
        return;
    }
    if (root.line > 0) run.problems.push_back(root.problem);
    const auto entries = static_cast<int32_t>(playlist.items.size());
    // The tutor shows this box and loads the playlist: the last entry takes its count from
    // its own line.
    if (playlist.oddLines && root.line == 0)
        run.problems.push_back(
            {path, playlist.items.back().pathLine, Severity::Warning, oddLinesText});
    if (const std::string refusal = entryCountRefusal(playlist); !refusal.empty()) {
        run.problems.push_back({path, 0, Severity::Error, refusal});
        return;
    }

    for (int32_t k = 0; k < entries; ++k) {
        const PlaylistItem& item = playlist.items[k];
        if (!before(item.pathLine)) break;
        const std::string rhythmPath = withSlashes(item.path);
        // (A blank name, the folder itself, is reported above as what puts the pairs out of
        // step.)
        if (rhythmPath.empty() || !checkRhythm(rhythmPath, run))
            run.problems.push_back(
                {path, item.pathLine, Severity::Error, playlistLoadErrorText});
        const bool countOwnLine = playlist.oddLines && k == entries - 1;
        const size_t countPart = 2 * static_cast<size_t>(k) + 1;
        if (countOwnLine || !before(item.countLine) || countPart >= parts.size()) continue;
        if (const std::string warning = countWarning(parts[countPart].text, item.repeatCount);
            !warning.empty())
            run.problems.push_back({path, item.countLine, Severity::Warning, warning});
    }
    *loads = true;
}
