// Fuzz target: any bytes as a playlist, read through the same stream reader as a file on
// disk. Checks what loading relies on: every entry's path starts with the playlist's folder
// and holds one line's text, a file with a last path but no count says so, and a refused
// file names its line and keeps no entries.
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
    }
    if (!playlist.refusal.empty()) {
        // A count that cannot be read refuses the whole file, naming its line.
        require(playlist.items.empty() && playlist.refusedLine >= 1);
        return 0;
    }
    require(playlist.refusedLine == 0);
    require(!playlist.oddLines || !playlist.items.empty());
    return 0;
}
