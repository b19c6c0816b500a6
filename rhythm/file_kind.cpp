// Telling rhythm files from playlists by their name or their first lines.
#include "rhythm/file_kind.h"

#include "rhythm/line_reader.h"
#include "rhythm/rhythm_file.h"

bool kindFromName(const std::string& path, FileKind& kind) {
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find_first_of("/\\", dot) != std::string::npos)
        return false;
    std::string extension = path.substr(dot);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (extension == ".krf") kind = FileKind::Rhythm;
    else if (extension == ".krp") kind = FileKind::Playlist;
    else return false;
    return true;
}

FileKind kindFromContent(std::FILE* file) {
    LineReader reader(file);
    std::string lines[4];
    int count = 0;
    while (count < 4 && reader.readLine(lines[count])) ++count;
    std::rewind(file);
    if (count == 4) return startsWithNumber(lines[3]) ? FileKind::Playlist : FileKind::Rhythm;
    if (count == 3 && startsWithNumber(lines[2])) return FileKind::Rhythm;
    return FileKind::Playlist;
}

FileKind fileKind(const std::string& path, std::FILE* file) {
    FileKind kind = FileKind::Rhythm;
    if (kindFromName(path, kind) || !file) return kind;
    return kindFromContent(file);
}
