// The rhythm file reader: four lines into what they say, or the reason they are refused.
#include "rhythm/rhythm_file.h"

#include <string>

#include "rhythm/line_reader.h"

namespace {

// A line is text up to its first NUL byte, as the C strings it goes into see it.
std::string uptoNul(const std::string& line) { return line.substr(0, line.find('\0')); }

const char* const lineNames[4] = {"title", "tempo", "subdivision", "notation"};

}  // namespace

bool leadingInteger(std::string_view line, int32_t& value) {
    size_t at = 0;
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\v' ||
                                line[at] == '\f' || line[at] == '\r' || line[at] == '\n'))
        ++at;
    bool negative = false;
    if (at < line.size() && (line[at] == '+' || line[at] == '-')) negative = line[at++] == '-';
    int64_t magnitude = 0;
    size_t digits = 0;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at, ++digits) {
        magnitude = magnitude * 10 + (line[at] - '0');
        if (magnitude > int64_t(INT32_MAX) + 1) return false;
    }
    if (digits == 0) return false;
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT32_MAX || signedValue < INT32_MIN) return false;
    value = static_cast<int32_t>(signedValue);
    return true;
}

bool startsWithNumber(std::string_view line) {
    const size_t at = line.find_first_not_of(" \t\v\f\r\n");
    if (at == std::string_view::npos) return false;
    const size_t digit = line[at] == '+' || line[at] == '-' ? at + 1 : at;
    return digit < line.size() && line[digit] >= '0' && line[digit] <= '9';
}

double stepTimeFor(int32_t tempo, int32_t subdivision) {
    const float secondsPerMinute = 60.0f;
    const long double quotient = static_cast<long double>(secondsPerMinute) / tempo / subdivision;
    return static_cast<double>(quotient);
}

bool readRhythmText(std::FILE* file, const char* name, RhythmText& text, ReadProblem& problem) {
    const std::string where = name ? name : "the rhythm file";
    LineReader reader(file);
    std::string lines[4];
    int32_t fileLines[4] = {};
    std::string onLine[4];  // "on line 2", or where in a cut line the part begins
    std::vector<int32_t> longLines;
    for (int i = 0; i < 4; ++i) {
        if (!reader.readLine(lines[i])) {
            text.longLines = longLines;
            const int32_t line = reader.fileLine() + 1;
            problem = {line, "Line " + std::to_string(line) + " (the " + lineNames[i] + ") of " +
                                 where + " is missing: a rhythm file has four lines: title, "
                                 "tempo, subdivision and notation."};
            return false;
        }
        fileLines[i] = reader.fileLine();
        onLine[i] = "on line " + std::to_string(fileLines[i]);
        if (reader.firstColumn() > 1)
            onLine[i] += " (from its character " + std::to_string(reader.firstColumn()) + ")";
        if (reader.lastWasCut() && (longLines.empty() || longLines.back() != fileLines[i]))
            longLines.push_back(fileLines[i]);
    }
    text.longLines = longLines;
    // Only the four lines are used, but a file far larger than any rhythm file is not one.
    if (!reader.endsWithin(maxRhythmFileBytes)) {
        problem = {0, "The file " + where + " is larger than " +
                          std::to_string(maxRhythmFileBytes / 1024) +
                          " KB: too large for a rhythm file, which is four short lines."};
        return false;
    }
    int32_t tempo = 0;
    if (!leadingInteger(lines[1], tempo) || tempo < 1) {
        problem = {fileLines[1],
                   "The tempo " + onLine[1] + " of " + where + " must be a positive whole number."};
        return false;
    }
    int32_t subdivision = 0;
    if (!leadingInteger(lines[2], subdivision) || subdivision < 1) {
        problem = {fileLines[2], "The subdivision " + onLine[2] + " of " + where +
                                     " must be a positive whole number."};
        return false;
    }
    // A step shorter than a millisecond cannot be told from the next, and the playback thread
    // would sound steps back to back without ever sleeping.
    if (const int64_t perMinute = int64_t{tempo} * subdivision; perMinute > maxStepsPerMinute) {
        problem = {fileLines[1], "The tempo " + onLine[1] + " of " + where + " is too fast: " +
                                     std::to_string(perMinute) +
                                     " steps a minute (tempo times subdivision); the tutor plays "
                                     "at most " + std::to_string(maxStepsPerMinute) +
                                     ", a step of 1 ms."};
        return false;
    }
    std::string notation = uptoNul(lines[3]);
    if (notation.empty()) {
        problem = {fileLines[3], "The notation " + onLine[3] + " of " + where + " is empty."};
        return false;
    }
    text.title = uptoNul(lines[0]);
    text.tempo = tempo;
    text.subdivision = subdivision;
    text.notation = std::move(notation);
    for (int i = 0; i < 4; ++i) text.lines[i] = fileLines[i];
    return true;
}
