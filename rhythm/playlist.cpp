// The playlist reader: pairs of lines into paths and counts.
#include "rhythm/playlist.h"

#include "rhythm/line_reader.h"
#include "rhythm/rhythm_file.h"

namespace {

// Whether the line starts, after white space and a sign, with a digit: a count was written.
bool hasLeadingDigits(const std::string& line) {
    std::size_t at = line.find_first_not_of(" \t\v\f\r\n");
    if (at == std::string::npos) return false;
    if (line[at] == '+' || line[at] == '-') ++at;
    return at < line.size() && line[at] >= '0' && line[at] <= '9';
}

}  // namespace

PlaylistText readPlaylistText(std::FILE* file, const std::string& folder, const std::string& name) {
    PlaylistText text;
    LineReader reader(file);
    std::vector<std::string> lines;
    for (std::string line; reader.readLine(line);) lines.push_back(line);
    while (!lines.empty() && lines.back().empty()) lines.pop_back();

    for (std::size_t at = 0; at < lines.size(); at += 2) {
        PlaylistItem item;
        item.path = folder + lines[at];
        std::size_t countAt = at + 1;
        if (countAt >= lines.size()) {
            text.oddLines = true;
            countAt = at;  // the last entry's count comes from its own path line
        }
        const std::string& count = lines[countAt];
        if (!leadingInteger(count, item.repeatCount) && hasLeadingDigits(count)) {
            text.refusedLine = static_cast<int32_t>(countAt + 1);
            text.refusal = "The count on line " + std::to_string(countAt + 1) + " of " + name +
                           " is too large.";
            text.items.clear();
            return text;
        }
        text.items.push_back(std::move(item));
    }
    return text;
}

std::string entryCountRefusal(const PlaylistText& playlist) {
    if (playlist.items.size() > maxPlaylistEntries)
        return "The playlist names more than " + std::to_string(maxPlaylistEntries) +
               " rhythm files; the current rhythm stays loaded.";
    if (playlist.items.empty())
        return "The playlist names no rhythm files; the current rhythm stays loaded.";
    return {};
}
