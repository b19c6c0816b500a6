// file_checker.h - checks rhythm and playlist files the way the tutor reads them: the same
// readers, the same path resolution, the same messages for what it refuses, and warnings for
// what it accepts but a writer most likely did not mean.
//
// A file given is read as the kind asked for, else as its name or content says (see
// rhythm/file_kind.h). A playlist's rhythm files are found as the tutor finds them:
// backslashes become slashes and each line is joined to the playlist's folder. Every rhythm
// file is checked once per run, however many playlists name it; a playlist naming one that
// the tutor refuses gets an error on the naming line. An error means the tutor refuses the
// file; a warning, that it loads it (with a box, for a playlist of an odd number of lines)
// but something is off. Lines are the file's own lines, also after a line longer than 255
// characters, which the readers take in parts and which gets a warning of its own.
//
// The readers' messages lose the file and line they name, which the problem line gives. A
// blank or comment line that puts a playlist's pairs of lines out of step (a name read as a
// count, a count as a name) is reported once, as what it is, and nothing that follows from
// it: the playlist's later lines and the files they name are not reported. A count, tempo or
// subdivision that is not a whole number is named with what the tutor reads it as.
//
// Threads: one checker per thread. Ownership: plain values in and out.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/check/problem.h"
#include "rhythm/file_kind.h"

class FileChecker {
public:
    // The problems of the file at path and, for a playlist, of the rhythm files it names:
    // file by file in the order they are read (a playlist before the rhythm files it names),
    // each file's by line and column. Each file read for the first time in this run is
    // appended to checked (its path as the problems name it). A file checked before in this
    // run yields nothing again. kind, when given, says how to read the file whatever its
    // name and content.
    std::vector<Problem> check(const std::string& path, std::vector<std::string>& checked,
                               std::optional<FileKind> kind = std::nullopt);

private:
    struct Run {
        std::vector<Problem>& problems;
        std::vector<std::string>& checked;
    };
    // Whether the tutor would load the rhythm file at path.
    bool checkRhythm(const std::string& path, Run& run);
    void checkPlaylist(const std::string& path, Run& run);
    // True the first time a file is met; loads is where its verdict is kept.
    bool firstVisit(const std::string& path, FileKind kind, bool*& loads);

    // By the file's resolved path and the kind it was read as: would it load.
    std::map<std::pair<std::string, FileKind>, bool> verdicts;
};
