// file_kind.h - whether a file is a rhythm file or a playlist, for the tools that take a file
// of either kind: the name where it says, else the content.
//
// ".krf" is a rhythm file and ".krp" a playlist (case ignored). Any other name (".txt", which
// the open-file dialogs offer for both) is decided by the first four lines, as the readers
// read them: a rhythm file's fourth line is its notation, which never begins with a digit,
// while a playlist's fourth line is its second count. So a file is a rhythm file when it has
// a fourth line that does not begin with a number, or, having only three lines, when its
// third line begins with one (a subdivision, the notation missing); anything else, an empty
// file too, is a playlist.
//
// Threads: any. Ownership: the caller owns the stream.
#pragma once

#include <cstdio>
#include <string>

enum class FileKind { Rhythm, Playlist };

// The kind the name's extension says; false when it says neither.
bool kindFromName(const std::string& path, FileKind& kind);

// The kind the first four lines of file say (opened in binary mode, read from its start).
// The stream is rewound to its start afterwards, for the reader.
FileKind kindFromContent(std::FILE* file);

// The name where it says, else the content; a null file (one that cannot be opened) is a
// rhythm file, whose reader then says so.
FileKind fileKind(const std::string& path, std::FILE* file);
