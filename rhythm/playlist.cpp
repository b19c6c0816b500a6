// The playlist reader: pairs of lines into paths and counts.
#include "rhythm/playlist.h"

#include "rhythm/line_reader.h"
#include "rhythm/rhythm_file.h"

PlaylistText readPlaylistText(std::FILE* file, const std::string& folder) {
    PlaylistText text;
    LineReader reader(file);
    std::string line;
    while (reader.readLine(line)) {
        PlaylistItem item;
        item.path = folder + line;
        std::string countLine;
        if (!reader.readLine(countLine)) {
            text.oddLines = true;
            countLine = line;  // the last entry's count comes from its own path line
        }
        leadingInteger(countLine, item.repeatCount);
        text.items.push_back(std::move(item));
    }
    return text;
}
