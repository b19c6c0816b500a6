// practice_log.h - the learner's practice log: what was played, on which day, for how long,
// how many whole passes and at which tempos, and how well the passes the tutor listened to
// were played; kept for a year, summed up for the panel.
//
// Where: practiceLogPath() - $XDG_STATE_HOME/tabladex/practice.log (an absolute
// $XDG_STATE_HOME only), else $HOME/.local/state/tabladex/practice.log on Linux;
// %APPDATA%\Tabladex\practice.log on Windows.
//
// The file is plain UTF-8 text, one record a line, its fields separated by tabs (shown here
// as \t). A play record has seven fields and starts with its date; a scored line has sixteen
// and starts with the word "score":
//
//     # Tabladex practice log
//     # date, minutes, passes, slowest BPM, fastest BPM, file, title - separated by tabs
//     # score, date, passes, BPM, tolerance, due, on time, early, late, wrong, missed, extra,
//     #   mean ms, spread ms, file, title
//     2025-03-14\t12.5\t6\t90\t120\t/home/ana/rhythms/maqsum.krf\tMaqsum
//     2025-03-14\t3.25\t0\t0\t0\t/home/ana/rhythms/saidi.krf\tSaidi
//     score\t2025-03-14\t1\t100\tnormal\t32\t25\t3\t2\t1\t1\t0\t6.5\t14.2\t/home/ana/rhythms/maqsum.krf\tMaqsum
//
// A play record:
// - date: the local date the playing happened, YYYY-MM-DD;
// - minutes played, at most 1440 (a day): a whole number or one with one or two decimals
//   (written with one or two);
// - passes: whole passes completed, 0 to 1000000;
// - slowest and fastest: the tempo range in BPM (1 to 1000, slowest not above fastest) of
//   the passes played through at one tempo, or 0 and 0 when there was none;
// - file: the rhythm file's path as loaded (its bytes as given; never empty); title: the
//   rhythm's title (may be empty). Tabs, line ends and other control bytes in either are
//   written as spaces; a title longer than maxPracticeTextBytes is cut (at a character's
//   start), a longer path is refused.
//
// A scored line, of the passes the tutor listened to and scored:
// - "score", then the date as above;
// - passes: how many passes the line sums up, 1 to 1000000: 1 as appended, more in a line
//   compaction merged;
// - the tempo of the pass(es) in BPM, 1 to 1000;
// - tolerance: the timing tolerance the pass was scored with, "strict", "normal" or "relaxed";
// - due, on time, early, late, wrong, missed: the strokes due, and what became of each: heard
//   in time, heard early, heard late, heard as another stroke, not heard. Each due stroke is
//   exactly one of them (on time + early + late + wrong + missed = due); each 0 to 100000000;
// - extra: strokes heard where none was due, 0 to 100000000;
// - mean and spread: the mean offset from their due time (ms; positive = late) and its
//   standard deviation (over their count, not one less) of the strokes played right (on
//   time, early or late: a wrong stroke is no timing error); 0 and 0 when there was none.
//   At most 10000 ms either way, the spread not below 0; written with one decimal (a minus
//   only before a mean that is not 0), read with up to two;
// - file and title as in a play record.
//
// Both kinds:
// - lines starting with '#', and blank lines, are notes; CR LF line ends and a UTF-8
//   byte-order mark (as some editors save) are accepted.
//
// Appending never loses earlier days. Each record (of either kind) goes to the end of the
// file in ONE write of its whole line (O_APPEND; FILE_APPEND_DATA on Windows), flushed to the
// disk before the append returns. An append cut short (a crash, a full disk) can leave only a
// last line without its line end: a reader ignores it (it is not damage), and the next
// append first cuts that part line off, so that its own record starts a line of its own and
// no part line is ever left inside the file (ending it with a line end instead would make it
// a line that is not a record: damage). A failed append cuts off what it wrote.
//
// Compaction keeps the file small. An append (taking its record's date as today) and
// compactPracticeLog rewrite the file when it holds a record (of either kind) more than
// practiceCompactAfterDays days before today, or (for an append) when it is larger than
// compactPracticeLogBytes and merging would shorten it: records of both kinds more than
// practiceKeepDays days before today are dropped, the play records of one date and file are
// merged into one (minutes and passes summed, the tempo range widened, the later title
// kept), and the scored lines of one date, file, tolerance and tempo into one (passes and
// counts summed, the mean and spread those of all their strokes played right, worked out
// from each line's count, mean and spread, so that the trend of the days reads the same;
// the later title kept; a merge that would not fit a line starts one of its own); all in
// the order of their dates. A day's scored passes at one tempo thus take one line, not one
// a pass. A year of daily practice of a few rhythms is some tens of kilobytes. The rewrite
// goes to a temporary file beside the log, is flushed and renamed over it; a failed
// one leaves the log as it was. A log that holds damage is never compacted (see below).
//
// Two instances at once: appending, compacting and repairing each hold an exclusive lock on
// "practice.log.lock" beside the log (flock on Linux, LockFileEx on Windows; the file is
// empty and stays) and open the log only once they hold it, so a compaction cannot drop a
// record appended meanwhile. A lock another instance holds for longer than
// practiceLockWaitMs is given up with an error rather than freeze the tutor.
//
// Damage. A missing file is not damage: no records, no message. A file larger than
// maxPracticeLogBytes, or with a whole line that is neither a note nor a record as above (a
// wrong number of fields, a bad date, a value that is not a number or out of its range, a
// scored line whose counts do not add up, a control byte), is damaged: it is set aside, renamed to
// "practice.log.damaged-YYYYMMDD-HHMMSS" (local time; "-2", "-3"... added when that name is
// taken, so an earlier set-aside file is never replaced), the records that could be read (of
// both kinds) are written to a fresh log (of a file too large, the last ones that fit), and a message for
// one box says where the old file went. When the fresh log cannot be written, the damaged
// file stays where it is, what could be read of it is returned, and the message says why.
//
// A log that is a symbolic link stays one: the file it leads to is rewritten.
//
// Threads: any thread; any number of instances (the lock serialises the writers). The
// functions keep no state of their own. Ownership: plain values; the caller owns the results.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The largest log read; a larger one is damaged, and an append that would pass it fails.
constexpr int64_t maxPracticeLogBytes = 4 * 1024 * 1024;
// Above this size an append compacts the log when merging would shorten it.
constexpr int64_t compactPracticeLogBytes = 256 * 1024;
// Compaction drops the records more than this many days before today...
constexpr int32_t practiceKeepDays = 366;
// ...once the log holds one more than this many days before today.
constexpr int32_t practiceCompactAfterDays = 400;
// The longest file path and title a record holds, in bytes.
constexpr size_t maxPracticeTextBytes = 4096;
// How long a writer waits for another instance's lock.
constexpr int32_t practiceLockWaitMs = 5000;

struct PracticeRecord {
    std::string date;          // local date "YYYY-MM-DD" the playing happened
    std::string file;          // the rhythm file's path as loaded
    std::string title;         // the rhythm's title
    double minutes = 0;        // minutes played
    int32_t passes = 0;        // whole passes completed
    int32_t slowestTempo = 0;  // tempo range over the whole passes (BPM); 0 and 0 when no whole pass
    int32_t fastestTempo = 0;
};

// A pass the tutor listened to and scored; or, read back, a line that may sum up several.
struct ScoredPass {
    std::string date;   // local date "YYYY-MM-DD" the pass was played
    std::string file;   // the rhythm file's path as loaded
    std::string title;  // the rhythm's title
    int32_t passes = 1;  // passes summed up: 1 for one pass
    int32_t tempo = 0;   // BPM
    // The strokes due, and what became of each (they add up to strokes); extra: heard where
    // none was due.
    int32_t strokes = 0, onTime = 0, early = 0, late = 0, wrong = 0, missed = 0, extra = 0;
    // Of the strokes played right (onTime + early + late): their mean offset from their due
    // time (positive = late) and its standard deviation over their count; written to 0.1 ms.
    double meanOffsetMs = 0, spreadMs = 0;
    std::string tolerance;  // "strict", "normal" or "relaxed"
};

struct PracticeLogRead {
    std::vector<PracticeRecord> records;  // in the file's order
    std::vector<ScoredPass> scored;       // in the file's order
    std::string setAsidePath;             // where a damaged file went; empty when it did not
    std::string message;                  // for a box; empty when the file was read or missing
};

// Scored passes summed up: counts, and the mean and spread of all their strokes played right.
struct ScoreTally {
    int64_t passes = 0, strokes = 0, onTime = 0, early = 0, late = 0, wrong = 0, missed = 0, extra = 0;
    double meanOffsetMs = 0, spreadMs = 0;
};

// Per rhythm, over the days summarizePractice was asked for.
struct RhythmPractice {
    std::string file, title;  // the title of the most recent record or scored pass
    double minutes = 0;
    int32_t passes = 0;
    int32_t fastestTempo = 0;  // fastest tempo of a whole pass; 0 when none
    std::string lastDate;
    bool played = false;  // whether a play record was among them (not only scored passes)
    // The trend of the passes scored at the tolerance of the latest one (the shares of the
    // others would not compare): how many, and the first and the latest day of them with
    // strokes due (the same day when there was one). scoredPasses 0: none scored.
    int32_t scoredPasses = 0;
    std::string tolerance;
    std::string firstScoredDate, latestScoredDate;  // empty when no pass had strokes due
    ScoreTally firstScored, latestScored;
};

// The practice log's path for this user; empty when no folder for it is known.
std::string practiceLogPath();

// Today's local date, "YYYY-MM-DD".
std::string todayLocalDate();

// Adds one record at the end of the log (making its folder and the file when missing), and
// compacts the log when due, taking record.date as today. False, with error saying which
// path and the system's reason, when it could not (nothing is then added and what was there
// is unchanged); also for a record the log cannot hold (a bad date, negative or non-finite
// minutes, passes out of range, tempos that are neither 0 and 0 nor a range, an empty or
// too long path). Minutes above 1440 are written as 1440; with no passes, no tempos.
bool appendPracticeRecord(const std::string& path, const PracticeRecord& record, std::string& error);

// Adds one scored pass at the end of the log, as appendPracticeRecord adds a record (the
// same lock, one write, flush and compaction). False with error, nothing added, for a pass
// the log cannot hold: a bad date, passes or tempo or a count out of range, counts that do
// not add up to strokes, an unknown tolerance, a mean or spread not finite or out of range,
// an empty or too long path. With no stroke played right the mean and spread are written as 0.
bool appendScoredPass(const std::string& path, const ScoredPass& pass, std::string& error);

// Compacts the log now (see above) as of today ("YYYY-MM-DD"). True when it was compacted
// or had nothing to drop or merge, or is missing; false with error when it could not be
// (damaged, unreadable, or the rewrite failed: the log is then as it was).
bool compactPracticeLog(const std::string& path, const std::string& today, std::string& error);

// Reads the log, setting a damaged file aside (see above). An empty path gives no records
// and no message.
PracticeLogRead readPracticeLog(const std::string& path);

// Per rhythm (by file), the records and scored passes dated from today-(days-1) to today:
// minutes, passes and the fastest tempo of a whole pass summed up, and the trend of the
// scored passes; most recently practised first (a rhythm only scored too). Nothing when
// today is not a date or days is below 1.
std::vector<RhythmPractice> summarizePractice(const std::vector<PracticeRecord>& records,
                                              const std::vector<ScoredPass>& scored, const std::string& today,
                                              int days = 30);
// The same of the records alone.
std::vector<RhythmPractice> summarizePractice(const std::vector<PracticeRecord>& records, const std::string& today,
                                              int days = 30);

// The text of the "Practice Log" panel, for a plain message box: "The last 30 days:" and
// then a line a rhythm, "Maqsum (maqsum.krf): 42 min, 18 passes, fastest 120 BPM" (only
// "Maqsum (maqsum.krf):" for one only scored), under it, for a rhythm with scored passes,
// "  scored 14 passes at normal tolerance: on time 58% then, 81% now; spread 19 ms then,
// 11 ms now" (of one scored day "on time 81%, spread 11 ms"; no spread when no stroke was
// played right); or "Nothing played in the last 30 days." when there is nothing.
std::string practiceLogText(const std::vector<RhythmPractice>& rhythms, int days = 30);
