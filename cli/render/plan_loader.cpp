// Reading the input files into a plan.
#include "cli/render/plan_loader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "rhythm/file_kind.h"
#include "rhythm/notation_parser.h"
#include "rhythm/playlist.h"
#include "rhythm/rhythm_file.h"

namespace {

// Paths may be written with Windows separators.
std::string withSlashes(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

// Opens a plain file for reading: a folder, pipe or device is refused like a missing file.
std::FILE* openPlainFile(const std::string& path, std::string& error) {
    std::error_code code;
    if (!std::filesystem::exists(path, code)) {
        error = path + ": no such file";
        return nullptr;
    }
    if (!std::filesystem::is_regular_file(path, code)) {
        error = path + ": not a plain file";
        return nullptr;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) error = path + ": " + std::strerror(errno);
    return file;
}

bool readEntry(const std::string& path, PlanEntry& entry, std::string& error) {
    std::FILE* file = openPlainFile(path, error);
    if (!file) return false;
    RhythmText text;
    ReadProblem problem;
    const bool read = readRhythmText(file, path.c_str(), text, problem);
    std::fclose(file);
    if (!read) {
        error = problem.text;  // names the file and the line, as the tutor's box does
        return false;
    }
    entry.tempo = text.tempo;
    entry.subdivision = text.subdivision;
    entry.name = path;
    entry.title = text.title;
    entry.steps.clear();
    for (const char c : text.notation) entry.steps.push_back(notationSymbol(c).sound);
    return true;
}

}  // namespace

bool isPlaylistFile(const std::string& path) {
    FileKind kind;
    if (kindFromName(withSlashes(path), kind)) return kind == FileKind::Playlist;
    // Any other name is read as its content says; one that cannot be read goes to the
    // rhythm reader, which says why.
    std::string unused;
    std::FILE* file = openPlainFile(withSlashes(path), unused);
    kind = fileKind(path, file);
    if (file) std::fclose(file);
    return kind == FileKind::Playlist;
}

bool loadPlan(const std::string& inputPath, const PlanSettings& settings, RenderPlan& plan,
              std::vector<std::string>& warnings, std::string& error) {
    const std::string path = withSlashes(inputPath);
    plan = RenderPlan{};
    plan.rate = settings.rate;
    plan.countInBeats = settings.countInBeats;
    plan.limitFrames = settings.limitFrames;
    plan.ladder = settings.ladder;
    plan.silent = settings.silent;

    if (!isPlaylistFile(path)) {
        PlanEntry entry;
        if (!readEntry(path, entry, error)) return false;
        entry.passes = settings.repeats;
        plan.title = entry.title;
        plan.entries.push_back(std::move(entry));
    } else {
        std::FILE* file = openPlainFile(path, error);
        if (!file) return false;
        const std::size_t slash = path.find_last_of('/');
        const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        plan.title = std::filesystem::path(path).stem().string();
        const PlaylistText playlist = readPlaylistText(file, folder, path);
        std::fclose(file);
        if (!playlist.refusal.empty()) {
            error = playlist.refusal;
            return false;
        }
        if (playlist.items.empty()) {
            error = path + ": the playlist names no rhythm files";
            return false;
        }
        if (playlist.items.size() > maxPlaylistEntries) {
            error = path + ": the playlist names more than " + std::to_string(maxPlaylistEntries) +
                    " rhythm files";
            return false;
        }
        if (playlist.oddLines) warnings.push_back(path + ": " + oddLinesText);
        for (std::size_t i = 0; i < playlist.items.size(); ++i) {
            const PlaylistItem& item = playlist.items[i];
            const bool ownLine = playlist.oddLines && i + 1 == playlist.items.size();
            const std::size_t countLine = 2 * i + (ownLine ? 1 : 2);
            if (item.repeatCount <= 0 && settings.limitFrames < 0) {
                error = path + ":" + std::to_string(countLine) + ": " + item.path +
                        " repeats endlessly (count " + std::to_string(item.repeatCount) +
                        "); give the render a length with --minutes";
                return false;
            }
            PlanEntry entry;
            if (!readEntry(withSlashes(item.path), entry, error)) return false;
            entry.passes = item.repeatCount;
            plan.entries.push_back(std::move(entry));
        }
    }

    for (PlanEntry& entry : plan.entries) {
        if (settings.tempo > 0) entry.tempo = settings.tempo;
        // Steps of at least one frame keep every stroke on a frame of its own.
        const int32_t fastest = plan.ladder.start > 0 ? std::max(plan.ladder.start, plan.ladder.end) : entry.tempo;
        if (static_cast<int64_t>(fastest) * entry.subdivision > int64_t(60) * plan.rate) {
            error = path + ": " + std::to_string(fastest) + " beats per minute with " +
                    std::to_string(entry.subdivision) + " steps per beat is too fast to render at " +
                    std::to_string(plan.rate) + " Hz";
            return false;
        }
    }
    return true;
}
