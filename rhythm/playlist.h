// playlist.h - reading a playlist: pairs of lines, a rhythm file path relative to the
// playlist's folder, then how many passes of it to play.
//
// The count is the line's leading whole number (0, a negative number or none: the entry never
// ends); a number too large for a count refuses the file, naming its line. A last path
// without a count line takes its count from its own line, and the file is marked as having
// an odd number of lines. Blank lines at the end of the file are not read as entries.
//
// Threads: any. Ownership: the caller owns the stream and the result.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct PlaylistItem {
    std::string path;  // the folder joined with the line as written
    int32_t repeatCount = 0;
};

struct PlaylistText {
    std::vector<PlaylistItem> items;
    bool oddLines = false;
    int32_t refusedLine = 0;  // the line of a count that cannot be read; 0 when none
    std::string refusal;      // and the message that says so
};

// Reads every pair of lines of file (opened in binary mode); folder ends with a slash or is
// empty; name is how a message calls the file.
PlaylistText readPlaylistText(std::FILE* file, const std::string& folder,
                              const std::string& name = "the playlist");
