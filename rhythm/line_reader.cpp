// Line reading with line feed and carriage return + line feed endings alike.
#include "rhythm/line_reader.h"

int LineReader::next() {
    if (pendingCount > 0) return pending[--pendingCount];
    return std::getc(file);
}

void LineReader::putBack(int byte) { pending[pendingCount++] = byte; }

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
    while (static_cast<int>(line.size()) < maxLineCharacters) {
        const int byte = next();
        if (byte == EOF) break;
        sawAnything = true;
        if (byte == '\n') break;
        if (byte == '\r') {
            const int following = next();
            if (following == '\n' || following == EOF) break;
            putBack(following);
        }
        line.push_back(static_cast<char>(byte));
    }
    if (!sawAnything) return false;
    ++lineCount;
    return true;
}
