// playlist.h - reading a playlist: pairs of lines, a rhythm file path relative to the
// playlist's folder, then how many passes of it to play.
//
// The count is the line's leading whole number (0, a negative number or none: the entry never
// ends). A last path without a count line takes its count from its own line, and the file is
// marked as having an odd number of lines.
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
};

// Reads every pair of lines of file (opened in binary mode); folder ends with a slash or is
// empty.
PlaylistText readPlaylistText(std::FILE* file, const std::string& folder);
