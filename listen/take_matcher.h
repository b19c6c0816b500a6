// take_matcher.h - what the learner played against what was due: each due stroke matched to
// the onset heard nearest it, and judged on time, early, late, wrong or missed.
//
// Matching: every due stroke has a window around its due time that reaches at most
// maxMatchMs either way and never past half-way to the due stroke before or after it, so the
// windows never overlap and an onset belongs to one stroke at most. Of the onsets in a
// window the stroke takes the nearest, except that an onset of the right kind within the
// on-time window beats a nearer one of the wrong kind (a stray ghost note beside a good
// stroke costs an extra, not a wrong stroke). The onsets no stroke takes are extras.
//
// Judging: an onset of the wrong kind makes the stroke Wrong whatever its timing (its offset
// is still reported); one of the right kind is OnTime within onTimeMs of the due time, else
// Early or Late. A stroke with no onset in its window is Missed once its window has closed,
// and Pending until then: the tutor scores a pass live, as it is played.
//
// Times are in seconds on one clock, the due times as the learner hears the strokes.
//
// Threads: any; plain data and pure functions. Ownership: results are values; the spans are
// only read.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "listen/stroke_kind.h"

// How close to the due time counts as on time.
enum class Tolerance { Strict, Normal, Relaxed };

// Half the on-time window in milliseconds: 10, 20 or 35.
double onTimeMs(Tolerance tolerance);

// The farthest an onset may lie from its stroke's due time, either way, in milliseconds.
constexpr double maxMatchMs = 150.0;

struct ExpectedStroke {
    int64_t pass = 1;   // from 1, within its entry
    int32_t step = 0;   // the step within the pass, from 0
    StrokeKind kind = StrokeKind::Doum;
    double time = 0;    // seconds: when the stroke is due as heard
};

struct HeardAt {
    double time = 0;  // seconds, on the clock of the due times
    StrokeKind kind = StrokeKind::Doum;
};

enum class Verdict { Pending, OnTime, Early, Late, Wrong, Missed };

// "on time", "early", "late", "wrong", "missed" or "pending".
const char* verdictName(Verdict verdict);

struct StrokeResult {
    Verdict verdict = Verdict::Pending;
    std::optional<StrokeKind> heard;  // the kind of the onset it took, if any
    double offsetMs = 0;              // onset minus due time, positive when late; with heard
    int64_t heardIndex = -1;          // the onset it took, an index into heard; -1 for none
};

struct ScoreSummary {
    int strokes = 0;  // strokes judged (pending ones are not yet)
    int onTime = 0;
    int early = 0;
    int late = 0;
    int wrong = 0;
    int missed = 0;
    int extra = 0;
    double meanOffsetMs = 0;  // over the strokes played right (on time, early or late)
    double spreadMs = 0;      // their standard deviation
};

struct TakeScore {
    std::vector<StrokeResult> strokes;  // one per expected stroke, in its order
    std::vector<int64_t> extras;        // onsets no stroke took, indices into heard, by time
    ScoreSummary summary;
};

// Scores heard against expected (both in any order; expected strokes due at one instant
// share it). now: the windows still open at now keep their strokes Pending while no onset
// has come; +infinity scores a whole take.
TakeScore scoreTake(std::span<const ExpectedStroke> expected, std::span<const HeardAt> heard,
                    Tolerance tolerance, double now);

// The most characters passSummaryText returns: the notice row's small letters from x = 10 to
// the edge of the 600-pixel screen.
constexpr std::size_t passSummaryLength = 39;

// A pass's score for the tutor's notice row, in what its letter sheets can draw (capitals,
// digits and spaces) and at most passSummaryLength characters, the most telling parts
// first: "12 OF 16 ON TIME  2 MISSED  LATE 8 MS", "14 OF 14 ON TIME  EARLY 4  SPREAD 9 MS".
std::string passSummaryText(const ScoreSummary& summary);
