// user_file.cpp - the safe handling the learner's files share (see user_file.h).
#include "store/user_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#ifdef _WIN32
std::string systemReason(DWORD code) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        code, 0, text, sizeof text, nullptr);
    std::string reason(text, length);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason.empty() ? "error " + std::to_string(code) : reason;
}
std::string systemReason() { return systemReason(GetLastError()); }
#else
std::string systemReason() { return std::strerror(errno); }
#endif

Loaded loadFile(const std::string& path, int64_t most, std::string& bytes, std::string& reason) {
    bytes.assign(size_t(most) + 1, '\0');
    size_t got = 0;
#ifdef _WIN32
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, shareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return Loaded::Missing;
        reason = systemReason(code);
        return Loaded::Unreadable;
    }
    bool failed = false;
    for (DWORD read = 1; got < bytes.size() && read > 0; got += read) {
        if (!ReadFile(file, bytes.data() + got, DWORD(bytes.size() - got), &read, nullptr)) {
            reason = systemReason();
            failed = true;
            break;
        }
    }
    CloseHandle(file);
#else
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return Loaded::Missing;
        reason = systemReason();
        return Loaded::Unreadable;
    }
    bool failed = false;
    while (got < bytes.size()) {
        const ssize_t read = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (read < 0 && errno == EINTR) continue;
        if (read < 0) {
            reason = systemReason();
            failed = true;
        }
        if (read <= 0) break;
        got += size_t(read);
    }
    close(fd);
#endif
    bytes.resize(got);
    return failed ? Loaded::Unreadable : Loaded::Read;
}

void syncFolder([[maybe_unused]] const std::string& path) {
#ifndef _WIN32
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
#endif
}

bool writeTemporary(const std::string& path, const std::string& text, std::string& temporary, std::string& reason) {
#ifdef _WIN32
    // Only the holder of the lock writes one, so the process's id makes the name free.
    temporary = path + ".new-" + std::to_string(GetCurrentProcessId());
    const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = systemReason();
        return false;
    }
    DWORD written = 0;
    bool done = WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr) && written == text.size() &&
                FlushFileBuffers(file);
    if (!done) reason = systemReason();
    if (!CloseHandle(file) && done) {
        reason = systemReason();
        done = false;
    }
    if (!done) DeleteFileA(temporary.c_str());
    return done;
#else
    temporary = path + ".new-XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        reason = systemReason();
        return false;
    }
    bool done = true;
    for (size_t at = 0; done && at < text.size();) {
        const ssize_t wrote = write(fd, text.data() + at, text.size() - at);
        if (wrote < 0 && errno == EINTR) continue;
        done = wrote > 0;
        if (done) at += size_t(wrote);
    }
    done = done && fsync(fd) == 0;
    if (!done) reason = systemReason();
    if (close(fd) != 0 && done) {
        reason = systemReason();
        done = false;
    }
    if (!done) unlink(temporary.c_str());
    return done;
#endif
}

void removeFile(const std::string& path) {
#ifdef _WIN32
    DeleteFileA(path.c_str());
#else
    unlink(path.c_str());
#endif
}

bool renameOver(const std::string& temporary, const std::string& path, std::string& reason) {
#ifdef _WIN32
    if (MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
#else
    if (std::rename(temporary.c_str(), path.c_str()) == 0) {
        syncFolder(path);
        return true;
    }
#endif
    reason = systemReason();
    removeFile(temporary);
    return false;
}

bool replaceWhole(const std::string& path, const std::string& text, std::string& reason) {
    std::string temporary;
    return writeTemporary(path, text, temporary, reason) && renameOver(temporary, path, reason);
}


Moved renameNoReplace(const std::string& from, const std::string& to, std::string& reason) {
#ifdef _WIN32
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return Moved::Done;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return Moved::Taken;
    reason = systemReason(code);
    return Moved::Failed;
#else
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return Moved::Done;
    if (errno == EEXIST) return Moved::Taken;
    if (errno == EINVAL || errno == ENOSYS) {
        // A file system that cannot refuse a replacement itself: look first (the callers
        // set files aside on one thread, or under a lock).
        if (access(to.c_str(), F_OK) == 0) return Moved::Taken;
        if (std::rename(from.c_str(), to.c_str()) == 0) return Moved::Done;
    }
    reason = systemReason();
    return Moved::Failed;
#endif
}

bool makeFolderFor(const std::string& path, const std::string& what, std::string& error) {
    const size_t separator = path.find_last_of("/\\");
    if (separator == std::string::npos || separator == 0) return true;
    const std::string folder = path.substr(0, separator);
    std::error_code problem;
    std::filesystem::create_directories(std::filesystem::path(folder), problem);
    if (!problem) return true;
    error = "Could not make the folder " + folder + " for " + what + ": " + problem.message() + ".";
    return false;
}

std::string localTimeText(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[64] = {};
    std::strftime(text, sizeof text, format, &local);
    return text;
}

std::string userFilePath([[maybe_unused]] const char* xdgVariable, [[maybe_unused]] const char* homeFolder,
                         const char* name) {
#ifdef _WIN32
    const char* appData = std::getenv("APPDATA");
    if (appData && *appData) return std::string(appData) + "\\Tabladex\\" + name;
#else
    // The base directory specification asks for relative values to be ignored.
    const char* base = std::getenv(xdgVariable);
    if (base && base[0] == '/') return std::string(base) + "/tabladex/" + name;
    const char* home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/" + homeFolder + "/tabladex/" + name;
#endif
    return {};
}

bool setAside(const std::string& path, std::string& aside, std::string& reason) {
    const std::string base = path + ".damaged-" + localTimeText("%Y%m%d-%H%M%S");
    for (int n = 1; n <= 1000; ++n) {
        aside = n == 1 ? base : base + "-" + std::to_string(n);
        const Moved moved = renameNoReplace(path, aside, reason);
        if (moved == Moved::Done) return true;
        if (moved == Moved::Failed) break;
        reason = "every name for it is taken";
    }
    aside.clear();
    return false;
}

std::string followed(const std::string& path) {
    std::error_code problem;
    if (!std::filesystem::is_symlink(path, problem)) return path;
    const std::filesystem::path target = std::filesystem::canonical(path, problem);
    return problem ? path : target.string();
}

