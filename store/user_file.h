// user_file.h - what the learner's files (the settings, the practice log) share: they are read
// up to a limit, written whole or not at all, and a damaged one is set aside under a name that
// never replaces an earlier one.
//
// - replaceWhole writes the text to a temporary file beside the path (writeTemporary),
//   flushes it to the disk and renames it over the path (renameOver), then flushes the folder,
//   so a crash or a full disk leaves the old file or the new one, never half of one; on a
//   failure the temporary file is removed.
// - setAside renames a file to PATH.damaged-YYYYMMDD-HHMMSS (local time), or the first of
//   -2, -3 ... that is free, without ever replacing a file.
// - Every failure gives the system's reason in words, without a final full stop.
//
// Threads: any, on different files; two threads or instances renaming the same file must
// hold a lock of their own (the practice log does). Ownership: plain values.
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
#include <windows.h>
// Files opened so that another instance may still read, write and rename them.
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
std::string systemReason(DWORD code);
#endif
// The reason of the last failed system call (errno, or GetLastError on Windows).
std::string systemReason();

enum class Loaded { Read, Missing, Unreadable };
// The file's first most + 1 bytes (one more tells a file that is too large).
Loaded loadFile(const std::string& path, int64_t most, std::string& bytes, std::string& reason);

// Flushes path's folder, so that a file made or renamed in it stays after a crash.
void syncFolder(const std::string& path);
// Writes text to a new temporary file beside path, flushed to the disk; its name in temporary.
bool writeTemporary(const std::string& path, const std::string& text, std::string& temporary, std::string& reason);
// Renames the temporary file over path; on failure removes it.
bool renameOver(const std::string& temporary, const std::string& path, std::string& reason);
bool replaceWhole(const std::string& path, const std::string& text, std::string& reason);
void removeFile(const std::string& path);

enum class Moved { Done, Taken, Failed };
// Renames from to to, never replacing a file at to.
Moved renameNoReplace(const std::string& from, const std::string& to, std::string& reason);
bool setAside(const std::string& path, std::string& aside, std::string& reason);

// Where the learner's file `name` lives: %APPDATA%\Tabladex\name on Windows; on Linux
// $XDG/tabladex/name for the base folder variable xdgVariable when it is absolute, else
// $HOME/homeFolder/tabladex/name; empty when no folder is known.
std::string userFilePath(const char* xdgVariable, const char* homeFolder, const char* name);

// Makes the folder of path and those above it; false with error ("Could not make the folder
// F for WHAT: reason.") when it cannot.
bool makeFolderFor(const std::string& path, const std::string& what, std::string& error);

// The local time now in strftime's format.
std::string localTimeText(const char* format);

// The file a path linked from elsewhere leads to (that one is rewritten, the link stays);
// path itself otherwise.
std::string followed(const std::string& path);
