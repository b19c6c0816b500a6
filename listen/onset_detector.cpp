#include "listen/onset_detector.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "listen/fft.h"

namespace {

constexpr int frameSize = 1024;
constexpr int hop = 256;
constexpr int bins = frameSize / 2 + 1;
// Flux is taken over bands a third of an octave wide (one bin at least, up to 16 kHz at
// 48 kHz), so a doum's few low bins weigh as much as a slap's many high ones.
constexpr int maxBands = 40;
constexpr int historySize = 8192;  // samples kept for the frames and the placing of onsets
constexpr int historyMask = historySize - 1;
// The first frames reach back before the stream began; measuring starts with the first
// frame wholly inside it, so the start of the stream is no onset.
constexpr int warmUpFrames = frameSize / hop;
constexpr int medianFrames = 48;   // about a quarter of a second of flux behind each frame

// Per-bin noise floor, followed in decibels: down quickly when a bin falls under it, up
// slowly (about 10 dB a second at 48 kHz) while it stays over, so it settles near a low
// percentile of what the bin holds between strokes and strokes themselves barely lift it.
constexpr float floorFall = 0.891f;   // -0.5 dB in power
constexpr float floorRise = 1.0116f;  // +0.05 dB
// Magnitudes are compressed relative to a few times that floor, so the noise's own frame to
// frame wobble makes little flux while anything standing out of it makes much.
constexpr float floorScale = 4.f;
// Clean digital input has no noise to follow, so the floor is kept over an absolute level
// (per bin, 10 dB over the rounding noise of 16-bit samples; real rooms sit far above it)
// and over what the strokes before still mask: a bin's power this far under the loudest bin
// heard lately, that loudness falling at maskFallDbPerSecond. Without them the bins far above
// a doum's partials, holding only their leakage some 80 dB under them, wobble by several
// decibels as the partials beat and glide, and each wobble reads as a stroke.
constexpr float absoluteFloorPerBin = 1e-12f;  // -120 dB against a full-scale sine's 0.25
constexpr float maskDepth = 1e-6f;              // -60 dB
constexpr double maskFallDbPerSecond = 60.0;
// A peak counts when it is this far over the median of the flux before it, and over the floor.
constexpr float thresholdMargin = 0.07f;
constexpr float thresholdFloor = 0.08f;
// Room noise in a band a bin or two wide swings by 15 dB and more from frame to frame, and
// now and then several such bands at the bottom of the spectrum swing up together by chance:
// flux enough for a peak, in a silent room. So a peak also needs some of its rise to stand
// over what the noise itself reaches: per band, the floor (about the noise's 9th percentile)
// raised to the noise's 99th percentile for the band's width, that noise's power being
// chi-square with about 4/3 degrees of freedom a bin under the Hann window. A stroke rises
// far over it in many bands; the noise's own swings reach it only in rare frames and bands.
constexpr double floorPercentileZ = -1.335;  // where the floor settles, as a normal quantile
constexpr double noiseTopZ = 2.33;           // the 99th percentile
constexpr double noiseDofPerBin = 4.0 / 3.0;
constexpr float clearFluxFloor = 0.01f;

// Placing an onset: the attack's loudest stretch of this many samples ends the search.
constexpr int shortWindow = 24;

// A stream that opens on a stroke (a rendered take, a test's) has no quiet before it to rise
// from, and one that opens on room noise looks the same for the first frames. The sound at
// the start is taken for a stroke once at least half the bands have fallen startDrop under
// it, as a struck drum's contact noise does within a few tens of milliseconds and steady
// noise never does; it is dropped if that has not happened startVerdictSeconds in or when
// another onset comes first.
constexpr float startDrop = 0.0316f;  // -15 dB
constexpr double startVerdictSeconds = 0.2;

}  // namespace

struct OnsetDetector::State {
    OnsetSettings settings;
    int64_t minGap = 0;
    RealFft fft{frameSize};
    std::array<float, frameSize> hann{};
    std::array<float, historySize> history{};
    std::array<float, frameSize> frame{};
    std::array<float, bins> power{};
    std::array<int, maxBands + 1> bandEdge{};  // band b holds bins [bandEdge[b], bandEdge[b+1])
    int bandCount = 0;
    std::array<float, maxBands> floorPower{};
    std::array<float, maxBands> noiseTop{};  // the noise's top over its floor, per band
    std::array<float, maxBands> previous{};  // band powers of the frame before
    std::array<float, maxBands> before{};    // scratch: those compressed as this frame's are
    float maskPerBin = 0.f;                  // what the strokes before mask, per bin
    float maskFall = 1.f;                    // its fall per frame
    std::array<float, medianFrames> fluxHistory{};
    std::array<float, medianFrames> medianScratch{};
    std::array<double, 2 * frameSize> prefix{};  // running sums of squares for the envelopes
    std::array<double, 2 * frameSize> prefixHigh{};  // and of the first difference

    int64_t fed = 0;
    int64_t frames = 0;        // frames measured; frame k ends at sample (k + 1) * hop
    float flux[3] = {0, 0, 0};       // flux of frames k-2, k-1, k
    float clearFlux[3] = {0, 0, 0};  // the part of it over the noise's top
    float threshold[3] = {0, 0, 0};  // and their thresholds
    int64_t lastOnset = -(int64_t{1} << 40);

    // The stream's opening sound, while it is not yet known whether it was a stroke.
    bool startPending = false;
    Onset start;
    std::array<float, maxBands> startPower{};  // the opening frames' loudest, per band
    std::array<float, maxBands> startLeast{};  // and the least since

    explicit State(const OnsetSettings& s) : settings(s) {
        const double pi = std::acos(-1.0);
        for (int i = 0; i < frameSize; ++i)
            hann[i] = float(0.5 - 0.5 * std::cos(2.0 * pi * (i + 0.5) / frameSize));
        minGap = int64_t(std::llround(settings.minGapSeconds * settings.rate));
        int edge = 1;
        while (bandCount < maxBands && edge < bins - 1) {
            bandEdge[bandCount++] = edge;
            edge = std::max(edge + 1, int(std::lround(edge * 1.26)));
        }
        bandEdge[bandCount] = std::min(edge, bins - 1);
        for (int b = 0; b < bandCount; ++b) {
            // Wilson and Hilferty's cube-root normal approximation of the chi-square quantiles.
            const double dof = std::max(2.0, noiseDofPerBin * (bandEdge[b + 1] - bandEdge[b]));
            const double c = 2.0 / (9.0 * dof);
            const auto quantile = [c](double z) { return std::pow(std::max(1e-3, 1.0 - c + z * std::sqrt(c)), 3.0); };
            noiseTop[b] = float(quantile(noiseTopZ) / quantile(floorPercentileZ));
        }
        maskFall = float(std::pow(10.0, -maskFallDbPerSecond * hop / settings.rate / 10.0));
    }

    float sampleAt(int64_t index) const { return index < 0 ? 0.f : history[index & historyMask]; }

    void measureFrame(std::vector<Onset>& found);
    float thresholdNow() const;
    void place(int64_t peakEnd, float strength, std::vector<Onset>& found);
    bool split(int64_t base, int span, int64_t& onset);
    void judgeStart(const std::array<float, maxBands>& power, std::vector<Onset>& found);
    void settleStart(bool stroke, std::vector<Onset>& found);
    int bestSplit(const std::array<double, 2 * frameSize>& sums, int span, double& contrast) const;
};

float OnsetDetector::State::thresholdNow() const {
    const int count = int(std::min<int64_t>(frames, medianFrames));
    if (count == 0) return thresholdFloor;
    auto scratch = medianScratch;
    std::copy_n(fluxHistory.begin(), count, scratch.begin());
    std::nth_element(scratch.begin(), scratch.begin() + count / 2, scratch.begin() + count);
    return std::max(thresholdFloor, scratch[count / 2] + thresholdMargin);
}

void OnsetDetector::State::measureFrame(std::vector<Onset>& found) {
    const int64_t end = (frames + 1) * hop;
    for (int i = 0; i < frameSize; ++i) frame[i] = sampleAt(end - frameSize + i) * hann[i];
    fft.power(frame.data(), power.data());

    // Powers scaled so a full-scale sine's peak bin is about 0.25.
    constexpr float scale = 1.f / (0.25f * frameSize * frameSize);
    constexpr float tiny = 1e-16f;  // -160 dB: digital silence still has a floor
    const auto compress = [](float p, float ref) { return std::log1p(std::sqrt(p / ref) / floorScale); };
    std::array<float, maxBands> now{}, bandPower{}, top{};
    float loudestPerBin = 0.f;
    for (int b = 0; b < bandCount; ++b) {
        float sum = 0.f;
        for (int i = bandEdge[b]; i < bandEdge[b + 1]; ++i) sum += power[i];
        const float width = float(bandEdge[b + 1] - bandEdge[b]);
        const float p = std::max(tiny, sum * scale);
        bandPower[b] = p;
        loudestPerBin = std::max(loudestPerBin, p / width);
        float& floor = floorPower[b];
        if (frames < warmUpFrames) floor = p;
        floor = p < floor ? std::max(p, floor * floorFall) : floor * floorRise;
        // This frame and the one before against the same reference, so a moving floor or
        // mask makes no flux of its own.
        const float ref = std::max({floor, width * absoluteFloorPerBin, width * maskPerBin});
        now[b] = compress(p, ref);
        before[b] = compress(previous[b], ref);
        top[b] = compress(floor * noiseTop[b], ref);
    }
    maskPerBin = std::max(maskPerBin * maskFall, loudestPerBin * maskDepth);
    // A band's rise counts over the loudest of it and its neighbours in the frame before, so
    // the beating of a decaying tail (a doum's low bins, a room's reverberation) makes little
    // flux while a new attack, rising in every band at once, makes as much as ever.
    float sum = 0.f, clearSum = 0.f;
    for (int b = 0; b < bandCount && frames >= warmUpFrames; ++b) {
        float was = before[b];
        if (b > 0) was = std::max(was, before[b - 1]);
        if (b + 1 < bandCount) was = std::max(was, before[b + 1]);
        sum += std::max(0.f, now[b] - was);
        clearSum += std::max(0.f, now[b] - std::max(was, top[b]));
    }
    previous = bandPower;
    const float thisFlux = sum / float(bandCount);

    flux[0] = flux[1];
    flux[1] = flux[2];
    flux[2] = thisFlux;
    clearFlux[0] = clearFlux[1];
    clearFlux[1] = clearFlux[2];
    clearFlux[2] = clearSum / float(bandCount);
    threshold[0] = threshold[1];
    threshold[1] = threshold[2];
    threshold[2] = thresholdNow();
    fluxHistory[frames % medianFrames] = thisFlux;
    ++frames;

    judgeStart(bandPower, found);
    // The frame before this one is an onset's frame if it rose over its threshold and over
    // both neighbours, and not only within the noise's own swings.
    if (frames >= warmUpFrames + 3 && flux[1] > threshold[1] && flux[1] > flux[0] && flux[1] >= flux[2] &&
        clearFlux[1] > clearFluxFloor)
        place(end - hop, flux[1] / threshold[1], found);
}

// The opening frames (the first wholly inside the stream and the two after) give the start's
// loudness; from then on it is watched for the fall that tells a stroke.
void OnsetDetector::State::judgeStart(const std::array<float, maxBands>& power, std::vector<Onset>& found) {
    const int64_t measured = frames - 1;
    if (measured < warmUpFrames - 1 || measured > warmUpFrames + 1 + int64_t(startVerdictSeconds * settings.rate) / hop)
        return;
    if (measured <= warmUpFrames + 1) {
        for (int b = 0; b < bandCount; ++b)
            startPower[b] = measured == warmUpFrames - 1 ? power[b] : std::max(startPower[b], power[b]);
        if (measured < warmUpFrames + 1) return;
        // Something must stand out of digital silence for there to be a stroke at all.
        float loudness = 0.f;
        bool audible = false;
        for (int b = 0; b < bandCount; ++b) {
            const float floor = float(bandEdge[b + 1] - bandEdge[b]) * absoluteFloorPerBin;
            audible |= startPower[b] > 1000.f * floor;
            loudness += std::log1p(std::sqrt(startPower[b] / floor) / floorScale);
        }
        int64_t onset = 0;
        if (!audible || !split(-64, int(std::min<int64_t>(fed, frameSize + 2 * hop)) + 64, onset)) return;
        start = Onset{onset, std::max(1.f, loudness / float(bandCount) / thresholdFloor)};
        startLeast = startPower;
        startPending = true;
        return;
    }
    if (!startPending) return;
    int fallen = 0;
    for (int b = 0; b < bandCount; ++b) {
        startLeast[b] = std::min(startLeast[b], power[b]);
        fallen += startLeast[b] < startPower[b] * startDrop;
    }
    if (2 * fallen >= bandCount) settleStart(true, found);
    else if (measured == warmUpFrames + 1 + int64_t(startVerdictSeconds * settings.rate) / hop) settleStart(false, found);
}

void OnsetDetector::State::settleStart(bool stroke, std::vector<Onset>& found) {
    if (!startPending) return;
    startPending = false;
    if (!stroke) return;
    lastOnset = start.frame;
    found.push_back(start);
}

// Puts the onset of the attack that peaked in the frame ending at peakEnd to the sample. The
// loudest short stretch in that frame (or in the hop after it) is the attack; the onset is
// where the stretch from the frame's start up to it splits best into a quiet part and a loud
// part (the least total of each part's length times the log of its mean square). That finds a
// sharp attack to the sample and a slow one where its rise begins, and it is not fooled by
// the zero crossings of a low doum as a threshold on an envelope would be.
// The best split of samples [0, span) whose running sums of squares are sums, searched up
// to the loudest short stretch; contrast is how much louder the loud part is.
int OnsetDetector::State::bestSplit(const std::array<double, 2 * frameSize>& sums, int span,
                                    double& contrast) const {
    int loudest = 0;
    double loudestLevel = -1.0;
    for (int i = 0; i + shortWindow <= span; ++i) {
        const double level = sums[i + shortWindow] - sums[i];
        if (level > loudestLevel) loudestLevel = level, loudest = i;
    }
    const int last = std::min(span, loudest + shortWindow);
    int split = loudest;
    double best = 1e300;
    contrast = 0.0;
    for (int k = 8; k < last - 8; ++k) {
        const double quiet = sums[k] / double(k) + 1e-20;
        const double loud = (sums[last] - sums[k]) / double(last - k) + 1e-20;
        const double cost = double(k) * std::log(quiet) + double(last - k) * std::log(loud);
        if (cost < best) best = cost, split = k, contrast = loud / quiet;
    }
    return split;
}

// The onset in samples [base, base + span): the best split of the signal or of its first
// difference, whichever parts the louder attack from what came before. False if the stretch
// is too short to tell.
bool OnsetDetector::State::split(int64_t base, int span, int64_t& onset) {
    if (span <= 4 * shortWindow) return false;
    prefix[0] = 0.0;
    prefixHigh[0] = 0.0;
    for (int i = 0; i < span; ++i) {
        const float x = sampleAt(base + i);
        const float change = x - sampleAt(base + i - 1);
        prefix[i + 1] = prefix[i] + double(x) * x;
        prefixHigh[i + 1] = prefixHigh[i] + double(change) * change;
    }
    int best = 0;
    double contrast = 0.0;
    for (const auto* sums : {&prefix, &prefixHigh}) {
        double splitContrast = 0.0;
        const int at = bestSplit(*sums, span, splitContrast);
        if (splitContrast > contrast) contrast = splitContrast, best = at;
    }
    onset = base + best;
    return true;
}

void OnsetDetector::State::place(int64_t peakEnd, float strength, std::vector<Onset>& found) {
    // Onsets come in order: a start still in doubt is no stroke.
    settleStart(false, found);
    const int64_t base = std::max<int64_t>({0, peakEnd - frameSize, lastOnset + minGap / 2});
    int64_t frame = 0;
    if (!split(base, int(std::min<int64_t>(fed, peakEnd + hop) - base), frame)) return;
    if (frame - lastOnset < minGap) return;
    lastOnset = frame;
    found.push_back(Onset{frame, strength});
}

OnsetDetector::OnsetDetector(const OnsetSettings& settings)
    : state_(std::make_unique<State>(settings)) {}
OnsetDetector::~OnsetDetector() = default;
OnsetDetector::OnsetDetector(OnsetDetector&&) noexcept = default;
OnsetDetector& OnsetDetector::operator=(OnsetDetector&&) noexcept = default;

void OnsetDetector::feed(const float* mono, std::size_t count, std::vector<Onset>& found) {
    State& s = *state_;
    for (std::size_t i = 0; i < count; ++i) {
        s.history[s.fed & historyMask] = mono[i];
        ++s.fed;
        if (s.fed == (s.frames + 1) * hop) s.measureFrame(found);
    }
}

void OnsetDetector::flush(std::vector<Onset>& found) {
    // Silence after the end lets the last peaks be confirmed and placed; onsets in it are not
    // the stream's.
    State& s = *state_;
    const int64_t end = s.fed;
    s.settleStart(false, found);  // the silence would make any start fall away
    const std::size_t before = found.size();
    static const std::array<float, hop> silence{};
    for (int i = 0; i < frameSize / hop + 2; ++i) feed(silence.data(), silence.size(), found);
    while (found.size() > before && found.back().frame >= end) found.pop_back();
    s.fed = end;
}

// The onset lies in its peak frame, which is confirmed a hop after it ends.
int64_t OnsetDetector::latencyFrames() const { return frameSize + hop; }

int64_t OnsetDetector::framesFed() const { return state_->fed; }

void OnsetDetector::reset() { state_ = std::make_unique<State>(state_->settings); }
