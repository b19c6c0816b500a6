// The rhythm file reader.
#include "rhythm/rhythm_file.h"

#include <string>

#include "gfx/text_image.h"
#include "rhythm/line_reader.h"
#include "tutor/tutor_app.h"

namespace {

void showFileError(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), "File Error", MB_ICONWARNING);
}

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

double stepTimeFor(int32_t tempo, int32_t subdivision) {
    const float secondsPerMinute = 60.0f;
    const long double quotient = static_cast<long double>(secondsPerMinute) / tempo / subdivision;
    return static_cast<double>(quotient);
}

bool readRhythmStream(TutorApp& app, RhythmEntry& entry, std::FILE* file, const char* name) {
    const std::string where = name ? name : "the rhythm file";
    LineReader reader(file);
    std::string lines[4];
    for (int i = 0; i < 4; ++i) {
        if (!reader.readLine(lines[i])) {
            showFileError("Line " + std::to_string(i + 1) + " (the " + lineNames[i] + ") of " +
                          where + " is missing: a rhythm file has four lines: title, tempo, "
                          "subdivision and notation.");
            return false;
        }
    }
    // Lines after the fourth are not read.

    int32_t tempo = 0;
    if (!leadingInteger(lines[1], tempo) || tempo < 1) {
        showFileError("The tempo on line 2 of " + where + " must be a positive whole number.");
        return false;
    }
    int32_t subdivision = 0;
    if (!leadingInteger(lines[2], subdivision) || subdivision < 1) {
        showFileError("The subdivision on line 3 of " + where +
                      " must be a positive whole number.");
        return false;
    }
    const std::string notation = uptoNul(lines[3]);
    if (notation.empty()) {
        showFileError("The notation on line 4 of " + where + " is empty.");
        return false;
    }

    entry.title = uptoNul(lines[0]);
    entry.titleImage = makeTextImage(entry.title, titleCellSize, titleCellSize, titleCellsPerLine,
                                     titleMaxLines, app.largeLetters)
                           .release();
    entry.tempo = tempo;
    entry.subdivision = subdivision;
    app.parseNotation(notation.c_str(), glyphCellSize, glyphCellSize, stepsPerRow, maxNotationRows,
                      app.rhythmNotes, &entry);
    entry.stepTime = stepTimeFor(tempo, subdivision);
    return true;
}

void closeRhythmFile(std::FILE* file) {
    if (std::fclose(file) != 0) showFileError("File was not closed");
}

bool TutorApp::readRhythmFile(RhythmEntry* entry, char* path) {
    if (!path || !entry) return false;
    // Paths may come with Windows separators (typed, or from a playlist).
    for (char* at = path; *at != '\0'; ++at)
        if (*at == '\\') *at = '/';

    // Binary, so that line ends are handled the same way everywhere (see LineReader).
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        showFileError("Error Reading File");
        return false;
    }
    const bool loaded = readRhythmStream(*this, *entry, file, path);
    closeRhythmFile(file);
    return loaded;
}
