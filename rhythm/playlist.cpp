// The playlist reader: pairs of lines into paths and counts.
#include "rhythm/playlist.h"

#include "rhythm/line_reader.h"
#include "rhythm/rhythm_file.h"

namespace {

// One line as the reader returned it, and where it stands in the file.
struct Part {
    std::string text;
    int32_t line = 0;
    int32_t column = 1;
};

std::string tooManyText() {
    return "The playlist names more than " + std::to_string(maxPlaylistEntries) +
           " rhythm files; the current rhythm stays loaded.";
}

// Pairs lines into entries as they come, so that nothing beyond the first refusal is kept.
class Pairing {
public:
    Pairing(PlaylistText& text, const std::string& folder, const std::string& name)
        : text(text), folder(folder), name(name) {}

    // Takes the next line; false once the file is refused.
    bool add(Part part) {
        if (!pathPending) {
            if (text.items.size() == maxPlaylistEntries) {
                full = true;
                return refuse(part.line, tooManyText());
            }
            path = std::move(part);
            pathPending = true;
            return true;
        }
        pathPending = false;
        return addEntry(part);
    }

    // The end of the file: a path without its count line counts from its own line.
    bool finish() {
        if (!pathPending) return true;
        text.oddLines = true;
        pathPending = false;
        return addEntry(path);
    }

    bool refuse(int32_t line, std::string why) {
        text.items.clear();
        text.refusedLine = line;
        text.refusal = std::move(why);
        return false;
    }

    bool full = false;  // refused for one entry too many

private:
    bool addEntry(const Part& count) {
        PlaylistItem item;
        item.path = folder + path.text;
        item.pathLine = path.line;
        item.countLine = count.line;
        if (!leadingInteger(count.text, item.repeatCount) && startsWithNumber(count.text)) {
            std::string where = "line " + std::to_string(count.line);
            if (count.column > 1) where += " (from its character " + std::to_string(count.column) + ")";
            return refuse(count.line, "The count on " + where + " of " + name + " is too large.");
        }
        text.items.push_back(std::move(item));
        return true;
    }

    PlaylistText& text;
    const std::string& folder;
    const std::string& name;
    Part path;
    bool pathPending = false;
};

}  // namespace

PlaylistText readPlaylistText(std::FILE* file, const std::string& folder, const std::string& name) {
    PlaylistText text;
    Pairing pairs(text, folder, name);
    LineReader reader(file);
    // Blank lines count only when a line with text follows: those at the end are no entry.
    int32_t blankFrom = 0;
    int32_t blanks = 0;
    const auto tooLarge = [&] {
        pairs.refuse(0, "The playlist is larger than " +
                            std::to_string(maxPlaylistBytes / (1024 * 1024)) +
                            " MB, more than any playlist of " + std::to_string(maxPlaylistEntries) +
                            " rhythm files; the current rhythm stays loaded.");
    };
    for (std::string line; reader.readLine(line);) {
        if (reader.bytesRead() > maxPlaylistBytes) {
            tooLarge();
            return text;
        }
        if (reader.lastWasCut() &&
            (text.longLines.empty() || text.longLines.back() != reader.fileLine()))
            text.longLines.push_back(reader.fileLine());
        if (line.empty()) {
            if (blanks++ == 0) blankFrom = reader.fileLine();
            continue;
        }
        bool refused = false;
        for (; blanks > 0 && !refused; --blanks)
            refused = !pairs.add({std::string(), blankFrom++, 1});
        if (!refused) refused = !pairs.add({std::move(line), reader.fileLine(), reader.firstColumn()});
        if (refused) {
            // A file of another kind (a recording, an image) reads as lines of text too: its
            // size says more about it than the entries it seems to name.
            if (pairs.full && !reader.endsWithin(maxPlaylistBytes)) tooLarge();
            return text;
        }
    }
    pairs.finish();
    return text;
}

std::string entryCountRefusal(const PlaylistText& playlist) {
    if (playlist.items.size() > maxPlaylistEntries) return tooManyText();
    if (playlist.items.empty())
        return "The playlist names no rhythm files; the current rhythm stays loaded.";
    return {};
}
