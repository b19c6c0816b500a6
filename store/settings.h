// settings.h - the learner's settings, remembered between runs in one small text file.
//
// Where: settingsPath() - $XDG_CONFIG_HOME/tabladex/settings.conf (an absolute
// $XDG_CONFIG_HOME only), else $HOME/.config/tabladex/settings.conf on Linux;
// %APPDATA%\Tabladex\settings.conf on Windows.
//
// The file is plain UTF-8 text a learner can read and edit:
//
//     # Tabladex settings
//     # sound_delay_ms: how late the sound is heard, in milliseconds (-50 to 300)
//     sound_delay_ms = 0
//
// - one setting a line, "key = value" (spaces around '=' optional); a key is letters,
//   digits, '_', '.' and '-'; values are whole numbers;
// - blank lines, and lines whose first non-blank character is '#', are notes; '#' after a
//   value is not (the value is then unusable);
// - a key given twice: the later line counts;
// - keys this version does not know are kept: writeSettings carries them, with every note
//   and blank line, from the file it replaces into the new one unchanged, so the settings
//   of a newer version survive a run of an older one;
// - CR LF line ends and a UTF-8 byte-order mark (as some editors save) are accepted.
//
// The settings and their ranges:
//     sound_delay_ms       soundDelayMs       -50 to 300, default 0
//     count_in_bars        countInBars          0 to 2, default 0
//     speed_step_bpm       speedStepBpm       -10 to 10, default 0 (no speed trainer)
//     speed_every_passes   speedEveryPasses     1 to 8, default 1
//     speed_range_bpm      speedRangeBpm        5 to 100, default 20
//     silent_play_passes   silentPlayPasses     0 to 8, default 0 (no silent passes)
//     silent_rest_passes   silentRestPasses     0 to 8, default 0
//     listen               listen               0 or 1, default 0 (the tutor does not listen)
//     call_and_answer      callAndAnswer        0 or 1, default 0
//     headphones           headphones           0 or 1, default 0 (loudspeakers)
//     listen_tolerance     listenTolerance      0 to 2 (strict, normal, relaxed), default 1
//     input_offset_ms      inputOffsetMs     -200 to 500, default 0 (as measured by the latency
//                                                     check: input later than reported)
// Adding one: a member below and its row in settings.cpp's table (key, range, note); a
// static_assert there keeps the two in step.
//
// Damage. A missing file is not damage: the usual settings, no message. A file that is
// larger than maxSettingsBytes, holds control bytes (a binary file) or has a line that is
// neither a note nor "key = value" is damaged as a whole: every setting takes its default.
// A known key whose value is not a whole number in its range is damage of that one value:
// that setting takes its default and the others keep theirs. It is not clamped: a value
// the learner did not choose (300 for a typed 3000) would look like a setting that works,
// while the default and a message say plainly that it was not used. Either way the file is
// set aside, renamed to "settings.conf.damaged-YYYYMMDD-HHMMSS" (local time; "-2", "-3"...
// added when that name is taken, so an earlier set-aside file is never replaced), so the
// next write starts afresh and nothing the learner typed is lost, and a one-sentence-ish
// message for a box says where it went.
//
// Writing is whole or not at all: the text goes to a temporary file in the same folder, is
// flushed to the disk, and is renamed over the old file; on any failure (a folder that
// cannot be made, a full disk) the temporary file is removed and the old file is left as it
// was. A settings file that is a symbolic link stays one: the file it leads to is replaced.
//
// Threads: the main thread only (the functions keep no state of their own, but read the
// environment and rename files). Ownership: plain values; the caller owns the results.
#pragma once

#include <cstdint>
#include <string>

// The largest settings file read; a larger one is damaged.
constexpr int64_t maxSettingsBytes = 64 * 1024;

struct Settings {
    int32_t soundDelayMs = 0;
    // The practice session (the Practice menu).
    int32_t countInBars = 0;
    int32_t speedStepBpm = 0;
    int32_t speedEveryPasses = 1;
    int32_t speedRangeBpm = 20;
    int32_t silentPlayPasses = 0;
    int32_t silentRestPasses = 0;
    // Listening to the learner (Practice > Listen).
    int32_t listen = 0;
    int32_t callAndAnswer = 0;
    int32_t headphones = 0;
    int32_t listenTolerance = 1;
    int32_t inputOffsetMs = 0;
};

struct SettingsRead {
    Settings settings;
    // Where a damaged file was set aside; empty when it was not.
    std::string setAsidePath;
    // For a box, when something went wrong; empty when the file was read or was missing.
    std::string message;
};

// The settings file's path for this user; empty when no folder for it is known.
std::string settingsPath();

// Reads the settings at path, setting a damaged file aside (see above). An empty path gives
// the defaults and no message.
SettingsRead readSettings(const std::string& path);

// Writes settings to path, keeping the unknown keys, notes and blank lines of the file it
// replaces (when that file reads without damage). False, with error saying which path and
// the system's reason, when it could not; the old file is then unchanged.
bool writeSettings(const std::string& path, const Settings& settings, std::string& error);
