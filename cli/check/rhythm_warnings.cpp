// Warnings about a rhythm file the tutor reads without complaint.
#include "cli/check/rhythm_warnings.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>

#include "gfx/letter_cell.h"
#include "gfx/title_row.h"
#include "rhythm/notation_parser.h"
#include "tutor/controls.h"

namespace {

// One character as it reads in a message: a valid UTF-8 sequence whole, any other byte alone.
size_t characterLength(std::string_view text, size_t at) {
    const std::string shown = printable(text.substr(at, 4));
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x80 || shown.rfind("\\x", 0) == 0) return 1;
    return c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
}

// Text quoted in a message: the quote and the backslash escaped, the rest as printable()
// shows it when the line is written.
std::string escaped(std::string_view text) {
    std::string out;
    for (const char byte : text) {
        if (byte == '\\' || byte == '\'' || byte == '"') out += '\\';
        out += byte;
    }
    return out;
}

// Appended piece by piece: GCC 12 warns (-Wrestrict) about "'" + a temporary string.
std::string quoted(std::string_view character) {
    std::string text = "'";
    return text.append(escaped(character)).append("'");
}

bool drawnInTitle(char byte) {
    int32_t column = 0;
    int32_t row = 0;
    return letterCell(static_cast<unsigned char>(byte), column, row);
}

// The distinct characters of text for which keep is false, in the order they first appear,
// with the byte offset of the first of each.
template <typename Keep>
std::vector<std::pair<std::string, size_t>> distinctOutside(const std::string& text, Keep keep) {
    std::vector<std::pair<std::string, size_t>> found;
    for (size_t at = 0; at < text.size();) {
        const size_t length = characterLength(text, at);
        const std::string character = text.substr(at, length);
        const bool seen = std::any_of(found.begin(), found.end(),
                                      [&](const auto& f) { return f.first == character; });
        if (!(length == 1 && keep(text[at])) && !seen) found.emplace_back(character, at);
        at += length;
    }
    return found;
}

void titleWarnings(const std::string& path, const std::string& title, int32_t line,
                   std::vector<Problem>& out) {
    const auto undrawn = distinctOutside(title, drawnInTitle);
    const size_t count = undrawn.size();
    if (count > 0) {
        std::string list;
        for (size_t i = 0; i < undrawn.size(); ++i)
            list += (i ? ", " : "") + quoted(undrawn[i].first);
        out.push_back(
            {path, line, Severity::Warning,
             std::string(count == 1 ? "The title's character " : "The title's characters ") + list +
                 (count == 1 ? " is" : " are") +
                 " not drawn: a title shows letters and spaces only.",
             static_cast<int32_t>(undrawn[0].second + 1)});
    }
    // Letters and spaces take a cell each, in order; the panel shows the first
    // titleLettersShown of them, and the one after covers its frame.
    const auto letters = std::count_if(title.begin(), title.end(), drawnInTitle);
    if (letters <= titleLettersShown) return;
    size_t at = 0;
    for (int32_t drawn = 0; drawn < titleLettersShown; ++at)
        if (drawnInTitle(title[at])) ++drawn;
    while (!drawnInTitle(title[at])) ++at;
    out.push_back({path, line, Severity::Warning,
                   "The title has " + std::to_string(letters) +
                       " letters and spaces; the screen shows the first " +
                       std::to_string(titleLettersShown) + ": \"" + escaped(title.substr(at)) +
                       "\" is cut.",
                   static_cast<int32_t>(at + 1)});
}

void notationWarnings(const std::string& path, const RhythmText& text, int32_t firstColumn,
                      std::vector<Problem>& out) {
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
    for (const auto& [character, first] : distinctOutside(notation, inAlphabet)) {
        // A character of several bytes takes a step for each.
        int64_t times = 0;
        for (size_t at = first; at != std::string::npos; at = notation.find(character, at + 1))
            ++times;
        std::string says = "Step " + std::to_string(first + 1);
        if (times == 1)
            says += " is ";
        else
            says += " and " + std::to_string(times - 1) +
                    (times == 2 ? " more step are " : " more steps are ");
        says += quoted(character);
        if (character.size() > 1)
            says += " (" + std::to_string(character.size()) + (times == 1 ? " steps)" : " steps each)");
        says += ", outside the notation alphabet (d t k D T K P S -): ";
        says += times == 1 ? "it plays as a rest." : "they play as rests.";
        out.push_back({path, line, Severity::Warning, says,
                       firstColumn + static_cast<int32_t>(first)});
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

// A number the tutor reads by its leading digits: anything after them but white space is
// dropped without a word.
void wholeNumberWarning(const std::string& path, const char* what, const NumberLine& number,
                        int32_t value, std::vector<Problem>& out) {
    if (!trailsNumber(number.text)) return;
    out.push_back({path, number.line, Severity::Warning,
                   std::string("The ") + what + " '" + escaped(number.text) +
                       "' is not a whole number: the tutor reads it as " + std::to_string(value) +
                       "."});
}

}  // namespace

// Whether the leading whole number of text runs on into something else ("1.5", "4x"); a
// word after a space ("90 bpm") is a note beside the number.
bool trailsNumber(const std::string& text) {
    size_t at = text.find_first_not_of(" \t\v\f\r");
    if (at == std::string::npos) return false;
    if (text[at] == '+' || text[at] == '-') ++at;
    at = text.find_first_not_of("0123456789", at);
    return at != std::string::npos &&
           std::string_view(" \t\v\f\r").find(text[at]) == std::string_view::npos;
}

std::vector<Problem> rhythmWarnings(const std::string& path, const RhythmText& text,
                                    int32_t notationColumn, const NumberLine& tempo,
                                    const NumberLine& subdivision) {
    std::vector<Problem> warnings;
    titleWarnings(path, text.title, text.lines[0], warnings);
    wholeNumberWarning(path, "tempo", tempo, text.tempo, warnings);
    tempoWarning(path, text.tempo, text.lines[1], warnings);
    wholeNumberWarning(path, "subdivision", subdivision, text.subdivision, warnings);
    notationWarnings(path, text, notationColumn, warnings);
    return warnings;
}
