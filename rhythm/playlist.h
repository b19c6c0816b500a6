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

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The most rhythm files a playlist may name; each entry holds its own images.
constexpr std::size_t maxPlaylistEntries = 1000;

// The texts of the tutor's boxes about a playlist; tools print them as they are.
inline constexpr char oddLinesText[] = "Error in playlist file: odd number of lines.";
inline constexpr char playlistLoadErrorText[] = "Error loading the playlist";

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

// Why a playlist that was read is still refused as a whole: it names no rhythm file, or more
// than maxPlaylistEntries. Empty when its entries may be loaded.
std::string entryCountRefusal(const PlaylistText& playlist);
