// line_reader.h - reads the lines of a small text file the same way on every platform.
//
// A line ends at a line feed, at a carriage return followed by a line feed, or at the end of
// the file; the ending is not part of the line. One read takes at most maxLineCharacters
// characters, so a longer line is returned in parts: its first 255 characters, then the rest
// as the next line. A UTF-8 byte-order mark at the start of the file is skipped.
//
// Threads: any, one reader per stream. Ownership: the reader does not own the stream; the
// caller opens it (in binary mode) and closes it.
#pragma once

#include <cstdio>
#include <string>

constexpr int maxLineCharacters = 255;

class LineReader {
public:
    explicit LineReader(std::FILE* file) : file(file) {}

    // The next line into line (without its ending); false, with line empty, when the end of
    // the file or a read error comes before any character of a line.
    bool readLine(std::string& line);
    // Lines returned so far.
    int linesRead() const { return lineCount; }

private:
    int next();
    void putBack(int byte);

    std::FILE* file;
    bool started = false;
    int pending[3] = {};
    int pendingCount = 0;
    int lineCount = 0;
};
