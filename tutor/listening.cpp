// The tutor listening to the learner's drum: the input, the strokes heard in it, and the
// passes scored against the steps the screen shows as heard.
#include "tutor/listening.h"

#include <algorithm>
#include <cmath>

#include "tutor/tutor_app.h"

namespace {

// How long each page of a pass's summary stays in the notice slot.
constexpr double noticePageSeconds = 1.6;
// Strokes heard are kept this long: enough for the pass under way and the one before.
constexpr double keepHeardSeconds = 30.0;
// The stroke calibration records at most this long, and ends this long after its twelfth.
constexpr double calibrationSeconds = 25.0;
constexpr double calibrationTailSeconds = 1.0;
constexpr int calibrationStrokes = 12;
// The latency check: clicks, their spacing, and how far from its click a heard one may lie.
constexpr int checkClicks = 8;
constexpr double clickSpacing = 0.5;
constexpr double clickWindow = 0.25;

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

}  // namespace

Listening::Listening() : listener_(48000, StrokeCalibration{}) {}

double Listening::inputTime(int64_t frame) const {
    // The block holding the frame gives its time; the device's clock and ours drift apart
    // by parts per million, so every block is stamped afresh rather than counted on.
    for (auto it = blockTimes_.rbegin(); it != blockTimes_.rend(); ++it)
        if (it->frame <= frame) return it->time + double(frame - it->frame) / rate_;
    return blockTimes_.empty() ? 0.0 : blockTimes_.front().time + double(frame - blockTimes_.front().frame) / rate_;
}

double Listening::latestTime() const {
    // Strokes up to here have been heard or will never be: what came in, less what the
    // listener still holds back.
    return inputTime(framesRead_ - listener_.latencyFrames());
}

bool Listening::openInput(TutorApp& app) {
    if (inputOpen_) return true;
    if (!app.audioSystem) return false;
    const audio::Result result = audio::startCapture(app.audioSystem);
    if (result != audio::Ok) {
        failure = std::string("The tutor cannot listen: no sound input could be opened (") + audio::errorString(result) +
                  "). Listening is switched off.";
        return false;
    }
    rate_ = audio::outputSampleRate(app.audioSystem);
    listener_ = StrokeListener(rate_, calibration);
    listenerBase_ = 0;
    block_.assign(4096, 0.0f);
    blockTimes_.clear();
    heard_.clear();
    framesRead_ = 0;
    inputOpen_ = true;
    return true;
}

void Listening::closeInput(TutorApp& app) {
    if (!inputOpen_) return;
    if (app.audioSystem) audio::stopCapture(app.audioSystem);
    inputOpen_ = false;
}

void Listening::readInput(TutorApp& app) {
    // The input's times are on the audio library's clock, which reads the same monotonic
    // clock from the same origin as the step timer (and a test's manual clock drives both).
    const double clockToStep = 0.0;
    const double lateBy = choices.headphones ? 0.0 : choices.inputOffset;
    for (;;) {
        double firstTime = 0;
        bool gap = false;
        const std::size_t got = audio::readCapture(app.audioSystem, block_.data(), block_.size(), &firstTime, &gap);
        if (got == 0) break;
        if (gap) {
            // Frames were lost: what the listener holds no longer joins what follows.
            listener_.reset();
            framesRead_ = 0;
            listenerBase_ = 0;
            blockTimes_.clear();
        }
        blockTimes_.push_back({framesRead_, firstTime + clockToStep - lateBy});
        while (blockTimes_.size() > 64) blockTimes_.pop_front();
        if (mode_ == Mode::Calibrating) take_.insert(take_.end(), block_.begin(), block_.begin() + got);
        if (mode_ == Mode::CheckingLatency) {
            // The detector counts frames from clickFrameBase_ on, as fed since the check began
            // or since the last gap.
            if (gap) {
                clickDetector_.reset();
                clickFrameBase_ = framesRead_;
            }
            const std::size_t before = clickOnsets_.size();
            clickDetector_.feed(block_.data(), got, clickOnsets_);
            for (std::size_t i = before; i < clickOnsets_.size(); ++i)
                clickTimesHeard_.push_back(inputTime(clickFrameBase_ + clickOnsets_[i].frame));
        }
        fresh_.clear();
        listener_.feed(block_.data(), got, fresh_);
        framesRead_ += static_cast<int64_t>(got);
        for (const HeardStroke& stroke : fresh_) {
            heard_.push_back({inputTime(listenerBase_ + stroke.frame), stroke.kind});
            ++strokesHeard_;
            lastStrokeAt_ = heard_.back().time;
        }
    }
    const double oldest = app.stepTimer.seconds() - keepHeardSeconds;
    while (!heard_.empty() && heard_.front().time < oldest) heard_.pop_front();
}

void Listening::stepShown(const TutorApp& app, const HeardStep& step) {
    if (mode_ != Mode::Scoring || step.countIn > 0) return;
    const RhythmEntry* entry =
        app.entries && step.entry >= 0 && step.entry < app.entryCount ? &app.entries[step.entry] : nullptr;
    if (!entry || !entry->playable()) return;
    const int32_t index = step.stepIndex > 0 ? step.stepIndex - 1 : entry->stepCount - 1;
    // The pass of the step: its first step shows the passes done before it; the last step
    // has already counted its own.
    const int64_t pass = step.stepIndex > 0 ? int64_t(step.repeatsDone) + 1 : int64_t(step.repeatsDone);
    if (index == 0 || passes_.empty() || passes_.back().entry != step.entry || passes_.back().pass != pass) {
        PassScoring scoring;
        scoring.entry = step.entry;
        scoring.pass = pass;
        scoring.tempo = entry->tempo;
        scoring.stepCount = entry->stepCount;
        // Only a pass heard from its first step is scored: a stroke missed before listening
        // began is not the learner's.
        scoring.scored = index == 0 && (step.silent || choices.headphones);
        if (scoring.scored) {
            // The marks show the latest scored pass; a sounding pass after it leaves them.
            marks_.assign(entry->stepCount, StepMark::None);
            markedEntry_ = step.entry;
            markedPass_ = pass;
            ++marksVersion_;
        }
        passes_.push_back(std::move(scoring));
    }
    PassScoring& scoring = passes_.back();
    ++scoring.stepsShown;
    if (!scoring.scored) return;
    const SoundSlot* slot = entry->stepSounds[index];
    std::optional<StrokeKind> kind;
    if (slot == &app.doumSlot) kind = StrokeKind::Doum;
    else if (slot == &app.tekSlot || slot == &app.halfTekSlot) kind = StrokeKind::Tek;
    else if (slot == &app.slapSlot) kind = StrokeKind::Slap;
    if (!kind) return;
    scoring.expected.push_back({pass, index, *kind, step.heardAt});
    scoring.stepOf.push_back(index);
}

void Listening::setCalibration(const StrokeCalibration& chosen) {
    calibration = chosen;
    // A listener of its own for the new calibration, counting its frames from here.
    listener_ = StrokeListener(rate_, calibration);
    listenerBase_ = framesRead_;
}

void Listening::forgetPasses() {
    passes_.clear();
}

void Listening::clearMarks() {
    marks_.clear();
    markedEntry_ = -1;
    ++marksVersion_;
}

void Listening::scorePasses(TutorApp& app) {
    const double upTo = latestTime();
    for (std::size_t p = 0; p < passes_.size(); ++p) {
        PassScoring& scoring = passes_[p];
        if (!scoring.scored || scoring.expected.empty()) continue;
        // The pass's strokes: those heard from a little before its first due stroke to
        // before the next pass's first (which is that pass's to take).
        const double from = scoring.expected.front().time - maxMatchMs / 1000.0;
        double to = scoring.expected.back().time + maxMatchMs / 1000.0;
        if (p + 1 < passes_.size() && !passes_[p + 1].expected.empty())
            to = std::min(to, 0.5 * (scoring.expected.back().time + passes_[p + 1].expected.front().time) +
                                  maxMatchMs / 1000.0);
        std::vector<HeardAt> heard;
        for (const HeardAt& stroke : heard_)
            if (stroke.time >= from && stroke.time < to) heard.push_back(stroke);
        const bool whole = scoring.stepsShown >= scoring.stepCount;
        const TakeScore score = scoreTake(scoring.expected, heard, choices.tolerance, whole && upTo > to ? 1e300 : upTo);
        if (scoring.entry == markedEntry_ && scoring.pass == markedPass_ &&
            marks_.size() == std::size_t(scoring.stepCount)) {
            bool changed = false;
            for (std::size_t i = 0; i < score.strokes.size(); ++i) {
                StepMark mark = StepMark::None;
                switch (score.strokes[i].verdict) {
                    case Verdict::OnTime: mark = StepMark::OnTime; break;
                    case Verdict::Early: mark = StepMark::Early; break;
                    case Verdict::Late: mark = StepMark::Late; break;
                    case Verdict::Wrong: mark = StepMark::Wrong; break;
                    case Verdict::Missed: mark = StepMark::Missed; break;
                    case Verdict::Pending: break;
                }
                StepMark& shown = marks_[scoring.stepOf[i]];
                // How long after the stroke reached the microphone its mark shows.
                if (shown == StepMark::None && mark != StepMark::None && score.strokes[i].heardIndex >= 0) {
                    if (feedbackDelays_.size() >= 256) feedbackDelays_.erase(feedbackDelays_.begin());
                    feedbackDelays_.push_back(app.stepTimer.seconds() - heard[score.strokes[i].heardIndex].time);
                }
                changed |= shown != mark;
                shown = mark;
            }
            if (changed) ++marksVersion_;
        }
        if (whole && upTo > to) {
            notice_ = summaryPages(score.summary);
            noticeFrom_ = app.stepTimer.seconds();
            scored_.push_back({scoring.entry, scoring.pass, scoring.tempo, choices.tolerance, score.summary});
            scoring.scored = false;  // done; kept only to bound the next pass's strokes
        }
    }
    // Passes done with and followed by another are of no more use.
    while (passes_.size() > 2 && !passes_.front().scored) passes_.pop_front();
}

void Listening::frame(TutorApp& app) {
    // The input stays open while Listen is on, playing or not: a freshly opened input dates
    // its frames from the device's first timing reports, which take seconds to settle, so
    // reopening it at every Play would put the first passes' strokes out by milliseconds.
    const bool wanted = mode_ == Mode::Calibrating || mode_ == Mode::CheckingLatency || choices.on;
    if (!wanted) {
        closeInput(app);
        if (mode_ == Mode::Scoring) mode_ = Mode::Idle;
        passes_.clear();
        return;
    }
    if (!inputOpen_ && !openInput(app)) {
        choices.on = false;
        mode_ = Mode::Idle;
        return;
    }
    if (mode_ == Mode::Idle) mode_ = Mode::Scoring;
    readInput(app);
    const double now = app.stepTimer.seconds();
    switch (mode_) {
        case Mode::Scoring:
            scorePasses(app);
            break;
        case Mode::Calibrating:
            if ((strokesHeard_ >= calibrationStrokes && latestTime() > lastStrokeAt_ + calibrationTailSeconds) ||
                now > modeStarted_ + calibrationSeconds) {
                calibrationResult_ = calibrateFromTake(take_.data(), take_.size(), rate_);
                take_.clear();
                mode_ = Mode::Idle;
                resultReady_ = true;
            }
            break;
        case Mode::CheckingLatency:
            sendClicks(app);
            if (clicksSent_ == checkClicks && latestTime() > clickTimes_.back() + clickWindow + 0.2) {
                std::vector<double> offsets;
                for (double due : clickTimes_) {
                    double best = clickWindow;
                    for (double heard : clickTimesHeard_)
                        if (std::fabs(heard - due) < std::fabs(best)) best = heard - due;
                    if (std::fabs(best) < clickWindow) offsets.push_back(best * 1000.0);
                }
                latency_.heard = static_cast<int>(offsets.size());
                latency_.measuredMs = median(offsets);
                double sum = 0;
                for (double offset : offsets) sum += (offset - latency_.measuredMs) * (offset - latency_.measuredMs);
                latency_.spreadMs = offsets.size() > 1 ? std::sqrt(sum / double(offsets.size() - 1)) : 0.0;
                mode_ = Mode::Idle;
                resultReady_ = true;
            }
            break;
        case Mode::Idle:
            break;
    }
}

const std::string& Listening::notice(double now) const {
    static const std::string none;
    const double page = (now - noticeFrom_) / noticePageSeconds;
    return page >= 0 && page < double(notice_.size()) ? notice_[std::size_t(page)] : none;
}

std::vector<std::string> Listening::summaryPages(const ScoreSummary& s) {
    // The slot's letters have no punctuation: words and numbers only.
    std::vector<std::string> pages;
    pages.push_back(std::to_string(s.onTime) + " OF " + std::to_string(s.strokes) + " ON TIME");
    std::string misses;
    if (s.wrong > 0) misses = std::to_string(s.wrong) + " WRONG";
    if (s.missed > 0) misses += (misses.empty() ? "" : "  ") + std::to_string(s.missed) + " MISSED";
    if (s.extra > 0 && misses.size() + 10 <= noticeColumns)
        misses += (misses.empty() ? "" : "  ") + std::to_string(s.extra) + " EXTRA";
    if (!misses.empty()) pages.push_back(misses);
    if (s.onTime + s.early + s.late > 0) {
        const long lean = std::lround(s.meanOffsetMs);
        std::string timing = lean == 0 ? "ON THE BEAT" : (lean < 0 ? "EARLY " : "LATE ") + std::to_string(std::labs(lean)) + " MS";
        timing += "  SPREAD " + std::to_string(std::lround(s.spreadMs)) + " MS";
        pages.push_back(timing);
    }
    for (std::string& page : pages)
        if (page.size() > noticeColumns) page.resize(noticeColumns);
    return pages;
}

std::vector<ScoredPassReport> Listening::takeScored() {
    std::vector<ScoredPassReport> taken;
    taken.swap(scored_);
    return taken;
}

bool Listening::beginCalibration(TutorApp& app) {
    if (mode_ != Mode::Idle && mode_ != Mode::Scoring) return false;
    take_.clear();
    strokesHeard_ = 0;
    resultReady_ = false;
    latencyChecked_ = false;
    mode_ = Mode::Calibrating;
    if (!openInput(app)) {
        mode_ = Mode::Idle;
        return false;
    }
    take_.reserve(std::size_t(rate_ * calibrationSeconds) + block_.size());
    modeStarted_ = app.stepTimer.seconds();
    return true;
}

bool Listening::calibrationDone(CalibrationResult& result) {
    if (!resultReady_ || mode_ != Mode::Idle || latencyChecked_) return false;
    resultReady_ = false;
    result = calibrationResult_;
    return true;
}

bool Listening::beginLatencyCheck(TutorApp& app) {
    if (mode_ != Mode::Idle && mode_ != Mode::Scoring) return false;
    if (!app.clickSlot.sound || !app.clickSlot.channel) return false;
    mode_ = Mode::CheckingLatency;
    resultReady_ = false;
    if (!openInput(app)) {
        mode_ = Mode::Idle;
        return false;
    }
    clickDetector_ = OnsetDetector(OnsetSettings{rate_, 0.1});
    clickFrameBase_ = framesRead_;
    clickOnsets_.clear();
    clickTimesHeard_.clear();
    clickTimes_.clear();
    clicksSent_ = 0;
    // The first click after the input has run a while: a fresh input dates its first frames
    // from the device's first timing reports, which take a second or so to settle.
    firstClickDue_ = app.stepTimer.seconds() + 1.5;
    latency_ = LatencyCheck{};
    latency_.clicks = checkClicks;
    latency_.reportedOutputMs = audio::heardDelay(app.audioSystem) * 1000.0;
    latency_.appliedMs = choices.headphones ? 0.0 : choices.inputOffset * 1000.0;
    latency_.reportedInputMs = audio::captureInfo(app.audioSystem).latency * 1000.0;
    latencyChecked_ = true;
    return true;
}

void Listening::sendClicks(TutorApp& app) {
    // Each click is handed over shortly before it is due, stamped with its due time as the
    // playback thread stamps strokes, and is heard one output latency after it; nothing
    // else plays meanwhile.
    const double now = app.stepTimer.seconds();
    while (clicksSent_ < checkClicks) {
        const double due = firstClickDue_ + clicksSent_ * clickSpacing;
        if (due > now + 0.05) break;
        audio::stampNextStart(app.audioSystem, now - due);
        audio::Sound* click = clicksSent_ == 0 && app.accentClick ? app.accentClick : app.clickSlot.sound;
        app.audioSystem->playSound(audio::ChannelReuse, click, false, &app.clickSlot.channel);
        clickTimes_.push_back(due + audio::heardDelay(app.audioSystem));
        ++clicksSent_;
    }
}

bool Listening::latencyCheckDone(LatencyCheck& result) {
    if (!resultReady_ || mode_ != Mode::Idle || !latencyChecked_) return false;
    resultReady_ = false;
    latencyChecked_ = false;
    result = latency_;
    return true;
}

std::string Listening::progressText() const {
    if (mode_ == Mode::Calibrating) {
        const int heard = std::min(strokesHeard_, calibrationStrokes);
        const char* kind = heard < 4 ? "doums" : heard < 8 ? "teks" : "slaps";
        return "Play four " + std::string(kind) + "  heard " + std::to_string(heard) + " of 12";
    }
    if (mode_ == Mode::CheckingLatency) return "Measuring the sound delay";
    return {};
}
