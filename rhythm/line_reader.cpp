// Line reading with line feed and carriage return + line feed endings alike.
#include "rhythm/line_reader.h"

int LineReader::next() {
    const int byte = pendingCount > 0 ? pending[--pendingCount] : std::getc(file);
    if (byte != EOF) ++byteCount;
    return byte;
}

void LineReader::putBack(int byte) {
    if (byte != EOF) --byteCount;
    pending[pendingCount++] = byte;
}

bool LineReader::takeLineEnd() {
    const int byte = next();
    if (byte == '\n' || byte == EOF) return true;
    if (byte == '\r') {
        const int following = next();
        if (following == '\n' || following == EOF) return true;
        putBack(following);
    }
    putBack(byte);
    return false;
}

bool LineReader::readLine(std::string& line) {
    line.clear();
    if (!started) {
        started = true;
        // Editors on some systems put a byte-order mark before the first line.
        const int first = next();
        if (first == 0xEF) {
            const int second = next();
            if (second == 0xBB) {
                const int third = next();
                if (third != 0xBF) {
                    putBack(third);
                    putBack(second);
                    putBack(first);
                }
            } else {
                putBack(second);
                putBack(first);
            }
        } else {
            putBack(first);
        }
        // An end of file read ahead stays pending as EOF, which next() hands back as such.
    }

    bool sawAnything = false;
    bool ended = false;
    while (static_cast<int>(line.size()) < maxLineCharacters) {
        const int byte = next();
        if (byte == EOF) {
            ended = true;
            break;
        }
        sawAnything = true;
        if (byte == '\n') {
            ended = true;
            break;
        }
        if (byte == '\r') {
            const int following = next();
            if (following == '\n' || following == EOF) {
                ended = true;
                break;
            }
            putBack(following);
        }
        line.push_back(static_cast<char>(byte));
    }
    if (!sawAnything) return false;
    // A line that fills the read exactly ends there; only a longer one is cut.
    if (!ended) ended = takeLineEnd();

    if (cut) {
        partColumn += maxLineCharacters;
    } else {
        ++partLine;
        partColumn = 1;
    }
    cut = !ended;
    ++lineCount;
    return true;
}

bool LineReader::endsWithin(int64_t limit) {
    while (byteCount <= limit)
        if (next() == EOF) return true;
    return false;
}
