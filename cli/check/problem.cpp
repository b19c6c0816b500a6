// The report line of a problem, in the form editors and build logs link to their source.
#include "cli/check/problem.h"

#include <cstdio>

namespace {

// The length of the valid UTF-8 sequence of two or more bytes at text[at], or 0.
size_t utf8Length(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and code points beyond U+10FFFF are not UTF-8.
    const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
    return length;
}

}  // namespace

std::string printable(std::string_view text) {
    std::string out;
    for (size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c >= 0x20 && c < 0x7F) {
            out += text[at++];
        } else if (c == '\t') {
            out += "\\t";
            ++at;
        } else if (const size_t length = c >= 0x80 ? utf8Length(text, at) : 0; length > 0) {
            out.append(text.substr(at, length));
            at += length;
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", c);
            out += code;
            ++at;
        }
    }
    return out;
}

std::string formatProblem(const Problem& problem) {
    std::string line = printable(problem.path);
    if (problem.line > 0) {
        // Appended piece by piece: GCC 12 warns (-Wrestrict) about ":" + std::to_string().
        line.append(":").append(std::to_string(problem.line));
        if (problem.column > 0) line.append(":").append(std::to_string(problem.column));
    }
    line += problem.severity == Severity::Error ? ": error: " : ": warning: ";
    line += printable(problem.text);
    return line;
}
