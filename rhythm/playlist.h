// playlist.h - reading a playlist: pairs of lines, a rhythm file path relative to the
// playlist's folder, then how many passes of it to play.
//
// The count is the line's leading whole number (0, a negative number or none: the entry never
// ends); a number too large for a count refuses the file, naming its line. A last path
// without a count line takes its count from its own line, and the file is marked as having
// an odd number of lines. Blank lines at the end of the file are not read as entries.
//
// The file is read line by line and reading stops at the first refusal: a count too large,
// a path line beyond the maxPlaylistEntries-th entry, or more than maxPlaylistBytes read. A
// huge file is therefore refused after reading at most about that much of it. Lines longer
// than 255 characters are read in parts, each part a line of its own, as for rhythm files;
// line numbers are the file's own lines.
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
// The largest playlist read: 1000 entries of two full lines take about 500 KB.
constexpr int64_t maxPlaylistBytes = 1024 * 1024;

// The texts of the tutor's boxes about a playlist; tools print them as they are.
inline constexpr char oddLinesText[] = "Error in playlist file: odd number of lines.";
inline constexpr char playlistLoadErrorText[] = "Error loading the playlist";

struct PlaylistItem {
    std::string path;  // the folder joined with the line as written
    int32_t repeatCount = 0;
    int32_t pathLine = 0;   // the file line of the path
    int32_t countLine = 0;  // and of the count (the path's own with an odd number of lines)
};

struct PlaylistText {
    std::vector<PlaylistItem> items;
    bool oddLines = false;
    // The file lines longer than 255 characters among those read, in order.
    std::vector<int32_t> longLines;
    std::string refusal;      // why the file is refused; empty when it is not
    int32_t refusedLine = 0;  // and the file line at fault; 0 for none or the whole file
};

// Reads the pairs of lines of file (opened in binary mode) up to the end or the first
// refusal; folder ends with a slash or is empty; name is how a message calls the file. A
// refused file keeps no items.
PlaylistText readPlaylistText(std::FILE* file, const std::string& folder,
                              const std::string& name = "the playlist");

// Why a playlist that was read is still refused as a whole: it names no rhythm file (or more
// than maxPlaylistEntries, which the reader already refuses). Empty when its entries may be
// loaded.
std::string entryCountRefusal(const PlaylistText& playlist);
