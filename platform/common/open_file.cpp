// GetOpenFileNameA on top of a backend's file chooser, with the record's rules applied the
// same way whichever backend asked the user.
#ifndef _WIN32

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/common/backend.h"
#include "platform/common/open_file_rules.h"

namespace platform {

std::vector<FileFilter> openFileFilters(const OPENFILENAMEA& ofn) {
    std::vector<FileFilter> filters;
    const char* at = ofn.lpstrFilter;
    if (!at) return filters;
    // Pairs of zero-terminated strings, closed by an empty string.
    while (*at) {
        FileFilter filter;
        filter.description = at;
        at += filter.description.size() + 1;
        if (!*at) break;
        std::string patterns = at;
        at += patterns.size() + 1;
        size_t start = 0;
        while (start <= patterns.size()) {
            size_t end = patterns.find(';', start);
            if (end == std::string::npos) end = patterns.size();
            if (end > start) filter.patterns.push_back(patterns.substr(start, end - start));
            start = end + 1;
        }
        filters.push_back(filter);
    }
    return filters;
}

std::string withDefaultExtension(const std::string& path, const char* defaultExtension) {
    if (!defaultExtension || !*defaultExtension || path.empty()) return path;
    size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name.find('.') != std::string::npos) return path;
    return path + "." + defaultExtension;
}

bool matchesPattern(const std::string& fileName, const std::string& pattern) {
    if (pattern == "*.*" || pattern == "*") return true;
    if (pattern.size() < 2 || pattern[0] != '*') return fileName == pattern;
    std::string suffix = pattern.substr(1);
    if (fileName.size() < suffix.size()) return false;
    return std::equal(suffix.begin(), suffix.end(), fileName.end() - suffix.size(),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

ChosenPath checkChosenPath(const OPENFILENAMEA& ofn, const std::string& path) {
    struct stat info;
    if (ofn.Flags & OFN_PATHMUSTEXIST) {
        size_t slash = path.find_last_of('/');
        std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
        if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            return ChosenPath::FolderMissing;
    }
    if (ofn.Flags & OFN_FILEMUSTEXIST) {
        if (stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
            return ChosenPath::FileMissing;
    }
    return ChosenPath::Ok;
}

}  // namespace platform

BOOL GetOpenFileNameA(LPOPENFILENAMEA ofn) {
    // Windows takes only the record's own size (a record sized for another build fails with
    // CDERR_STRUCTSIZE before any dialog shows), so a wrong size fails here too.
    if (!ofn || ofn->lStructSize != sizeof(OPENFILENAMEA) || !ofn->lpstrFile || ofn->nMaxFile == 0)
        return FALSE;
    std::string chosen;
    if (!platform::backend::chooseOpenFile(*ofn, chosen) || chosen.empty()) return FALSE;
    chosen = platform::withDefaultExtension(chosen, ofn->lpstrDefExt);
    if (platform::checkChosenPath(*ofn, chosen) != platform::ChosenPath::Ok) return FALSE;
    // The path and its terminator must fit the caller's buffer, or the call fails.
    if (chosen.size() + 1 > ofn->nMaxFile) return FALSE;
    std::memcpy(ofn->lpstrFile, chosen.c_str(), chosen.size() + 1);
    size_t slash = chosen.find_last_of('/');
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = chosen.find_last_of('.');
    ofn->nFileOffset = static_cast<WORD>(nameStart);
    ofn->nFileExtension =
        static_cast<WORD>(dot == std::string::npos || dot < nameStart ? chosen.size() : dot + 1);
    return TRUE;
}

#endif
