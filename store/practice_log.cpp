// practice_log.cpp - appending to, compacting, reading and summing up the practice log (see
// practice_log.h).
#include "store/practice_log.h"

#include "store/user_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

constexpr char headerText[] =
    "# Tabladex practice log\n"
    "# date, minutes, passes, slowest BPM, fastest BPM, file, title - separated by tabs\n";
constexpr double maxMinutes = 1440;  // a day
constexpr int64_t maxCentiminutes = 1440 * 100;
constexpr int32_t maxPasses = 1000000;
constexpr int32_t maxTempoBpm = 1000;

// ---- Fields ----------------------------------------------------------------------------

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t dayNumber(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool digits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int64_t number(std::string_view text) {  // digits only, at most 9
    int64_t value = 0;
    for (const char c : text) value = value * 10 + (c - '0');
    return value;
}

// A "YYYY-MM-DD" that names a day of the years 1900 to 9999.
bool parseDate(std::string_view text, int64_t& day) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    const std::string_view y = text.substr(0, 4), m = text.substr(5, 2), d = text.substr(8, 2);
    if (!digits(y) || !digits(m) || !digits(d)) return false;
    const int64_t year = number(y), month = number(m), dayOfMonth = number(d);
    if (year < 1900 || month < 1 || month > 12 || dayOfMonth < 1) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int lengths[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (dayOfMonth > lengths[month - 1]) return false;
    day = dayNumber(year, month, dayOfMonth);
    return true;
}

bool parseWhole(std::string_view text, int32_t highest, int32_t& value) {
    if (!digits(text) || text.size() > 9 || number(text) > highest) return false;
    value = int32_t(number(text));
    return true;
}

// "12", "12.5" or "12.25", at most a day.
bool parseMinutes(std::string_view text, double& minutes) {
    const size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view decimals = point == text.npos ? std::string_view() : text.substr(point + 1);
    if (!digits(whole) || whole.size() > 4) return false;
    if (point != text.npos && (!digits(decimals) || decimals.size() > 2)) return false;
    const int64_t hundredths = decimals.empty() ? 0 : number(decimals) * (decimals.size() == 1 ? 10 : 1);
    const int64_t cents = number(whole) * 100 + hundredths;
    if (cents > maxCentiminutes) return false;
    minutes = double(cents) / 100;
    return true;
}

std::string minutesText(double minutes) {
    const int64_t cents = std::llround(std::clamp(minutes, 0.0, maxMinutes) * 100);
    const int64_t hundredths = cents % 100;
    const std::string decimals = hundredths % 10 == 0 ? std::to_string(hundredths / 10)
                                                      : (hundredths < 10 ? "0" : "") + std::to_string(hundredths);
    return std::to_string(cents / 100) + "." + decimals;
}

bool controlByte(unsigned char c) { return c < 0x20 || c == 0x7F; }

// The text with its control bytes (tabs and line ends among them) as spaces, cut at most
// bytes at a character's start.
std::string cleanText(std::string_view text, size_t most) {
    if (text.size() > most) {
        while (most > 0 && (static_cast<unsigned char>(text[most]) & 0xC0) == 0x80) --most;
        text = text.substr(0, most);
    }
    std::string clean(text);
    for (char& c : clean) {
        if (controlByte(static_cast<unsigned char>(c))) c = ' ';
    }
    return clean;
}

// What keeps a record, as the log writes it, from being one; nullptr when nothing does.
const char* problemOf(const PracticeRecord& record) {
    int64_t day = 0;
    if (!parseDate(record.date, day)) return "its date is not a day written YYYY-MM-DD";
    if (!(record.minutes >= 0 && record.minutes <= maxMinutes)) return "its minutes are not 0 to 1440";
    if (record.passes < 0 || record.passes > maxPasses) return "its passes are not 0 to 1000000";
    const bool noTempo = record.slowestTempo == 0 && record.fastestTempo == 0;
    const bool tempoRange = record.slowestTempo >= 1 && record.slowestTempo <= record.fastestTempo &&
                            record.fastestTempo <= maxTempoBpm;
    if (!noTempo && !tempoRange) return "its tempos are not 0 and 0 or a range of 1 to 1000 BPM";
    if (record.file.empty() || record.file.size() > maxPracticeTextBytes) return "its file path is empty or too long";
    if (record.title.size() > maxPracticeTextBytes) return "its title is too long";
    const auto control = [](const std::string& text) {
        return std::any_of(text.begin(), text.end(), [](char c) { return controlByte(static_cast<unsigned char>(c)); });
    };
    if (control(record.file) || control(record.title)) return "its file path or title holds control characters";
    return nullptr;
}

std::string recordLine(const PracticeRecord& record) {
    return record.date + "\t" + minutesText(record.minutes) + "\t" + std::to_string(record.passes) + "\t" +
           std::to_string(record.slowestTempo) + "\t" + std::to_string(record.fastestTempo) + "\t" + record.file +
           "\t" + record.title + "\n";
}

bool parseRecord(std::string_view line, PracticeRecord& record) {
    std::string_view fields[7];
    for (size_t i = 0; i < 7; ++i) {
        const size_t tab = line.find('\t');
        if ((tab == line.npos) != (i == 6)) return false;  // exactly six tabs
        fields[i] = line.substr(0, tab);
        line.remove_prefix(tab == line.npos ? line.size() : tab + 1);
    }
    record.date = fields[0];
    record.file = fields[5];
    record.title = fields[6];
    return parseMinutes(fields[1], record.minutes) && parseWhole(fields[2], maxPasses, record.passes) &&
           parseWhole(fields[3], maxTempoBpm, record.slowestTempo) &&
           parseWhole(fields[4], maxTempoBpm, record.fastestTempo) && problemOf(record) == nullptr;
}

// ---- The log's text ----------------------------------------------------------------------

struct ParsedLog {
    std::vector<PracticeRecord> records;
    size_t badLine = 0;  // the first line that is neither a note nor a record, from 1
    bool tooLarge = false;
    bool damaged() const { return badLine != 0 || tooLarge; }
};

// The records of the log's whole lines; an unended last line is an append cut short.
ParsedLog parseLog(std::string_view bytes) {
    ParsedLog log;
    if (bytes.size() > size_t(maxPracticeLogBytes)) {
        log.tooLarge = true;
        bytes = bytes.substr(0, size_t(maxPracticeLogBytes));
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    for (size_t lineNumber = 1;; ++lineNumber) {
        const size_t end = bytes.find('\n');
        if (end == bytes.npos) break;
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const size_t first = line.find_first_not_of(' ');
        const bool control = std::any_of(line.begin(), line.end(), [](char c) {
            return c != '\t' && controlByte(static_cast<unsigned char>(c));
        });
        if (!control && (first == line.npos || line[first] == '#')) continue;  // a note
        PracticeRecord record;
        if (!control && parseRecord(line, record)) {
            log.records.push_back(std::move(record));
        } else if (log.badLine == 0) {
            log.badLine = lineNumber;
        }
    }
    return log;
}

// The header and the records, the newest (the last) that fit below the size limit.
std::string logText(const std::vector<PracticeRecord>& records) {
    std::vector<std::string> lines;
    size_t size = sizeof headerText - 1;
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        lines.push_back(recordLine(*record));
        size += lines.back().size();
        if (size > size_t(maxPracticeLogBytes)) {
            lines.pop_back();
            break;
        }
    }
    std::string text = headerText;
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) text += *line;
    return text;
}

// The records from today - practiceKeepDays on, one a date and file, in the order of their dates.
std::vector<PracticeRecord> compacted(const std::vector<PracticeRecord>& records, int64_t today) {
    std::vector<std::pair<int64_t, PracticeRecord>> kept;
    std::map<std::pair<int64_t, std::string>, size_t> where;
    for (const PracticeRecord& record : records) {
        int64_t day = 0;
        if (!parseDate(record.date, day) || day < today - practiceKeepDays) continue;
        const auto [found, fresh] = where.try_emplace({day, record.file}, kept.size());
        if (fresh) {
            kept.emplace_back(day, record);
            continue;
        }
        PracticeRecord& merged = kept[found->second].second;
        merged.minutes = std::min(merged.minutes + record.minutes, maxMinutes);
        merged.passes = int32_t(std::min<int64_t>(int64_t(merged.passes) + record.passes, maxPasses));
        if (record.passes > 0) {
            merged.slowestTempo = merged.slowestTempo > 0 ? std::min(merged.slowestTempo, record.slowestTempo)
                                                          : record.slowestTempo;
            merged.fastestTempo = std::max(merged.fastestTempo, record.fastestTempo);
        }
        merged.title = record.title;
    }
    std::stable_sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<PracticeRecord> result;
    for (auto& entry : kept) result.push_back(std::move(entry.second));
    return result;
}

// Whether a log of size bytes holding records is due for compaction as of today.
bool compactionDue(const std::vector<PracticeRecord>& records, size_t shorter, int64_t today, size_t size) {
    const bool old = std::any_of(records.begin(), records.end(), [&](const PracticeRecord& record) {
        int64_t day = 0;
        return parseDate(record.date, day) && day < today - practiceCompactAfterDays;
    });
    return old || (size > size_t(compactPracticeLogBytes) && shorter < records.size());
}

// ---- Files -------------------------------------------------------------------------------

constexpr char partWritten[] = "only part of it could be written (the disk may be full)";

// The exclusive lock on the lock file beside the log, held while it lives.
class LogLock {
public:
    LogLock() = default;
    LogLock(const LogLock&) = delete;
    LogLock& operator=(const LogLock&) = delete;
    ~LogLock() {
#ifdef _WIN32
        if (file_ == INVALID_HANDLE_VALUE) return;
        OVERLAPPED whole{};
        UnlockFileEx(file_, 0, 1, 0, &whole);
        CloseHandle(file_);
#else
        if (fd_ >= 0) close(fd_);  // which lets the lock go
#endif
    }

    bool take(const std::string& logPath, std::string& reason) {
        const std::string path = logPath + ".lock";
        const auto given = std::chrono::steady_clock::now() + std::chrono::milliseconds(practiceLockWaitMs);
#ifdef _WIN32
        file_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, shareAll, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file_ == INVALID_HANDLE_VALUE) {
            reason = systemReason();
            return false;
        }
        for (;;) {
            OVERLAPPED whole{};
            if (LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) return true;
            const DWORD code = GetLastError();
            if (code != ERROR_LOCK_VIOLATION) {
                reason = systemReason(code);
                return false;
            }
#else
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            reason = systemReason();
            return false;
        }
        for (;;) {
            if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
            if (errno != EWOULDBLOCK && errno != EINTR) {
                reason = systemReason();
                return false;
            }
#endif
            // Another instance holds it for a moment; one that holds it far longer is stuck.
            if (std::chrono::steady_clock::now() > given) {
                reason = "another Tabladex kept it locked";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

private:
#ifdef _WIN32
    HANDLE file_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
#endif
};

// The log opened for appending (made when missing).
class AppendFile {
public:
    AppendFile() = default;
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    ~AppendFile() { close(); }

    bool open(const std::string& path, std::string& reason) {
        path_ = path;
#ifdef _WIN32
        file_ = CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, shareAll, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file_ != INVALID_HANDLE_VALUE) return true;
#else
        fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) return true;
#endif
        reason = systemReason();
        return false;
    }

    void close() {
#ifdef _WIN32
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
#else
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
#endif
    }

    // Cuts the file to size bytes.
    bool cutTo(int64_t size, std::string& reason) {
#ifdef _WIN32
        // Appending alone may not set the end: a second handle for it.
        const HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, shareAll, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        LARGE_INTEGER at{};
        at.QuadPart = size;
        const bool done = file != INVALID_HANDLE_VALUE && SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
                          SetEndOfFile(file);
        if (!done) reason = systemReason();
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return done;
#else
        if (ftruncate(fd_, off_t(size)) == 0) return true;
        reason = systemReason();
        return false;
#endif
    }

    // Writes text at the end in one write and flushes it to the disk; on failure cuts the
    // file back to its size before, size.
    bool appendWhole(const std::string& text, int64_t size, std::string& reason) {
#ifdef _WIN32
        DWORD written = 0;
        bool done = WriteFile(file_, text.data(), DWORD(text.size()), &written, nullptr);
        if (!done) reason = systemReason();
        if (done && written != text.size()) {
            reason = partWritten;
            done = false;
        }
        if (done && !FlushFileBuffers(file_)) {
            reason = systemReason();
            done = false;
        }
#else
        ssize_t written = -1;
        do {
            written = write(fd_, text.data(), text.size());
        } while (written < 0 && errno == EINTR);
        bool done = written == ssize_t(text.size());
        if (!done) reason = written < 0 ? systemReason() : std::string(partWritten);
        if (done && fsync(fd_) != 0) {
            reason = systemReason();
            done = false;
        }
#endif
        if (!done) {
            std::string ignored;
            cutTo(size, ignored);
        }
        return done;
    }

private:
    std::string path_;
#ifdef _WIN32
    HANDLE file_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
#endif
};

std::string fileName(const std::string& path) {
#ifdef _WIN32
    const size_t separator = path.find_last_of("/\\");
#else
    const size_t separator = path.rfind('/');
#endif
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string recordsPhrase(size_t count) {
    if (count == 0) return "nothing in it could be read";
    if (count == 1) return "the one record that could be read was kept in a fresh log";
    return "the " + std::to_string(count) + " records that could be read were kept in a fresh log";
}

}  // namespace

std::string practiceLogPath() { return userFilePath("XDG_STATE_HOME", ".local/state", "practice.log"); }

std::string todayLocalDate() { return localTimeText("%Y-%m-%d"); }

bool appendPracticeRecord(const std::string& given, const PracticeRecord& record, std::string& error) {
    if (given.empty()) {
        error = "Could not add to the practice log: no folder for it is known.";
        return false;
    }
    PracticeRecord clean = record;
    clean.file = cleanText(record.file, record.file.size());  // a path is never cut: refused when too long
    clean.title = cleanText(record.title, maxPracticeTextBytes);
    if (std::isfinite(clean.minutes)) clean.minutes = std::min(clean.minutes, maxMinutes);
    if (clean.passes == 0) clean.slowestTempo = clean.fastestTempo = 0;
    if (const char* problem = problemOf(clean)) {
        error = "Could not add to the practice log: the record is not one it can hold (" + std::string(problem) + ").";
        return false;
    }
    const std::string path = followed(given);
    if (!makeFolderFor(path, "the practice log", error)) return false;
    const auto failed = [&](const std::string& reason) {
        error = "Could not add to the practice log " + path + ": " + reason + ".";
        return false;
    };
    std::string reason, bytes;
    LogLock lock;
    AppendFile log;
    if (!lock.take(path, reason) || !log.open(path, reason)) return failed(reason);
    if (loadFile(path, maxPracticeLogBytes, bytes, reason) != Loaded::Read) return failed(reason);
    if (bytes.size() > size_t(maxPracticeLogBytes)) return failed("it is larger than Tabladex reads");
    // An append cut short left a line without its end: cut it off, so this record starts
    // a line of its own (a reader never took it for a record).
    const size_t whole = bytes.rfind('\n') == bytes.npos ? 0 : bytes.rfind('\n') + 1;
    if (whole < bytes.size()) {
        if (!log.cutTo(int64_t(whole), reason)) return failed(reason);
        bytes.resize(whole);
    }
    const std::string line = recordLine(clean);
    ParsedLog parsed = parseLog(bytes);
    if (!parsed.damaged()) {  // a damaged log waits for the reader to set it aside, whole
        int64_t today = 0;
        parseDate(clean.date, today);
        parsed.records.push_back(clean);
        const std::vector<PracticeRecord> shorter = compacted(parsed.records, today);
        if (compactionDue(parsed.records, shorter.size(), today, bytes.size() + line.size())) {
            log.close();  // Windows renames over no open file
            if (replaceWhole(path, logText(shorter), reason)) return true;
            if (!log.open(path, reason)) return failed(reason);  // then a plain append
        }
    }
    const std::string text = bytes.empty() ? headerText + line : line;
    if (bytes.size() + text.size() > size_t(maxPracticeLogBytes)) return failed("it is full");
    if (!log.appendWhole(text, int64_t(bytes.size()), reason)) return failed(reason);
    if (bytes.empty()) syncFolder(path);
    return true;
}

bool compactPracticeLog(const std::string& given, const std::string& todayText, std::string& error) {
    int64_t today = 0;
    if (given.empty() || !parseDate(todayText, today)) {
        error = given.empty() ? "Could not compact the practice log: no folder for it is known."
                              : "Could not compact the practice log: \"" + todayText + "\" is not a date.";
        return false;
    }
    const std::string path = followed(given);
    std::string bytes, reason;
    // Nothing to compact: no lock file is made in a folder that may not be there.
    if (loadFile(path, maxPracticeLogBytes, bytes, reason) == Loaded::Missing) return true;
    const auto failed = [&](const std::string& why) {
        error = "Could not compact the practice log " + path + ": " + why + ".";
        return false;
    };
    LogLock lock;
    if (!lock.take(path, reason)) return failed(reason);
    const Loaded loaded = loadFile(path, maxPracticeLogBytes, bytes, reason);
    if (loaded == Loaded::Missing) return true;
    if (loaded == Loaded::Unreadable) return failed(reason);
    const ParsedLog parsed = parseLog(bytes);
    if (parsed.damaged()) return failed("it is damaged");
    const std::vector<PracticeRecord> shorter = compacted(parsed.records, today);
    if (shorter.size() == parsed.records.size()) return true;
    return replaceWhole(path, logText(shorter), reason) || failed(reason);
}

PracticeLogRead readPracticeLog(const std::string& given) {
    PracticeLogRead result;
    if (given.empty()) return result;
    const std::string path = followed(given);
    std::string bytes, reason;
    Loaded loaded = loadFile(path, maxPracticeLogBytes, bytes, reason);
    ParsedLog parsed;
    if (loaded == Loaded::Read) parsed = parseLog(bytes);
    if (loaded == Loaded::Read && parsed.damaged()) {
        // Repaired under the lock, from what the log holds then: another instance may have
        // repaired it meanwhile, and none may append to a file being set aside.
        LogLock lock;
        if (!lock.take(path, reason)) {
            result.records = std::move(parsed.records);
            result.message = "Your practice log " + path + " is damaged and could not be set aside (" + reason +
                             "); what could be read of it is shown.";
            return result;
        }
        loaded = loadFile(path, maxPracticeLogBytes, bytes, reason);
        if (loaded == Loaded::Read) parsed = parseLog(bytes);
        if (loaded == Loaded::Read && parsed.damaged()) {
            std::string temporary, aside;
            const std::string why = parsed.tooLarge ? "was larger than Tabladex reads"
                                                    : "was damaged (line " + std::to_string(parsed.badLine) +
                                                          " is not a practice record)";
            result.records = std::move(parsed.records);
            const std::string text = logText(result.records);
            if (!writeTemporary(path, text, temporary, reason)) {
                result.message = "Your practice log " + path + " is damaged, and a fresh one could not be written (" +
                                 reason + "); what could be read of it is shown.";
                return result;
            }
            if (!setAside(path, aside, reason)) {
                removeFile(temporary);
                result.message = "Your practice log " + path + " is damaged and could not be set aside (" + reason +
                                 "); what could be read of it is shown.";
                return result;
            }
            result.setAsidePath = aside;
            if (!renameOver(temporary, path, reason)) {
                result.message = "Your practice log " + why + ". It was set aside as " + aside +
                                 ", but a fresh log could not be made (" + reason + ").";
                return result;
            }
            // Of a log too large, only the newest records that fit were written again.
            result.records = parseLog(text).records;
            result.message = "Your practice log " + why + ". It was set aside as " + aside + ", and " +
                             recordsPhrase(result.records.size()) + ".";
            return result;
        }
    }
    if (loaded == Loaded::Unreadable) {
        result.message = "Your practice log " + path + " could not be read (" + reason + ").";
    }
    result.records = std::move(parsed.records);
    return result;
}

std::vector<RhythmPractice> summarizePractice(const std::vector<PracticeRecord>& records, const std::string& today,
                                              int days) {
    int64_t last = 0;
    if (days < 1 || !parseDate(today, last)) return {};
    const int64_t first = last - (days - 1);
    struct Entry {
        RhythmPractice practice;
        int64_t passes = 0;
        int64_t lastDay = 0;
        size_t lastIndex = 0;  // of the latest record: among one day's, the later in the log
    };
    std::vector<Entry> entries;
    std::map<std::string, size_t> byFile;
    for (size_t i = 0; i < records.size(); ++i) {
        const PracticeRecord& record = records[i];
        int64_t day = 0;
        if (!parseDate(record.date, day) || day < first || day > last) continue;
        const auto [found, fresh] = byFile.try_emplace(record.file, entries.size());
        if (fresh) entries.push_back({{record.file, {}, 0, 0, 0, {}}, 0, day, i});
        Entry& entry = entries[found->second];
        entry.practice.minutes += std::max(record.minutes, 0.0);
        entry.passes += std::max(record.passes, 0);
        if (record.passes > 0) entry.practice.fastestTempo = std::max(entry.practice.fastestTempo, record.fastestTempo);
        if (day >= entry.lastDay) {
            entry.lastDay = day;
            entry.lastIndex = i;
            entry.practice.title = record.title;
            entry.practice.lastDate = record.date;
        }
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.lastDay != b.lastDay ? a.lastDay > b.lastDay : a.lastIndex > b.lastIndex;
    });
    std::vector<RhythmPractice> result;
    for (Entry& entry : entries) {
        entry.practice.passes = int32_t(std::min<int64_t>(entry.passes, INT32_MAX));
        result.push_back(std::move(entry.practice));
    }
    return result;
}

std::string practiceLogText(const std::vector<RhythmPractice>& rhythms, int days) {
    const std::string span = days == 1 ? "today" : "in the last " + std::to_string(days) + " days";
    if (rhythms.empty()) return "Nothing played " + span + ".";
    std::string text = days == 1 ? "Today:" : "The last " + std::to_string(days) + " days:";
    for (const RhythmPractice& rhythm : rhythms) {
        const std::string name = fileName(rhythm.file);
        text += "\n" + (rhythm.title.empty() ? name : rhythm.title + " (" + name + ")") + ": ";
        const int64_t minutes = std::llround(std::max(rhythm.minutes, 0.0));
        if (minutes == 0) {
            text += rhythm.minutes > 0 ? "under 1 min" : "0 min";
        } else if (minutes < 60) {
            text += std::to_string(minutes) + " min";
        } else {
            text += std::to_string(minutes / 60) + " h";
            if (minutes % 60) text += " " + std::to_string(minutes % 60) + " min";
        }
        text += rhythm.passes == 0   ? ", no whole pass"
                : rhythm.passes == 1 ? ", 1 pass"
                                     : ", " + std::to_string(rhythm.passes) + " passes";
        if (rhythm.passes > 0 && rhythm.fastestTempo > 0) {
            text += ", fastest " + std::to_string(rhythm.fastestTempo) + " BPM";
        }
    }
    return text;
}
