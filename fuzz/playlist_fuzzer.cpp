// Fuzz target: any bytes as a playlist, read through the same stream reader as a file on
// disk. Checks what loading relies on: every entry's path starts with the playlist's folder
// and holds one line's text and names its file lines, a file with a last path but no count
// says so, and a refused file keeps no entries.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "rhythm/line_reader.h"
#include "rhythm/playlist.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> bytes(data, data + size);
    bytes.push_back('\0');
    std::FILE* file = fmemopen(bytes.data(), size == 0 ? 1 : size, "rb");
    if (!file) return 0;
    if (size == 0) std::fgetc(file);  // leaves the stream at its end: an empty file

    const std::string folder = "lessons/";
    const PlaylistText playlist = readPlaylistText(file, folder);
    std::fclose(file);
    // Each entry takes at least one line, and each line at least one byte or its end.
    require(playlist.items.size() <= size / 2 + 1);
    for (const PlaylistItem& item : playlist.items) {
        require(item.path.compare(0, folder.size(), folder) == 0);
        require(item.path.size() <= folder.size() + maxLineCharacters);
        require(item.path.find('\n') == std::string::npos);
        require(item.pathLine >= 1 && item.countLine >= item.pathLine);
    }
    if (!playlist.refusal.empty()) {
        // A count that cannot be read or one entry too many refuses the whole file, naming
        // its line; a file too large names none.
        require(playlist.items.empty() && playlist.refusedLine >= 0);
        return 0;
    }
    require(playlist.refusedLine == 0);
    require(!playlist.oddLines || !playlist.items.empty());
    return 0;
}
