// open_file_rules.h - the rules of the open-file dialog record that every backend shares:
// reading the filter list, completing a typed name with the default extension, the
// must-exist checks, and handing the chosen path back through lpstrFile.
//
// Threads: main thread. Ownership: nothing is kept.
#pragma once

#ifndef _WIN32

#include <string>
#include <utility>
#include <vector>

#include "platform/win_api.h"

namespace platform {

struct FileFilter {
    std::string description;
    std::vector<std::string> patterns;  // "*.krf" etc., from the ';'-separated list
};

std::vector<FileFilter> openFileFilters(const OPENFILENAMEA& ofn);

// A file name without an extension gets "." + lpstrDefExt (when one is given).
std::string withDefaultExtension(const std::string& path, const char* defaultExtension);

// Whether a pattern such as "*.krf" matches a file name, ignoring letter case.
bool matchesPattern(const std::string& fileName, const std::string& pattern);

enum class ChosenPath { Ok, FileMissing, FolderMissing };
ChosenPath checkChosenPath(const OPENFILENAMEA& ofn, const std::string& path);

}  // namespace platform

#endif
