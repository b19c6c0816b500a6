// The practice log: records and scored passes read back as written, an append cut short
// losing nothing, a damaged log set aside once with its good records kept, compaction beside
// a second writer and keeping the scored trend, and the summary of the last 30 days with its
// text.
#include "store/practice_log.h"

#include <gtest/gtest.h>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>
#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;
using namespace std::string_literals;
namespace {

std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void put(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

const std::string oldHeader =
    "# Tabladex practice log\n# date, minutes, passes, slowest BPM, fastest BPM, file, title - separated by tabs\n";
const std::string header = oldHeader +
                           "# score, date, passes, BPM, tolerance, due, on time, early, late, wrong, missed, extra,\n"
                           "#   mean ms, spread ms, file, title\n";
const std::string scoreA = "score\t2025-02-27\t1\t100\tnormal\t2\t1\t0\t1\t0\t0\t0\t5.0\t5.0\t/r/m.krf\tMaqsum\n";
auto fieldsOf(const ScoredPass& p) {
    return std::tie(p.date, p.file, p.title, p.passes, p.tempo, p.strokes, p.onTime, p.early, p.late, p.wrong, p.missed,
                    p.extra, p.meanOffsetMs, p.spreadMs, p.tolerance);
}
const std::string lineA = "2025-02-27\t32.25\t16\t100\t120\t/r/m.krf\tMaqsum\n";
const std::string lineB = "2025-03-01\t0.5\t0\t0\t0\t/r/s.krf\tSaidi\n";

class PracticeLog : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("tabladex-practice-" + std::to_string(std::random_device{}()));
        fs::create_directories(folder);
        path = (folder / "practice.log").string();
    }
    void TearDown() override { fs::remove_all(folder); }
    fs::path folder;
    std::string path, error;
};

TEST_F(PracticeLog, ReadsBackWhatWasWrittenAndRefusesWhatItCannotHold) {
    const struct {
        PracticeRecord given;
        std::string line, title;
        double minutes;
    } cases[] = {
        {{"2025-03-14", "/r/maqsum.krf", "Maqsum", 12.5, 6, 90, 120},
         "2025-03-14\t12.5\t6\t90\t120\t/r/maqsum.krf\tMaqsum\n", "Maqsum", 12.5},
        {{"2024-02-29", "C:\\r\\sa\tidi.krf", "Sa\tidi\r\n\x7F", 3.256, 0, 80, 90},
         "2024-02-29\t3.26\t0\t0\t0\tC:\\r\\sa idi.krf\tSa idi   \n", "Sa idi   ", 3.26},
        {{"2025-01-01", "/r/a b.krf", "", 2000, 1, 60, 60}, "2025-01-01\t1440.0\t1\t60\t60\t/r/a b.krf\t\n", "", 1440},
        {{"2025-01-01", "/r/x.krf", "X", 0.004, 3, 0, 0}, "2025-01-01\t0.0\t3\t0\t0\t/r/x.krf\tX\n", "X", 0},
    };
    std::string expected = header;
    for (const auto& c : cases) {
        ASSERT_TRUE(appendPracticeRecord(path, c.given, error)) << error;
        expected += c.line;
    }
    EXPECT_EQ(slurp(path), expected);
    const PracticeLogRead read = readPracticeLog(path);
    EXPECT_EQ(read.message, "");
    ASSERT_EQ(read.records.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(read.records[i].title, cases[i].title);
        EXPECT_DOUBLE_EQ(read.records[i].minutes, cases[i].minutes);
        EXPECT_EQ(read.records[i].passes, cases[i].given.passes);
        EXPECT_EQ(read.records[i].fastestTempo, cases[i].given.passes ? cases[i].given.fastestTempo : 0);
    }
    const PracticeRecord refused[] = {
        {"2025-02-29", "/r/m.krf", "", 1},        {"2025-3-01", "/r/m.krf", "", 1},
        {"2025-03-01", "/r/m.krf", "", -1},       {"2025-03-01", "/r/m.krf", "", NAN},
        {"2025-03-01", "/r/m.krf", "", 1, -1},    {"2025-03-01", "/r/m.krf", "", 1, 2, 120, 90},
        {"2025-03-01", "/r/m.krf", "", 1, 2, 0, 90}, {"2025-03-01", "", "", 1},
        {"2025-03-01", std::string(5000, 'a'), "", 1},
    };
    for (const PracticeRecord& record : refused) {
        EXPECT_FALSE(appendPracticeRecord(path, record, error)) << record.date;
        EXPECT_EQ(error.find("Could not add to the practice log: the record is not one it can hold ("), 0u) << error;
    }
    EXPECT_FALSE(appendPracticeRecord("", cases[0].given, error));
    EXPECT_EQ(slurp(path), expected);

    // Scored passes: one as given, one with nothing heard (no mean or spread), then refused ones.
    const ScoredPass scored[] = {
        {"2025-03-14", "/r/m.krf", "Ma\tqsum", 1, 100, 32, 25, 3, 2, 1, 1, 4, -6.5, 14.2, "normal"},
        {"2025-03-15", "/r/m.krf", "M", 1, 60, 4, 0, 0, 0, 0, 4, 0, 3, 1, "relaxed"}};
    for (const ScoredPass& pass : scored) ASSERT_TRUE(appendScoredPass(path, pass, error)) << error;
    expected += "score\t2025-03-14\t1\t100\tnormal\t32\t25\t3\t2\t1\t1\t4\t-6.5\t14.2\t/r/m.krf\tMa qsum\n"
                "score\t2025-03-15\t1\t60\trelaxed\t4\t0\t0\t0\t0\t4\t0\t0.0\t0.0\t/r/m.krf\tM\n";
    EXPECT_EQ(slurp(path), expected);
    const PracticeLogRead both = readPracticeLog(path);
    EXPECT_EQ(both.records.size(), std::size(cases));
    ASSERT_EQ(both.scored.size(), 2u);
    ScoredPass cleaned = scored[0];
    cleaned.title = "Ma qsum";
    EXPECT_EQ(fieldsOf(both.scored[0]), fieldsOf(cleaned));
    EXPECT_EQ(both.scored[1].meanOffsetMs + both.scored[1].spreadMs, 0);
    const ScoredPass refusedPasses[] = {
        {"2025-03-15", "/r/m.krf", "", 1, 60, 4, 1, 0, 0, 0, 2, 0, 0, 0, "normal"},  // does not add up
        {"2025-03-15", "/r/m.krf", "", 1, 60, 4, 4, 0, 0, 0, 0, 0, 0, 0, "loose"},
        {"2025-03-15", "/r/m.krf", "", 1, 60, 4, 4, 0, 0, 0, 0, 0, NAN, 0, "normal"},
        {"2025-03-15", "/r/m.krf", "", 1, 0, 4, 4, 0, 0, 0, 0, 0, 0, 0, "strict"},
    };
    for (const ScoredPass& pass : refusedPasses) {
        EXPECT_FALSE(appendScoredPass(path, pass, error));
        EXPECT_EQ(error.find("Could not add to the practice log: the scored pass is not one it can hold ("), 0u)
            << error;
    }
    EXPECT_EQ(slurp(path), expected);
}

TEST_F(PracticeLog, AnAppendCutShortLosesNothingBeforeItAndTheNextOneIsWhole) {
    put(path, header + lineA + "2025-03-01\t1.5\t0\t0");
    const PracticeLogRead cut = readPracticeLog(path);
    EXPECT_EQ(cut.records.size(), 1u);
    EXPECT_EQ(cut.message, "");
    ASSERT_TRUE(appendPracticeRecord(path, {"2025-03-01", "/r/s.krf", "Saidi", 0.5}, error)) << error;
    EXPECT_EQ(slurp(path), header + lineA + lineB);
#ifndef _WIN32
    // A disk that fills up part way through the line: nothing of it stays.
    rlimit saved{}, small{};
    getrlimit(RLIMIT_FSIZE, &saved);
    small = {rlim_t(fs::file_size(path) + 10), saved.rlim_max};
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const bool added = appendPracticeRecord(path, {"2025-03-02", "/r/s.krf", "Saidi", 0.5}, error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    EXPECT_FALSE(added);
    EXPECT_EQ(error.find("Could not add to the practice log " + path + ": only part of it could be written"), 0u)
        << error;
    EXPECT_EQ(slurp(path), header + lineA + lineB);
#endif
}

TEST_F(PracticeLog, ADamagedLogIsSetAsideOnceAndItsGoodRecordsKept) {
    const std::string a = lineA.substr(0, lineA.size() - 1) + "\r\n";  // CR LF
    const struct {
        std::string bytes;
        size_t records;
        std::string why;  // empty: not damaged
    } cases[] = {
        {oldHeader + "\n  # mine\t\n" + a + lineB, 2, ""},  // a log from before scored passes
        {lineA + "score\t2025-03-01\t1\t90\tnormal\t4\t1\t0\t0\t0\t0\t0\t0.0\t0.0\t/r/s.krf\tS\n", 1, "line 2 is not"},
        {scoreA + "score\t2025-03-01\t1\t90\tloose\t2\t2\t0\t0\t0\t0\t0\t0.0\t0.0\t/r/s.krf\tS\n", 1, "line 2 is not"},
        {scoreA + lineA + "score\t2025-03-01\t1\t90\tnormal\t2\t2\t0\t0\t0\t0\t0\t1e3\t0.0\t/r/s.krf\tS\n", 2,
         "line 3 is not"},
        {scoreA + "score\t2025-03-01\t1\t90\tnormal\t2\t2\t0\t0\t0\t0\t0.0\t0.0\t/r/s.krf\tS\n", 1, "line 2 is not"},
        {"\xEF\xBB\xBF" + lineA + lineB + "\x01\x02", 2, ""},  // a last line cut short
        {lineA + "2025-03-01\t0.5\t0\t0\t0\t/r/s.krf\n" + lineB, 2, "line 2 is not"},
        {lineA + "2025-02-30\t0.5\t0\t0\t0\t/r/s.krf\tS\n", 1, "line 2 is not"},
        {lineA + "2025-03-01\t-0.5\t0\t0\t0\t/r/s.krf\tS\n" + lineB, 2, "line 2 is not"},
        {lineA + lineB + "2025-03-01\t1e3\t0\t0\t0\t/r/s.krf\tS\n", 2, "line 3 is not"},
        {lineA + "2025-03-01\t0.5\t2\t5000\t5000\t/r/s.krf\tS\n", 1, "line 2 is not"},
        {lineA + "2025-03-01\t0.5\t2\t120\t90\t/r/s.krf\tS\n", 1, "line 2 is not"},
        {"2025-03-01\t0.5\t0\t0\t0\t/r/s\0.krf\tS\n"s + lineA, 1, "line 1 is not"},
        {lineA + "# " + std::string(maxPracticeLogBytes, '.') + "\n", 1, "larger than Tabladex reads"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 60));
        put(path, c.bytes);
        const PracticeLogRead first = readPracticeLog(path);
        EXPECT_EQ(first.records.size() + first.scored.size(), c.records);
        if (c.why.empty()) {
            EXPECT_EQ(first.message + first.setAsidePath, "");
            EXPECT_EQ(slurp(path), c.bytes);
            continue;
        }
        EXPECT_NE(first.message.find(c.why), first.message.npos) << first.message;
        EXPECT_NE(first.message.find(" set aside as " + first.setAsidePath + ", and the "), first.message.npos)
            << first.message;
        EXPECT_EQ(first.setAsidePath.rfind(path + ".damaged-", 0), 0u) << first.setAsidePath;
        EXPECT_EQ(slurp(first.setAsidePath), c.bytes);
        const PracticeLogRead again = readPracticeLog(path);
        EXPECT_EQ(again.message + again.setAsidePath, "");
        EXPECT_EQ(again.records.size() + again.scored.size(), c.records);
        fs::remove(first.setAsidePath);
    }
}

TEST_F(PracticeLog, CompactionDropsOldDaysAndMergesADayAndLosesNoRecordOfASecondWriter) {
    put(path, header + "2024-02-28\t9.0\t1\t60\t60\t/r/old.krf\tOld\n" +   // 367 days before: dropped
                  "2025-03-01\t10.5\t2\t90\t100\t/r/m.krf\tMaqsum old\n" +  // merged...
                  "2024-02-29\t9.0\t1\t60\t60\t/r/kept.krf\tKept\n" +       // 366 days before: kept
                  "2025-03-01\t5.25\t0\t0\t0\t/r/m.krf\tMaqsum\n" + lineA + // ...with this
                  "2025-03-01\t1.0\t3\t80\t95\t/r/m.krf\tMaqsum\n" +         // and this
                  "score\t2024-02-28\t1\t100\tnormal\t4\t4\t0\t0\t0\t0\t0\t1.0\t1.0\t/r/m.krf\tM\n" +  // dropped
                  "score\t2025-03-01\t1\t100\tnormal\t10\t9\t0\t0\t0\t1\t2\t-2.5\t3.0\t/r/m.krf\tM\n" +
                  scoreA +  // offsets 0 and 10 ms, merged with 20 and 40 ms (and a wrong stroke's, not timed):
                  "score\t2025-02-27\t1\t100\tnormal\t3\t0\t0\t2\t1\t0\t0\t30.0\t10.0\t/r/m.krf\tMaqsum\n" +
                  "score\t2025-02-27\t1\t110\tnormal\t4\t4\t0\t0\t0\t0\t1\t0.0\t2.0\t/r/m.krf\tMaqsum\n");
    const auto panel = [&] {
        const PracticeLogRead read = readPracticeLog(path);
        return practiceLogText(summarizePractice(read.records, read.scored, "2025-03-01"));
    };
    const std::string trend = panel();
    ASSERT_TRUE(compactPracticeLog(path, "2025-03-01", error)) << error;
    EXPECT_EQ(slurp(path), header + "2024-02-29\t9.0\t1\t60\t60\t/r/kept.krf\tKept\n" + lineA +
                               "score\t2025-02-27\t2\t100\tnormal\t5\t1\t0\t3\t1\t0\t0\t17.5\t14.8\t/r/m.krf\tMaqsum\n"
                               "score\t2025-02-27\t1\t110\tnormal\t4\t4\t0\t0\t0\t0\t1\t0.0\t2.0\t/r/m.krf\tMaqsum\n"
                               "2025-03-01\t16.75\t5\t80\t100\t/r/m.krf\tMaqsum\n"
                               "score\t2025-03-01\t1\t100\tnormal\t10\t9\t0\t0\t0\t1\t2\t-2.5\t3.0\t/r/m.krf\tM\n");
    EXPECT_EQ(panel(), trend);
    EXPECT_NE(trend.find("\n  scored 4 passes at normal tolerance: on time 56% then, 90% now; "
                         "spread 14 ms then, 3 ms now"),
              trend.npos)
        << trend;
    // An append more than 400 days after the oldest record compacts the log itself.
    ASSERT_TRUE(appendPracticeRecord(path, {"2026-04-06", "/r/s.krf", "Saidi", 0.5}, error)) << error;
    EXPECT_EQ(slurp(path), header + "2026-04-06\t0.5\t0\t0\t0\t/r/s.krf\tSaidi\n");

    // A second writer appends while this one compacts: every minute and pass it wrote stays.
    constexpr int appends = 60;
    std::atomic<bool> done{false};
    std::string writerError;
    std::thread writer([&] {
        for (int i = 0; i < appends && writerError.empty(); ++i) {
            appendPracticeRecord(path, {"2026-04-06", "/r/w.krf", "W", 1, 1, 100, 100}, writerError);
        }
        done = true;
    });
    while (!done) {
        EXPECT_TRUE(compactPracticeLog(path, "2026-04-06", error)) << error;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    writer.join();
    EXPECT_EQ(writerError, "");
    double minutes = 0;
    int32_t passes = 0, records = 0;
    for (const PracticeRecord& record : readPracticeLog(path).records) {
        if (record.file == "/r/w.krf") minutes += record.minutes, passes += record.passes, ++records;
    }
    EXPECT_EQ(minutes, appends);
    EXPECT_EQ(passes, appends);
    EXPECT_LT(records, appends);  // merged meanwhile
}

TEST(PracticeSummary, SumsUpTheLast30DaysPerRhythmMostRecentFirst) {
    const std::vector<PracticeRecord> records = {
        {"2025-01-30", "/r/out.krf", "Out", 50, 5, 90, 90},           // day 31: out
        {"2025-01-31", "/r/m.krf", "Maqsum old", 10, 2, 90, 110},     // day 30: in
        {"2025-03-01", "/r/s.krf", "Saidi", 0.3},
        {"2025-02-27", "/r/m.krf", "Maqsum", 32.2, 16, 100, 120},
        {"2025-02-20", "/r/m.krf", "Maqsum", 1, 0, 150, 150},         // no whole pass: no tempo
        {"2025-03-02", "/r/later.krf", "Later", 5},                   // after today: out
        {"2025-03-01", "C:\\r\\d.krf", "Dum", 75, 1, 60, 60},
    };
    // Maqsum's trend is of its normal passes (not the relaxed one); Karachi was only scored.
    const std::vector<ScoredPass> scored = {
        {"2025-02-10", "/r/m.krf", "Maqsum", 1, 90, 10, 10, 0, 0, 0, 0, 0, 0, 1, "relaxed"},
        {"2025-02-20", "/r/m.krf", "Maqsum", 1, 90, 12, 7, 2, 3, 0, 0, 0, 4, 19, "normal"},
        {"2025-02-27", "/r/m.krf", "Maqsum", 1, 100, 8, 6, 0, 2, 0, 0, 0, 2, 11, "normal"},
        {"2025-02-27", "/r/m.krf", "Maqsum", 1, 100, 8, 7, 1, 0, 0, 0, 1, 2, 11, "normal"},
        {"2025-02-28", "/r/k.krf", "Karachi", 1, 80, 4, 2, 1, 0, 0, 1, 0, -3, 2.6, "strict"},
    };
    const std::vector<RhythmPractice> rhythms = summarizePractice(records, scored, "2025-03-01");
    ASSERT_EQ(rhythms.size(), 4u);
    EXPECT_EQ(rhythms[3].lastDate, "2025-02-27");
    const std::string dum =
#ifdef _WIN32
        "Dum (d.krf)";
#else
        "Dum (C:\\r\\d.krf)";
#endif
    EXPECT_EQ(practiceLogText(rhythms), "The last 30 days:\n" + dum +
                                            ": 1 h 15 min, 1 pass, fastest 60 BPM\n"
                                            "Saidi (s.krf): under 1 min, no whole pass\n"
                                            "Karachi (k.krf):\n"
                                            "  scored 1 pass at strict tolerance: on time 50%, spread 3 ms\n"
                                            "Maqsum (m.krf): 43 min, 18 passes, fastest 120 BPM\n"
                                            "  scored 3 passes at normal tolerance: on time 58% then, 81% now; "
                                            "spread 19 ms then, 11 ms now");
    EXPECT_EQ(summarizePractice(records, "2025-03-01", 1).size(), 2u);
    EXPECT_EQ(practiceLogText(summarizePractice(records, "2025-03-01")).find("scored"), std::string::npos);
    EXPECT_EQ(summarizePractice(records, "2025-02-31").size(), 0u);
    EXPECT_EQ(practiceLogText({}), "Nothing played in the last 30 days.");
    EXPECT_EQ(todayLocalDate().size(), 10u);
}

}  // namespace
