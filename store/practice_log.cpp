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
#include <tuple>
#include <utility>
#include <variant>

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
    "# date, minutes, passes, slowest BPM, fastest BPM, file, title - separated by tabs\n"
    "# score, date, passes, BPM, tolerance, due, on time, early, late, wrong, missed, extra,\n"
    "#   mean ms, spread ms, file, title\n";
constexpr double maxMinutes = 1440;  // a day
constexpr int64_t maxCentiminutes = 1440 * 100;
constexpr int32_t maxPasses = 1000000;
constexpr int32_t maxTempoBpm = 1000;
constexpr int32_t maxScoredStrokes = 100000000;
constexpr int64_t maxOffsetHundredths = 10000 * 100;  // 10 s either way
constexpr std::string_view tolerances[] = {"strict", "normal", "relaxed"};
constexpr std::string_view scoredMark = "score";

// A line of the log: a play record or a scored line.
using LogLine = std::variant<PracticeRecord, ScoredPass>;

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

// "-12", "6.5" or "0.25" (ms): at most 10000 either way, a minus only where signed.
bool parseMs(std::string_view text, bool signedValue, double& ms) {
    const bool negative = signedValue && !text.empty() && text[0] == '-';
    if (negative) text.remove_prefix(1);
    const size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view decimals = point == text.npos ? std::string_view() : text.substr(point + 1);
    if (!digits(whole) || whole.size() > 5) return false;
    if (point != text.npos && (!digits(decimals) || decimals.size() > 2)) return false;
    const int64_t hundredths =
        number(whole) * 100 + (decimals.empty() ? 0 : number(decimals) * (decimals.size() == 1 ? 10 : 1));
    if (hundredths > maxOffsetHundredths) return false;
    ms = negative ? -(double(hundredths) / 100) : double(hundredths) / 100;
    return true;
}

// To a tenth of a millisecond, far below what a listener can time a stroke to.
std::string msText(double ms) {
    const int64_t value = std::llround(ms * 10);
    const int64_t size = value < 0 ? -value : value;
    return (value < 0 ? "-" : "") + std::to_string(size / 10) + "." + std::to_string(size % 10);
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

// What keeps a record's file path and title from being a record's; nullptr when nothing does.
const char* textProblemOf(const std::string& file, const std::string& title) {
    if (file.empty() || file.size() > maxPracticeTextBytes) return "its file path is empty or too long";
    if (title.size() > maxPracticeTextBytes) return "its title is too long";
    const auto control = [](const std::string& text) {
        return std::any_of(text.begin(), text.end(), [](char c) { return controlByte(static_cast<unsigned char>(c)); });
    };
    if (control(file) || control(title)) return "its file path or title holds control characters";
    return nullptr;
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
    return textProblemOf(record.file, record.title);
}

// The strokes the mean and spread are of: a wrong stroke's offset is no timing error.
int64_t playedRight(int64_t onTime, int64_t early, int64_t late) { return onTime + early + late; }

// What keeps a scored pass, as the log writes it, from being one; nullptr when nothing does.
const char* problemOf(const ScoredPass& pass) {
    int64_t day = 0;
    if (!parseDate(pass.date, day)) return "its date is not a day written YYYY-MM-DD";
    if (pass.passes < 1 || pass.passes > maxPasses) return "its passes are not 1 to 1000000";
    if (pass.tempo < 1 || pass.tempo > maxTempoBpm) return "its tempo is not 1 to 1000 BPM";
    if (std::find(std::begin(tolerances), std::end(tolerances), pass.tolerance) == std::end(tolerances)) {
        return "its tolerance is not strict, normal or relaxed";
    }
    const int32_t counts[] = {pass.strokes, pass.onTime, pass.early, pass.late, pass.wrong, pass.missed, pass.extra};
    if (std::any_of(std::begin(counts), std::end(counts), [](int32_t n) { return n < 0 || n > maxScoredStrokes; })) {
        return "its stroke counts are not 0 to 100000000";
    }
    if (int64_t(pass.onTime) + pass.early + pass.late + pass.wrong + pass.missed != pass.strokes) {
        return "its strokes on time, early, late, wrong and missed do not add up to the strokes due";
    }
    const double most = double(maxOffsetHundredths) / 100;
    if (!(std::fabs(pass.meanOffsetMs) <= most && pass.spreadMs >= 0 && pass.spreadMs <= most)) {
        return "its mean or spread is not within 10000 ms";
    }
    if (playedRight(pass.onTime, pass.early, pass.late) == 0 && (pass.meanOffsetMs != 0 || pass.spreadMs != 0)) {
        return "it has a mean or spread with no stroke played right";
    }
    return textProblemOf(pass.file, pass.title);
}

std::string recordLine(const PracticeRecord& record) {
    return record.date + "\t" + minutesText(record.minutes) + "\t" + std::to_string(record.passes) + "\t" +
           std::to_string(record.slowestTempo) + "\t" + std::to_string(record.fastestTempo) + "\t" + record.file +
           "\t" + record.title + "\n";
}

std::string scoredLine(const ScoredPass& pass) {
    std::string line = std::string(scoredMark) + "\t" + pass.date + "\t" + std::to_string(pass.passes) + "\t" +
                       std::to_string(pass.tempo) + "\t" + pass.tolerance;
    for (const int32_t count :
         {pass.strokes, pass.onTime, pass.early, pass.late, pass.wrong, pass.missed, pass.extra}) {
        line += "\t" + std::to_string(count);
    }
    return line + "\t" + msText(pass.meanOffsetMs) + "\t" + msText(pass.spreadMs) + "\t" + pass.file + "\t" +
           pass.title + "\n";
}

std::string lineText(const LogLine& line) {
    if (const auto* record = std::get_if<PracticeRecord>(&line)) return recordLine(*record);
    return scoredLine(std::get<ScoredPass>(line));
}

const std::string& dateOf(const LogLine& line) {
    return std::visit([](const auto& record) -> const std::string& { return record.date; }, line);
}

// The line split at its tabs into count fields: false when it has another number of them.
bool splitFields(std::string_view line, std::string_view* fields, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const size_t tab = line.find('\t');
        if ((tab == line.npos) != (i == count - 1)) return false;  // exactly count - 1 tabs
        fields[i] = line.substr(0, tab);
        line.remove_prefix(tab == line.npos ? line.size() : tab + 1);
    }
    return true;
}

bool parseScored(std::string_view line, ScoredPass& pass) {
    std::string_view fields[16];
    if (!splitFields(line, fields, 16) || fields[0] != scoredMark) return false;
    pass.date = fields[1];
    pass.tolerance = fields[4];
    pass.file = fields[14];
    pass.title = fields[15];
    int32_t* const counts[] = {&pass.strokes, &pass.onTime, &pass.early, &pass.late,
                               &pass.wrong,   &pass.missed, &pass.extra};
    for (size_t i = 0; i < std::size(counts); ++i) {
        if (!parseWhole(fields[5 + i], maxScoredStrokes, *counts[i])) return false;
    }
    return parseWhole(fields[2], maxPasses, pass.passes) && parseWhole(fields[3], maxTempoBpm, pass.tempo) &&
           parseMs(fields[12], true, pass.meanOffsetMs) && parseMs(fields[13], false, pass.spreadMs) &&
           problemOf(pass) == nullptr;
}

bool parseRecord(std::string_view line, PracticeRecord& record) {
    std::string_view fields[7];
    if (!splitFields(line, fields, 7)) return false;
    record.date = fields[0];
    record.file = fields[5];
    record.title = fields[6];
    return parseMinutes(fields[1], record.minutes) && parseWhole(fields[2], maxPasses, record.passes) &&
           parseWhole(fields[3], maxTempoBpm, record.slowestTempo) &&
           parseWhole(fields[4], maxTempoBpm, record.fastestTempo) && problemOf(record) == nullptr;
}

// ---- The log's text ----------------------------------------------------------------------

struct ParsedLog {
    std::vector<LogLine> lines;  // the records of both kinds, in the file's order
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
        // A date never starts with a letter: the first field tells the kinds apart.
        const bool scored = line.substr(0, scoredMark.size() + 1) == std::string(scoredMark) + "\t";
        PracticeRecord record;
        ScoredPass pass;
        if (!control && !scored && parseRecord(line, record)) {
            log.lines.emplace_back(std::move(record));
        } else if (!control && scored && parseScored(line, pass)) {
            log.lines.emplace_back(std::move(pass));
        } else if (log.badLine == 0) {
            log.badLine = lineNumber;
        }
    }
    return log;
}

// The header and the records, the newest (the last) that fit below the size limit.
std::string logText(const std::vector<LogLine>& records) {
    std::vector<std::string> lines;
    size_t size = sizeof headerText - 1;
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        lines.push_back(lineText(*record));
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

// Adds a scored line's counts to tally, and its strokes played right to the tally's mean and
// spread.
// The spreads pool as sums of squares about each line's own mean, plus what the means lie
// apart (Chan, Golub and LeVeque's pairwise update): exact from counts, means and spreads.
void addScored(ScoreTally& tally, const ScoredPass& pass) {
    const int64_t heard = playedRight(tally.onTime, tally.early, tally.late);
    const int64_t more = playedRight(pass.onTime, pass.early, pass.late);
    if (more > 0) {
        const double total = double(heard + more), apart = pass.meanOffsetMs - tally.meanOffsetMs;
        const double squares = double(heard) * tally.spreadMs * tally.spreadMs +
                               double(more) * pass.spreadMs * pass.spreadMs +
                               apart * apart * double(heard) * double(more) / total;
        tally.meanOffsetMs += apart * double(more) / total;
        tally.spreadMs = std::sqrt(squares / total);
    }
    tally.passes += pass.passes;
    tally.strokes += pass.strokes;
    tally.onTime += pass.onTime;
    tally.early += pass.early;
    tally.late += pass.late;
    tally.wrong += pass.wrong;
    tally.missed += pass.missed;
    tally.extra += pass.extra;
}

// more merged into into (the later title kept); false, into unchanged, when the merged line
// would not be one the log holds (sums too large).
bool mergeScored(ScoredPass& into, const ScoredPass& more) {
    ScoreTally tally;
    addScored(tally, into);
    addScored(tally, more);
    if (tally.passes > maxPasses || tally.strokes > maxScoredStrokes || tally.extra > maxScoredStrokes) return false;
    ScoredPass merged = into;
    merged.title = more.title;
    merged.passes = int32_t(tally.passes);
    merged.strokes = int32_t(tally.strokes);
    merged.onTime = int32_t(tally.onTime);
    merged.early = int32_t(tally.early);
    merged.late = int32_t(tally.late);
    merged.wrong = int32_t(tally.wrong);
    merged.missed = int32_t(tally.missed);
    merged.extra = int32_t(tally.extra);
    // Kept whole until written, so that the tenths do not add up over a day of merges.
    merged.meanOffsetMs = tally.meanOffsetMs;
    merged.spreadMs = tally.spreadMs;
    if (problemOf(merged) != nullptr) return false;
    into = std::move(merged);
    return true;
}

// The records from today - practiceKeepDays on, one a date and file (scored lines: one a
// date, file, tolerance and tempo), in the order of their dates.
std::vector<LogLine> compacted(const std::vector<LogLine>& lines, int64_t today) {
    std::vector<std::pair<int64_t, LogLine>> kept;
    std::map<std::pair<int64_t, std::string>, size_t> where;
    std::map<std::tuple<int64_t, std::string, std::string, int32_t>, size_t> whereScored;
    for (const LogLine& line : lines) {
        int64_t day = 0;
        if (!parseDate(dateOf(line), day) || day < today - practiceKeepDays) continue;
        if (const auto* pass = std::get_if<ScoredPass>(&line)) {
            const auto [found, fresh] =
                whereScored.try_emplace({day, pass->file, pass->tolerance, pass->tempo}, kept.size());
            if (fresh || !mergeScored(std::get<ScoredPass>(kept[found->second].second), *pass)) {
                found->second = kept.size();  // later ones of the day merge into this one
                kept.emplace_back(day, line);
            }
            continue;
        }
        const PracticeRecord& record = std::get<PracticeRecord>(line);
        const auto [found, fresh] = where.try_emplace({day, record.file}, kept.size());
        if (fresh) {
            kept.emplace_back(day, record);
            continue;
        }
        PracticeRecord& merged = std::get<PracticeRecord>(kept[found->second].second);
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
    std::vector<LogLine> result;
    for (auto& entry : kept) result.push_back(std::move(entry.second));
    return result;
}

// Whether a log of size bytes holding records is due for compaction as of today.
bool compactionDue(const std::vector<LogLine>& records, size_t shorter, int64_t today, size_t size) {
    const bool old = std::any_of(records.begin(), records.end(), [&](const LogLine& record) {
        int64_t day = 0;
        return parseDate(dateOf(record), day) && day < today - practiceCompactAfterDays;
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

// The lines read, split by kind into what the caller gets.
void takeLines(std::vector<LogLine>&& lines, PracticeLogRead& read) {
    read.records.clear();
    read.scored.clear();
    for (LogLine& line : lines) {
        if (auto* record = std::get_if<PracticeRecord>(&line)) {
            read.records.push_back(std::move(*record));
        } else {
            read.scored.push_back(std::move(std::get<ScoredPass>(line)));
        }
    }
}

// Adds a line the log can hold (see problemOf) at its end, compacting it when due.
bool appendLine(const std::string& given, const LogLine& clean, std::string& error) {
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
    const std::string line = lineText(clean);
    ParsedLog parsed = parseLog(bytes);
    if (!parsed.damaged()) {  // a damaged log waits for the reader to set it aside, whole
        int64_t today = 0;
        parseDate(dateOf(clean), today);
        parsed.lines.push_back(clean);
        const std::vector<LogLine> shorter = compacted(parsed.lines, today);
        if (compactionDue(parsed.lines, shorter.size(), today, bytes.size() + line.size())) {
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

// "42 min, 18 passes, fastest 120 BPM".
std::string playedText(const RhythmPractice& rhythm) {
    std::string text;
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
    return text;
}

// "scored 14 passes at normal tolerance: on time 58% then, 81% now; spread 19 ms then, 11 ms now".
std::string scoredText(const RhythmPractice& rhythm) {
    const std::string passes = rhythm.scoredPasses == 1 ? "1 pass" : std::to_string(rhythm.scoredPasses) + " passes";
    std::string text = "scored " + passes + " at " + rhythm.tolerance + " tolerance";
    if (rhythm.firstScoredDate.empty()) return text;
    const ScoreTally &then = rhythm.firstScored, &now = rhythm.latestScored;
    const auto share = [](const ScoreTally& tally) {
        const double due = double(std::max<int64_t>(tally.strokes, 1));
        return std::to_string(std::llround(100.0 * double(tally.onTime) / due)) + "%";
    };
    const auto spread = [](const ScoreTally& tally) { return std::to_string(std::llround(tally.spreadMs)) + " ms"; };
    const auto heard = [](const ScoreTally& tally) { return playedRight(tally.onTime, tally.early, tally.late) > 0; };
    if (rhythm.firstScoredDate == rhythm.latestScoredDate) {
        return text + ": on time " + share(now) + (heard(now) ? ", spread " + spread(now) : "");
    }
    text += ": on time " + share(then) + " then, " + share(now) + " now";
    if (heard(then) && heard(now)) text += "; spread " + spread(then) + " then, " + spread(now) + " now";
    return text;
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
    return appendLine(given, clean, error);
}

bool appendScoredPass(const std::string& given, const ScoredPass& pass, std::string& error) {
    if (given.empty()) {
        error = "Could not add to the practice log: no folder for it is known.";
        return false;
    }
    ScoredPass clean = pass;
    clean.file = cleanText(pass.file, pass.file.size());
    clean.title = cleanText(pass.title, maxPracticeTextBytes);
    if (playedRight(clean.onTime, clean.early, clean.late) == 0) clean.meanOffsetMs = clean.spreadMs = 0;
    if (const char* problem = problemOf(clean)) {
        error = "Could not add to the practice log: the scored pass is not one it can hold (" + std::string(problem) +
                ").";
        return false;
    }
    return appendLine(given, clean, error);
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
    const std::vector<LogLine> shorter = compacted(parsed.lines, today);
    if (shorter.size() == parsed.lines.size()) return true;
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
            takeLines(std::move(parsed.lines), result);
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
            const std::string text = logText(parsed.lines);
            takeLines(std::move(parsed.lines), result);
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
            takeLines(parseLog(text).lines, result);
            result.message = "Your practice log " + why + ". It was set aside as " + aside + ", and " +
                             recordsPhrase(result.records.size() + result.scored.size()) + ".";
            return result;
        }
    }
    if (loaded == Loaded::Unreadable) {
        result.message = "Your practice log " + path + " could not be read (" + reason + ").";
    }
    takeLines(std::move(parsed.lines), result);
    return result;
}

std::vector<RhythmPractice> summarizePractice(const std::vector<PracticeRecord>& records,
                                              const std::vector<ScoredPass>& scored, const std::string& today,
                                              int days) {
    int64_t last = 0;
    if (days < 1 || !parseDate(today, last)) return {};
    const int64_t first = last - (days - 1);
    struct Entry {
        RhythmPractice practice;
        int64_t passes = 0;
        int64_t lastDay = 0;
        size_t lastIndex = 0;  // of the latest record: among one day's, the later in the log
        // The scored passes by tolerance and date (dates as written sort as days do).
        std::map<std::string, std::map<std::string, ScoreTally>> scoredDays;
        int64_t latestScoredDay = INT64_MIN;
    };
    std::vector<Entry> entries;
    std::map<std::string, size_t> byFile;
    // Records first, then scored lines: which of a record and a scored pass of one day came
    // later is not known, and a scored pass is as late as any of its day.
    const auto entryOf = [&](const std::string& file, const std::string& date, const std::string& title, int64_t day,
                             size_t index) -> Entry& {
        const auto [found, fresh] = byFile.try_emplace(file, entries.size());
        if (fresh) {
            entries.emplace_back();
            entries.back().practice.file = file;
            entries.back().lastDay = day;
        }
        Entry& entry = entries[found->second];
        if (day >= entry.lastDay) {
            entry.lastDay = day;
            entry.lastIndex = index;
            entry.practice.title = title;
            entry.practice.lastDate = date;
        }
        return entry;
    };
    for (size_t i = 0; i < records.size(); ++i) {
        const PracticeRecord& record = records[i];
        int64_t day = 0;
        if (!parseDate(record.date, day) || day < first || day > last) continue;
        Entry& entry = entryOf(record.file, record.date, record.title, day, i);
        entry.practice.played = true;
        entry.practice.minutes += std::max(record.minutes, 0.0);
        entry.passes += std::max(record.passes, 0);
        if (record.passes > 0) entry.practice.fastestTempo = std::max(entry.practice.fastestTempo, record.fastestTempo);
    }
    for (size_t i = 0; i < scored.size(); ++i) {
        const ScoredPass& pass = scored[i];
        int64_t day = 0;
        if (!parseDate(pass.date, day) || day < first || day > last || problemOf(pass) != nullptr) continue;
        Entry& entry = entryOf(pass.file, pass.date, pass.title, day, records.size() + i);
        addScored(entry.scoredDays[pass.tolerance][pass.date], pass);
        if (day >= entry.latestScoredDay) {
            entry.latestScoredDay = day;
            entry.practice.tolerance = pass.tolerance;
        }
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.lastDay != b.lastDay ? a.lastDay > b.lastDay : a.lastIndex > b.lastIndex;
    });
    std::vector<RhythmPractice> result;
    for (Entry& entry : entries) {
        RhythmPractice& practice = entry.practice;
        practice.passes = int32_t(std::min<int64_t>(entry.passes, INT32_MAX));
        int64_t scoredPasses = 0;
        for (const auto& [date, tally] : entry.scoredDays[practice.tolerance]) {
            scoredPasses += tally.passes;
            if (tally.strokes == 0) continue;  // no share on time of a day with nothing due
            if (practice.firstScoredDate.empty()) {
                practice.firstScoredDate = date;
                practice.firstScored = tally;
            }
            practice.latestScoredDate = date;
            practice.latestScored = tally;
        }
        practice.scoredPasses = int32_t(std::min<int64_t>(scoredPasses, INT32_MAX));
        result.push_back(std::move(practice));
    }
    return result;
}

std::vector<RhythmPractice> summarizePractice(const std::vector<PracticeRecord>& records, const std::string& today,
                                              int days) {
    return summarizePractice(records, {}, today, days);
}

std::string practiceLogText(const std::vector<RhythmPractice>& rhythms, int days) {
    const std::string span = days == 1 ? "today" : "in the last " + std::to_string(days) + " days";
    if (rhythms.empty()) return "Nothing played " + span + ".";
    std::string text = days == 1 ? "Today:" : "The last " + std::to_string(days) + " days:";
    for (const RhythmPractice& rhythm : rhythms) {
        const std::string name = fileName(rhythm.file);
        text += "\n" + (rhythm.title.empty() ? name : rhythm.title + " (" + name + ")") + ":";
        if (rhythm.played) text += " " + playedText(rhythm);
        if (rhythm.scoredPasses > 0) text += "\n  " + scoredText(rhythm);
    }
    return text;
}
