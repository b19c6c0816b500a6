// settings.cpp - reading, setting aside and writing the settings file (see settings.h).
#include "store/settings.h"

#include "store/user_file.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

struct SettingField {
    const char* key;
    int32_t Settings::*member;
    int32_t lowest;
    int32_t highest;
    const char* note;  // what the written file says of it, before its range
};

// One row a setting; each default is Settings{}'s.
constexpr SettingField fields[] = {
    {"sound_delay_ms", &Settings::soundDelayMs, -50, 300, "how late the sound is heard, in milliseconds"},
    {"count_in_bars", &Settings::countInBars, 0, 2, "bars of clicks before the first stroke after Play"},
    {"speed_step_bpm", &Settings::speedStepBpm, -10, 10,
     "the speed trainer's step in BPM, 0 for none, below 0 to slow down"},
    {"speed_every_passes", &Settings::speedEveryPasses, 1, 8, "passes between the speed trainer's steps"},
    {"speed_range_bpm", &Settings::speedRangeBpm, 5, 100, "how far from its start the speed trainer goes, in BPM"},
    {"silent_play_passes", &Settings::silentPlayPasses, 0, 8, "passes that sound before the silent ones, 0 for none"},
    {"silent_rest_passes", &Settings::silentRestPasses, 0, 8, "silent passes after those, 0 for none"},
    {"listen", &Settings::listen, 0, 1, "1: the tutor listens to your drum and scores it"},
    {"call_and_answer", &Settings::callAndAnswer, 0, 1, "1: the tutor plays a pass and you answer the next"},
    {"headphones", &Settings::headphones, 0, 1, "1: the tutor's sound goes to headphones, so every pass is scored"},
    {"listen_tolerance", &Settings::listenTolerance, 0, 2, "what counts as on time: 0 strict, 1 normal, 2 relaxed"},
    {"input_offset_ms", &Settings::inputOffsetMs, -200, 500,
     "how much later than reported your drum reaches the tutor, in milliseconds, as measured"},
};
static_assert(sizeof(Settings) == std::size(fields) * sizeof(int32_t),
              "every member of Settings needs its row in fields");

constexpr char headerLine[] = "# Tabladex settings";

// One line of the file: its text without its line end and, for a setting, its key and value.
struct Line {
    std::string text;
    std::string key;  // empty for a note or a blank line
    std::string value;
};

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool isKeyCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-';
}

// The file's lines; false when the file is damaged as a whole (control bytes, or a line that
// is neither a note nor "key = value").
bool parseLines(std::string_view bytes, std::vector<Line>& lines) {
    lines.clear();
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    for (const unsigned char c : bytes) {
        if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F) return false;
    }
    while (!bytes.empty()) {
        const size_t end = bytes.find('\n');
        std::string_view text = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        Line line{std::string(text), {}, {}};
        const std::string_view body = trim(text);
        if (!body.empty() && body.front() != '#') {
            const size_t equals = body.find('=');
            if (equals == std::string_view::npos) return false;
            const std::string_view key = trim(body.substr(0, equals));
            if (key.empty() || !std::all_of(key.begin(), key.end(), isKeyCharacter)) return false;
            line.key = key;
            line.value = trim(body.substr(equals + 1));
        }
        lines.push_back(std::move(line));
    }
    return true;
}

bool wholeNumber(std::string_view text, int32_t& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    return problem == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Takes each known key's value (the last line with it) into settings; the "key = value" of
// the first value that cannot be used, whose setting keeps its default, or empty.
std::string applyLines(const std::vector<Line>& lines, Settings& settings) {
    std::string unusable;
    for (const SettingField& field : fields) {
        const auto found = std::find_if(lines.rbegin(), lines.rend(),
                                        [&](const Line& line) { return line.key == field.key; });
        if (found == lines.rend()) continue;
        int32_t value = 0;
        if (wholeNumber(found->value, value) && value >= field.lowest && value <= field.highest) {
            settings.*field.member = value;
        } else if (unusable.empty()) {
            // The value itself only where a box can show it: short, plain text.
            const bool plain = found->value.size() <= 20 &&
                               std::all_of(found->value.begin(), found->value.end(),
                                           [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
            unusable = plain ? found->key + " = " + found->value : found->key;
        }
    }
    return unusable;
}

// The new file's text: the lines of the file replaced (when it reads without damage) with
// each setting's line given its value, earlier lines of the same key dropped, and settings
// it lacks added with their notes; a new file's header first.
std::string textFor(const std::string& path, const Settings& settings) {
    std::vector<Line> lines;
    std::string bytes, reason;
    if (loadFile(path, maxSettingsBytes, bytes, reason) != Loaded::Read || bytes.size() > size_t(maxSettingsBytes) ||
        !parseLines(bytes, lines)) {
        lines.clear();
    }
    if (lines.empty()) lines.push_back({headerLine, {}, {}});
    for (const SettingField& field : fields) {
        const std::string text = std::string(field.key) + " = " + std::to_string(settings.*field.member);
        const auto last = std::find_if(lines.rbegin(), lines.rend(),
                                       [&](const Line& line) { return line.key == field.key; });
        if (last == lines.rend()) {
            lines.push_back({"# " + std::string(field.key) + ": " + field.note + " (" +
                                 std::to_string(field.lowest) + " to " + std::to_string(field.highest) + ")",
                             {}, {}});
            lines.push_back({text, field.key, {}});
            continue;
        }
        last->text = text;
        const size_t kept = size_t(lines.rend() - last) - 1;
        std::vector<Line> rest;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (i == kept || lines[i].key != field.key) rest.push_back(std::move(lines[i]));
        }
        lines = std::move(rest);
    }
    std::string text;
    for (const Line& line : lines) text += line.text + "\n";
    return text;
}

}  // namespace

std::string settingsPath() { return userFilePath("XDG_CONFIG_HOME", ".config", "settings.conf"); }

SettingsRead readSettings(const std::string& path) {
    SettingsRead result;
    if (path.empty()) return result;
    std::string bytes, reason;
    const Loaded loaded = loadFile(path, maxSettingsBytes, bytes, reason);
    if (loaded == Loaded::Missing) return result;
    if (loaded == Loaded::Unreadable) {
        result.message = "Your settings file " + path + " could not be read (" + reason +
                         "), so the usual settings are used.";
        return result;
    }
    std::vector<Line> lines;
    const bool whole = bytes.size() > size_t(maxSettingsBytes) || !parseLines(bytes, lines);
    const std::string unusable = whole ? std::string() : applyLines(lines, result.settings);
    if (!whole && unusable.empty()) return result;

    std::string aside;
    if (!setAside(path, aside, reason)) {
        result.message = "Your settings file " + path + " is damaged and could not be set aside (" + reason +
                         "), so the usual settings are used where it is damaged.";
        return result;
    }
    result.setAsidePath = aside;
    result.message = whole ? "Your settings file was damaged. It was set aside as " + aside +
                                 " and the usual settings are used."
                           : "Your settings file had a value Tabladex cannot use (" + unusable +
                                 "). It was set aside as " + aside + "; the usual value is used for that " +
                                 "setting and your other settings are kept.";
    return result;
}

bool writeSettings(const std::string& given, const Settings& settings, std::string& error) {
    if (given.empty()) {
        error = "Could not save the settings: no folder for them is known.";
        return false;
    }
    // A settings file linked from elsewhere (a folder of the user's own files) stays a link:
    // the file it leads to is the one replaced.
    const std::string path = followed(given);
    if (!makeFolderFor(path, "the settings", error)) return false;
    std::string reason;
    if (!replaceWhole(path, textFor(path, settings), reason)) {
        error = "Could not save the settings to " + path + ": " + reason + ".";
        return false;
    }
    return true;
}
