// The matcher: offsets scored exactly, wrong and missed strokes, extras, strokes still pending
// while the tutor listens, and the pass's notice.
#include <gtest/gtest.h>

#include <limits>

#include "listen/take_matcher.h"

namespace {

constexpr StrokeKind D = StrokeKind::Doum, T = StrokeKind::Tek, S = StrokeKind::Slap;
constexpr double whole = std::numeric_limits<double>::infinity();
constexpr Verdict OnTime = Verdict::OnTime, Early = Verdict::Early, Late = Verdict::Late, Wrong = Verdict::Wrong,
                  Missed = Verdict::Missed, Pending = Verdict::Pending;

// Four strokes a quarter second apart.
const std::vector<ExpectedStroke> due = {{1, 0, D, 1.00}, {1, 1, T, 1.25}, {1, 2, S, 1.50}, {1, 3, D, 1.75}};

struct Case {
    const char* what;
    std::vector<HeardAt> heard;
    Tolerance tolerance;
    double now;
    std::vector<Verdict> verdicts;
    std::vector<double> offsets;  // ms, for the strokes heard
    std::vector<int64_t> extras;
};

TEST(TakeMatcher, JudgesEachStrokeOnItsNearestOnset) {
    const std::vector<Case> cases = {
        {"on time, late, wrong, missed; a ghost note and a stray onset are extras",
         {{0.97, T}, {1.003, D}, {1.28, T}, {1.49, D}, {2.3, T}}, Tolerance::Normal, whole,
         {OnTime, Late, Wrong, Missed}, {3, 30, -10}, {0, 4}},
        {"the same late tek is on time when relaxed", {{1.003, D}, {1.28, T}}, Tolerance::Relaxed, whole,
         {OnTime, OnTime, Missed, Missed}, {3, 30}, {}},
        {"strict: 15 ms early is early", {{0.985, D}, {1.25, T}, {1.5, S}, {1.75, D}}, Tolerance::Strict, whole,
         {Early, OnTime, OnTime, OnTime}, {-15, 0, 0, 0}, {}},
        {"a right stroke on time beats a nearer wrong one", {{1.002, T}, {1.012, D}}, Tolerance::Normal, whole,
         {OnTime, Missed, Missed, Missed}, {12}, {0}},
        {"an onset past half-way to the next stroke belongs to the next",
         {{1.13, D}}, Tolerance::Normal, whole, {Missed, Wrong, Missed, Missed}, {-120}, {}},
        {"live: windows still open stay pending, a heard stroke is judged at once",
         {{1.003, D}, {1.51, S}}, Tolerance::Normal, 1.40, {OnTime, Missed, OnTime, Pending}, {3, 10}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TakeScore score = scoreTake(due, c.heard, c.tolerance, c.now);
        ASSERT_EQ(score.strokes.size(), due.size());
        std::size_t heardCount = 0;
        for (std::size_t i = 0; i < due.size(); ++i) {
            EXPECT_EQ(score.strokes[i].verdict, c.verdicts[i]) << "stroke " << i;
            if (!score.strokes[i].heard) continue;
            ASSERT_LT(heardCount, c.offsets.size());
            EXPECT_NEAR(score.strokes[i].offsetMs, c.offsets[heardCount++], 1e-9) << "stroke " << i;
        }
        EXPECT_EQ(heardCount, c.offsets.size());
        EXPECT_EQ(score.extras, c.extras);
        EXPECT_EQ(score.summary.extra, int(c.extras.size()));
    }
}

TEST(TakeMatcher, SummaryAndNotice) {
    const std::vector<HeardAt> heard = {{0.97, T}, {1.003, D}, {1.28, T}, {1.49, D}, {2.3, T}};
    const ScoreSummary s = scoreTake(due, heard, Tolerance::Normal, whole).summary;
    EXPECT_EQ(s.strokes, 4);
    EXPECT_EQ(s.onTime + s.late + s.wrong + s.missed + s.extra, 1 + 1 + 1 + 1 + 2);
    EXPECT_NEAR(s.meanOffsetMs, 16.5, 1e-9);  // the wrong stroke's -10 is no timing error
    EXPECT_NEAR(s.spreadMs, 13.5, 1e-9);
    EXPECT_EQ(passSummaryText(s), "1 OF 4 ON TIME  1 MISSED  1 WRONG");

    ScoreSummary clean{16, 14, 1, 1, 0, 0, 0, -4.4, 9.2};
    EXPECT_EQ(passSummaryText(clean), "14 OF 16 ON TIME  EARLY 4  SPREAD 9 MS");
    // Large counts drop what does not fit, and every character is one the letter sheets draw.
    const ScoreSummary big{1000, 900, 10, 20, 30, 40, 0, 12.0, 30.0};
    const std::string text = passSummaryText(big);
    EXPECT_EQ(text, "900 OF 1000 ON TIME  40 MISSED");
    EXPECT_LE(text.size(), passSummaryLength);
}

}  // namespace
