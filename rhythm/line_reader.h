// line_reader.h - reads the lines of a small text file the same way on every platform.
//
// A line ends at a line feed, at a carriage return followed by a line feed, or at the end of
// the file; the ending is not part of the line. One read takes at most maxLineCharacters
// characters, so a longer line is returned in parts: its first 255 characters, then the rest
// as the next line (and so on). A line of exactly 255 characters is one read. A UTF-8
// byte-order mark at the start of the file is skipped.
//
// Besides the text, the reader says where each part came from: the file line it belongs to,
// whether it starts that line, and whether the line goes on past it (the line is cut), so
// that messages can name the lines a person sees in an editor. It also counts the bytes
// taken from the stream, so that callers can stop at a size no file of theirs reaches.
//
// Threads: any, one reader per stream. Ownership: the reader does not own the stream; the
// caller opens it (in binary mode) and closes it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

constexpr int maxLineCharacters = 255;

class LineReader {
public:
    explicit LineReader(std::FILE* file) : file(file) {}

    // The next line into line (without its ending); false, with line empty, when the end of
    // the file or a read error comes before any character of a line.
    bool readLine(std::string& line);
    // Lines returned so far (the parts of a cut line count one each).
    int linesRead() const { return lineCount; }
    // The file line (from 1) of the part last returned; 0 before the first.
    int32_t fileLine() const { return partLine; }
    // The character (from 1) of its file line at which the part last returned starts: 1 for
    // a whole line, 256 for the rest of a cut one.
    int32_t firstColumn() const { return partColumn; }
    // Whether the file line of the part last returned goes on after it.
    bool lastWasCut() const { return cut; }
    // Bytes taken from the stream so far, including line endings and any byte-order mark.
    int64_t bytesRead() const { return byteCount; }
    // Reads on, discarding, until the end of the file; false as soon as more than limit
    // bytes in all have been taken from the stream (the file is larger than limit).
    bool endsWithin(int64_t limit);

private:
    int next();
    void putBack(int byte);
    // After a full read: takes the line ending that follows, if any; false when the line
    // goes on.
    bool takeLineEnd();

    std::FILE* file;
    bool started = false;
    int pending[3] = {};
    int pendingCount = 0;
    int lineCount = 0;
    int32_t partLine = 0;
    int32_t partColumn = 1;
    bool cut = false;
    int64_t byteCount = 0;
};
