// Warnings about a rhythm file the tutor reads without complaint.
#include "cli/check/rhythm_warnings.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "gfx/letter_cell.h"
#include "rhythm/notation_parser.h"
#include "tutor/controls.h"

namespace {

// A byte as it can be read in a terminal: printable ASCII as itself, the rest escaped.
std::string escaped(std::string_view text) {
    std::string out;
    for (const char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
        if (c == '\\' || c == '\'' || c == '"') {
            out += '\\';
            out += byte;
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c >= 0x20 && c < 0x7F) {
            out += byte;
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", c);
            out += code;
        }
    }
    return out;
}

std::string quoted(char byte) {
    std::string text = "'";
    text += escaped(std::string_view(&byte, 1));
    text += '\'';
    return text;
}

bool drawnInTitle(char byte) {
    int32_t column = 0;
    int32_t row = 0;
    return letterCell(static_cast<unsigned char>(byte), column, row);
}

// The distinct characters of text for which keep is false, in the order they first appear.
template <typename Keep>
std::string distinctOutside(const std::string& text, Keep keep) {
    bool seen[256] = {};
    std::string found;
    for (const char byte : text) {
        if (keep(byte) || seen[static_cast<unsigned char>(byte)]) continue;
        seen[static_cast<unsigned char>(byte)] = true;
        found += byte;
    }
    return found;
}

void titleWarnings(const std::string& path, const std::string& title, int32_t line,
                   std::vector<Problem>& out) {
    const std::string undrawn = distinctOutside(title, drawnInTitle);
    const size_t count = undrawn.size();
    if (count > 0) {
        std::string list;
        for (size_t i = 0; i < undrawn.size(); ++i)
            list += (i ? ", " : "") + quoted(undrawn[i]);
        out.push_back(
            {path, line, Severity::Warning,
             std::string(count == 1 ? "The title's character " : "The title's characters ") + list +
                 (count == 1 ? " is" : " are") +
                 " not drawn: a title shows letters and spaces only."});
    }
    // The title image has a cell for each character up to one line's worth; the letters and
    // spaces fill the cells in order and those left over are cut.
    const size_t cells = std::min<size_t>(title.size(), size_t(titleCellsPerLine) * titleMaxLines);
    size_t drawn = 0;
    for (size_t at = 0; at < title.size(); ++at) {
        if (!drawnInTitle(title[at])) continue;
        if (drawn++ == cells) {
            out.push_back({path, line, Severity::Warning,
                           "The title is cut after " + std::to_string(cells) +
                               " letters and spaces: \"" + escaped(title.substr(at)) +
                               "\" is not drawn."});
            break;
        }
    }
}

void notationWarnings(const std::string& path, const RhythmText& text, std::vector<Problem>& out) {
    const std::string& notation = text.notation;
    const int32_t line = text.lines[3];
    const auto steps = static_cast<int32_t>(notation.size());
    if (steps % text.subdivision != 0)
        out.push_back({path, line, Severity::Warning,
                       "The notation has " + std::to_string(steps) +
                           " steps, not a whole number of beats of " +
                           std::to_string(text.subdivision) + " steps: its last beat has " +
                           std::to_string(steps % text.subdivision) + "."});

    int64_t width = 0;
    int64_t height = 0;
    notationImageSize(steps, glyphCellSize, glyphCellSize, stepsPerRow, maxNotationRows, width,
                      height);
    const int64_t shown = (width / glyphCellSize) * (height / glyphCellSize);
    if (steps > shown)
        out.push_back({path, line, Severity::Warning,
                       "The notation has " + std::to_string(steps) + " steps; only the first " +
                           std::to_string(shown) + " are shown."});

    // A character the alphabet does not know has no sound (and shows the glyph of "d"); the
    // rest "-" is the alphabet's one character without a sound.
    const auto inAlphabet = [](char byte) {
        const NotationSymbol symbol = notationSymbol(byte);
        return byte == '-' || symbol.sound != StepSound::None;
    };
    for (const char outside : distinctOutside(notation, inAlphabet)) {
        const size_t first = notation.find(outside);
        const auto times = std::count(notation.begin(), notation.end(), outside);
        std::string says = "Step " + std::to_string(first + 1);
        if (times == 1)
            says += " is ";
        else
            says += " and " + std::to_string(times - 1) +
                    (times == 2 ? " more step are " : " more steps are ");
        says += quoted(outside) + ", outside the notation alphabet (d t k D T K P S -): ";
        says += times == 1 ? "it plays as a rest." : "they play as rests.";
        out.push_back({path, line, Severity::Warning, says});
    }
}

// The tempo slider reaches 30 to 300: a tempo beyond plays as written, but the knob rests at
// the end of its track and the first touch of the slider brings the tempo into range.
void tempoWarning(const std::string& path, int32_t tempo, int32_t line,
                  std::vector<Problem>& out) {
    if (tempo >= controls::minTempo && tempo <= controls::maxTempo) return;
    out.push_back({path, line, Severity::Warning,
                   "The tempo " + std::to_string(tempo) + " is outside the tempo slider's " +
                       std::to_string(controls::minTempo) + " to " +
                       std::to_string(controls::maxTempo) +
                       ": it plays as written until the slider is touched."});
}

}  // namespace

std::vector<Problem> rhythmWarnings(const std::string& path, const RhythmText& text) {
    std::vector<Problem> warnings;
    titleWarnings(path, text.title, text.lines[0], warnings);
    tempoWarning(path, text.tempo, text.lines[1], warnings);
    notationWarnings(path, text, warnings);
    return warnings;
}
