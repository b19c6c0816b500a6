// Synthetic microphone takes with known truth, from the shipped rhythms and samples.
#include "bench/listen_take_builder.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>
#include <random>

#include "rhythm/rhythm_file.h"

namespace {

using Complex = std::complex<float>;

// In-place radix-2 transform; size a power of two. The takes are convolved once each, so
// the twiddles are simply worked out per call.
void fft(std::vector<Complex>& data, bool inverse) {
    const std::size_t n = data.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(data[i], data[j]);
    }
    std::vector<Complex> twiddles(n / 2);
    for (std::size_t k = 0; k < n / 2; ++k) {
        double angle = (inverse ? 2.0 : -2.0) * std::numbers::pi * double(k) / double(n);
        twiddles[k] = {float(std::cos(angle)), float(std::sin(angle))};
    }
    for (std::size_t half = 1; half < n; half *= 2) {
        const std::size_t stride = n / (2 * half);
        for (std::size_t start = 0; start < n; start += 2 * half)
            for (std::size_t k = 0; k < half; ++k) {
                const Complex odd = data[start + k + half] * twiddles[k * stride];
                data[start + k + half] = data[start + k] - odd;
                data[start + k] += odd;
            }
    }
    if (inverse)
        for (Complex& c : data) c /= float(n);
}

// signal * response, as long as signal (what rings on past its end is cut), by overlap-add.
std::vector<float> convolve(const std::vector<float>& signal, const std::vector<float>& response) {
    std::size_t size = 1;
    while (size < 2 * response.size()) size *= 2;
    const std::size_t hop = size - response.size() + 1;
    std::vector<Complex> shape(size), part(size);
    std::copy(response.begin(), response.end(), shape.begin());
    fft(shape, false);
    std::vector<float> out(signal.size(), 0.f);
    for (std::size_t at = 0; at < signal.size(); at += hop) {
        std::fill(part.begin(), part.end(), Complex{});
        const std::size_t n = std::min(hop, signal.size() - at);
        for (std::size_t i = 0; i < n; ++i) part[i] = signal[at + i];
        fft(part, false);
        for (std::size_t k = 0; k < size; ++k) part[k] *= shape[k];
        fft(part, true);
        for (std::size_t i = 0; i < size && at + i < out.size(); ++i) out[at + i] += part[i].real();
    }
    return out;
}

// RBJ cookbook biquad: 'l'ow-pass, 'h'igh-pass or 'b'and-pass (constant peak gain).
std::vector<float> biquad(const std::vector<float>& x, char kind, double freq, double q, int rate) {
    const double w0 = 2 * std::numbers::pi * freq / rate;
    const double alpha = std::sin(w0) / (2 * q), c = std::cos(w0);
    double b[3];
    if (kind == 'l') b[0] = (1 - c) / 2, b[1] = 1 - c, b[2] = (1 - c) / 2;
    else if (kind == 'h') b[0] = (1 + c) / 2, b[1] = -(1 + c), b[2] = (1 + c) / 2;
    else b[0] = alpha, b[1] = 0, b[2] = -alpha;
    const double a0 = 1 + alpha, a1 = -2 * c / a0, a2 = (1 - alpha) / a0;
    for (double& v : b) v /= a0;
    std::vector<float> y(x.size());
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double yi = b[0] * x[i] + b[1] * x1 + b[2] * x2 - a1 * y1 - a2 * y2;
        x2 = x1, x1 = x[i], y2 = y1, y1 = yi;
        y[i] = float(yi);
    }
    return y;
}

double meanSquare(const std::vector<float>& x, std::size_t from, std::size_t to) {
    to = std::min(to, x.size());
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += double(x[i]) * x[i];
    return to > from ? sum / double(to - from) : 0.0;
}

// A room heard from one spot: the direct sound after delaySeconds, six early reflections in
// the next 20 ms, and a diffuse tail of decaying noise holding reverbShare of the direct
// sound's energy. A loudspeaker's small cone is a high-pass at highPassHz (0 for none).
std::vector<float> roomResponse(int rate, double rt60, double reverbShare, double delaySeconds,
                                double highPassHz, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<float> noise(0.f, 1.f);
    const auto delay = static_cast<std::size_t>(delaySeconds * rate);
    std::vector<float> h(delay + static_cast<std::size_t>(rt60 * rate), 0.f);
    h[delay] = 1.f;
    for (int r = 0; r < 6; ++r) {
        const auto at = delay + static_cast<std::size_t>((0.001 + 0.019 * unit(random)) * rate);
        h[at] += float((unit(random) < 0.5 ? -1 : 1) * (0.15 + 0.3 * unit(random)));
    }
    std::vector<float> tail(h.size(), 0.f);
    const auto start = delay + static_cast<std::size_t>(0.005 * rate);
    for (std::size_t i = start; i < tail.size(); ++i) {
        const double t = double(i - delay) / rate;
        // A gentle low-pass on the tail: walls take the highs first.
        tail[i] = noise(random) * float(std::exp(-6.9078 * t / rt60));
    }
    tail = biquad(tail, 'l', 5000, 0.7, rate);
    const double tailEnergy = meanSquare(tail, 0, tail.size()) * double(tail.size());
    const float scale = float(std::sqrt(reverbShare / tailEnergy));
    for (std::size_t i = 0; i < h.size(); ++i) h[i] += tail[i] * scale;
    if (highPassHz > 0) h = biquad(h, 'h', highPassHz, 0.7, rate);
    return h;
}

// Pink room noise (Paul Kellet's three-pole approximation), unit mean square.
std::vector<float> roomNoise(std::size_t frames, uint32_t seed) {
    std::mt19937 random(seed);
    std::normal_distribution<float> white(0.f, 1.f);
    std::vector<float> out(frames);
    float b0 = 0, b1 = 0, b2 = 0;
    for (float& v : out) {
        const float w = white(random);
        b0 = 0.99765f * b0 + w * 0.0990460f;
        b1 = 0.96300f * b1 + w * 0.2965164f;
        b2 = 0.57000f * b2 + w * 1.0526913f;
        v = b0 + b1 + b2 + w * 0.1848f;
    }
    const float scale = float(1.0 / std::sqrt(meanSquare(out, 0, out.size())));
    for (float& v : out) v *= scale;
    return out;
}

std::vector<float> resample(const std::vector<float>& in, int from, int to) {
    if (from == to) return in;
    const double ratio = double(to) / from;
    std::vector<float> out(static_cast<std::size_t>(std::ceil(in.size() * ratio)) + 16);
    SRC_DATA data{};
    data.data_in = in.data();
    data.input_frames = long(in.size());
    data.data_out = out.data();
    data.output_frames = long(out.size());
    data.src_ratio = ratio;
    if (src_simple(&data, SRC_SINC_BEST_QUALITY, 1) != 0) return {};
    out.resize(std::size_t(data.output_frames_gen));
    return out;
}

// Struck-membrane modes: a sinusoid gliding from start to end hertz, decaying.
void addMode(std::vector<float>& x, int rate, double start, double end, double glide,
             double decay, double amp, double phase) {
    double ph = phase;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = double(i) / rate;
        const double f = end + (start - end) * std::exp(-t / glide);
        ph += 2 * std::numbers::pi * f / rate;
        x[i] += float(amp * std::exp(-t / decay) * std::sin(ph));
    }
}

// Filtered noise burst for the hand's contact.
void addBurst(std::vector<float>& x, int rate, std::mt19937& random, char kind, double freq,
              double q, double decay, double amp) {
    std::normal_distribution<float> noise(0.f, 1.f);
    std::vector<float> n(x.size());
    for (float& v : n) v = noise(random);
    n = biquad(n, kind, freq, q, rate);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] += float(amp * std::exp(-double(i) / rate / decay)) * n[i];
}

// A short attack ramp, a fade at the end, and the peak at -3 dBFS as the shipped samples.
void finish(std::vector<float>& x, int rate, double rampMs) {
    const double ramp = rampMs / 1000 * rate, fade = 0.02 * rate;
    float peak = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] *= float(std::min(1.0, i / ramp) * std::min(1.0, (x.size() - i) / fade));
        peak = std::max(peak, std::fabs(x[i]));
    }
    for (float& v : x) v *= 0.7079f / peak;
}

}  // namespace

bool loadShippedKit(const std::string& soundFontDir, int rate, DrumKit& kit, std::string& error) {
    const std::pair<const char*, std::vector<float>*> files[] = {
        {"doumBackClipped.wav", &kit.doum}, {"tek_front.wav", &kit.tek},
        {"half_tek_front.wav", &kit.halfTek}, {"slap_front.wav", &kit.slap}};
    for (const auto& [name, samples] : files) {
        const std::string path = soundFontDir + "/" + name;
        SF_INFO info{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        if (!file) {
            error = path + ": " + sf_strerror(nullptr);
            return false;
        }
        std::vector<float> frames(std::size_t(info.frames) * info.channels);
        sf_readf_float(file, frames.data(), info.frames);
        sf_close(file);
        std::vector<float> mono(std::size_t(info.frames));
        for (std::size_t i = 0; i < mono.size(); ++i)
            for (int c = 0; c < info.channels; ++c) mono[i] += frames[i * info.channels + c] / info.channels;
        *samples = resample(mono, info.samplerate, rate);
        if (samples->empty()) {
            error = path + ": could not be resampled";
            return false;
        }
    }
    return true;
}

DrumKit makeOtherKit(int rate) {
    std::mt19937 random(4242);
    DrumKit kit;
    auto length = [rate](double s) { return std::vector<float>(std::size_t(s * rate), 0.f); };

    kit.doum = length(0.65);
    addMode(kit.doum, rate, 78, 58, 0.05, 0.26, 1.0, 0.0);
    addMode(kit.doum, rate, 78 * 1.59, 58 * 1.59, 0.05, 0.12, 0.25, 0.5);
    addMode(kit.doum, rate, 78 * 2.14, 58 * 2.14, 0.05, 0.07, 0.15, 1.1);
    addMode(kit.doum, rate, 240, 235, 0.05, 0.05, 0.12, 0.3);
    addBurst(kit.doum, rate, random, 'l', 600, 0.7, 0.008, 0.6);
    finish(kit.doum, rate, 0.4);

    kit.tek = length(0.25);
    addBurst(kit.tek, rate, random, 'h', 1500, 0.7, 0.0018, 0.35);
    addMode(kit.tek, rate, 880, 860, 0.01, 0.030, 0.35, 0.0);
    addMode(kit.tek, rate, 1720, 1700, 0.01, 0.045, 0.45, 0.7);
    addMode(kit.tek, rate, 2580, 2560, 0.01, 0.030, 0.30, 1.9);
    addMode(kit.tek, rate, 3900, 3880, 0.01, 0.020, 0.12, 0.2);
    addMode(kit.tek, rate, 340, 330, 0.02, 0.025, 0.20, 0.4);
    kit.tek = biquad(kit.tek, 'l', 4500, 0.7, rate);
    finish(kit.tek, rate, 0.2);

    kit.halfTek = length(0.16);
    addBurst(kit.halfTek, rate, random, 'b', 1600, 0.8, 0.0015, 0.3);
    addMode(kit.halfTek, rate, 760, 750, 0.01, 0.018, 0.35, 0.0);
    addMode(kit.halfTek, rate, 1450, 1440, 0.01, 0.020, 0.40, 0.9);
    addMode(kit.halfTek, rate, 2250, 2240, 0.01, 0.015, 0.20, 1.7);
    addMode(kit.halfTek, rate, 320, 310, 0.02, 0.018, 0.20, 0.6);
    finish(kit.halfTek, rate, 0.3);

    kit.slap = length(0.45);
    addBurst(kit.slap, rate, random, 'b', 1300, 0.7, 0.015, 1.2);
    addBurst(kit.slap, rate, random, 'h', 3000, 0.7, 0.004, 0.3);
    addMode(kit.slap, rate, 110, 100, 0.03, 0.12, 0.40, 0.0);
    addMode(kit.slap, rate, 280, 270, 0.02, 0.10, 0.45, 0.4);
    addMode(kit.slap, rate, 450, 440, 0.02, 0.09, 0.40, 1.2);
    addMode(kit.slap, rate, 680, 670, 0.02, 0.07, 0.30, 2.2);
    addMode(kit.slap, rate, 1050, 1040, 0.02, 0.05, 0.20, 0.8);
    addMode(kit.slap, rate, 1700, 1690, 0.02, 0.04, 0.12, 1.5);
    finish(kit.slap, rate, 0.2);
    return kit;
}

const std::vector<float>& soundOf(const DrumKit& kit, StepSound sound) {
    switch (sound) {
        case StepSound::Doum: return kit.doum;
        case StepSound::HalfTek: return kit.halfTek;
        case StepSound::Slap: return kit.slap;
        default: return kit.tek;
    }
}

bool loadPattern(const std::string& path, Pattern& pattern, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = path + ": cannot open";
        return false;
    }
    RhythmText text;
    ReadProblem problem;
    const bool ok = readRhythmText(file, path.c_str(), text, problem);
    std::fclose(file);
    if (!ok) {
        error = problem.text;
        return false;
    }
    const std::size_t slash = path.find_last_of('/');
    pattern.name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    pattern.name = pattern.name.substr(0, pattern.name.find('.'));
    pattern.stepSeconds = stepTimeFor(text.tempo, text.subdivision);
    pattern.steps.clear();
    for (char c : text.notation) pattern.steps.push_back(notationSymbol(c).sound);
    return true;
}

Pattern calibrationPattern() {
    Pattern p;
    p.name = "calibration";
    p.stepSeconds = 0.7;
    for (StepSound s : {StepSound::Doum, StepSound::Tek, StepSound::Slap})
        for (int i = 0; i < 4; ++i) p.steps.push_back(s);
    return p;
}

Take buildTake(const Pattern& pattern, const DrumKit& learner, const DrumKit& tutor,
               const TakePlan& plan, int rate) {
    Take take;
    std::mt19937 random(plan.seed);
    std::normal_distribution<double> offset(0.0, plan.offsetSdMs / 1000.0);
    std::uniform_real_distribution<double> gainDb(-plan.gainRangeDb, plan.gainRangeDb);

    const double cycleSeconds = pattern.stepSeconds * double(pattern.steps.size());
    const int playCycles = std::max(1, int(std::ceil(plan.minSeconds / cycleSeconds)));
    const int listen = plan.leak ? plan.listenCycles : 0;
    const double start = plan.leadSeconds;
    const double end = start + (listen + playCycles) * cycleSeconds + plan.tailSeconds;
    const auto frames = static_cast<std::size_t>(end * rate) + 1;

    // The learner, dry: a stroke rings on under the next, as on a real head.
    std::vector<float> dry(frames, 0.f);
    for (int cycle = listen; cycle < listen + playCycles; ++cycle)
        for (std::size_t step = 0; step < pattern.steps.size(); ++step) {
            const auto kind = strokeKindOf(pattern.steps[step]);
            if (!kind) continue;
            const double t = start + (cycle * double(pattern.steps.size()) + double(step)) *
                                         pattern.stepSeconds + offset(random);
            const auto at = static_cast<int64_t>(std::llround(std::max(0.0, t) * rate));
            const float gain = 0.5f * float(std::pow(10.0, gainDb(random) / 20));
            const std::vector<float>& sound = soundOf(learner, pattern.steps[step]);
            for (std::size_t i = 0; i < sound.size() && at + int64_t(i) < int64_t(frames); ++i)
                dry[std::size_t(at) + i] += gain * sound[i];
            take.truth.push_back({at, *kind});
        }
    take.scoredFrom = std::llround(
        (start + (listen * double(pattern.steps.size()) - 0.5) * pattern.stepSeconds) * rate);
    std::sort(take.truth.begin(), take.truth.end(),
              [](const TrueStroke& a, const TrueStroke& b) { return a.frame < b.frame; });
    if (!take.truth.empty())
        take.playedSeconds = double(take.truth.back().frame - take.truth.front().frame) / rate;

    const uint32_t roomSeed = 1000u + uint32_t(plan.rt60 * 1000);
    take.learner = convolve(dry, roomResponse(rate, plan.rt60, 0.5 * plan.rt60 / 0.3, 0.0, 0.0, roomSeed));
    // Levels are set against the learner's playing, from their first stroke to their last.
    const std::size_t from = take.truth.empty() ? 0 : std::size_t(take.truth.front().frame);
    const std::size_t to = take.truth.empty() ? frames : std::size_t(take.truth.back().frame) + rate / 4;
    const double power = meanSquare(take.learner, from, to);

    if (plan.leak) {
        // The tutor: the exact grid, one voice per sound, a new start cutting off the last
        // one on its voice after a 2 ms fade.
        take.reference.assign(frames, 0.f);
        const StepSound voices[] = {StepSound::Doum, StepSound::Tek, StepSound::HalfTek, StepSound::Slap};
        const auto fade = static_cast<std::size_t>(0.002 * rate);
        for (StepSound voice : voices) {
            std::vector<int64_t> starts;
            for (int cycle = 0; cycle < listen + playCycles; ++cycle)
                for (std::size_t step = 0; step < pattern.steps.size(); ++step)
                    if (pattern.steps[step] == voice)
                        starts.push_back(std::llround(
                            (start + (cycle * double(pattern.steps.size()) + double(step)) *
                                         pattern.stepSeconds) * rate));
            const std::vector<float>& sound = soundOf(tutor, voice);
            for (std::size_t s = 0; s < starts.size(); ++s) {
                const int64_t next = s + 1 < starts.size() ? starts[s + 1] : int64_t(frames);
                for (std::size_t i = 0; i < sound.size(); ++i) {
                    const int64_t at = starts[s] + int64_t(i);
                    if (at >= int64_t(frames) || at >= next + int64_t(fade)) break;
                    const float cut = at < next ? 1.f : float(next + int64_t(fade) - at) / float(fade);
                    take.reference[std::size_t(at)] += 0.5f * cut * sound[i];
                }
            }
        }
        take.leak = convolve(
            take.reference, roomResponse(rate, plan.rt60, plan.rt60 / 0.3, 0.0035, 200.0, roomSeed + 7));
        const float scale = float(std::sqrt(power * std::pow(10.0, plan.leakDb / 10) /
                                            std::max(1e-20, meanSquare(take.leak, from, to))));
        for (float& v : take.leak) v *= scale;
    }

    take.noise = roomNoise(frames, plan.seed * 7919u + 13u);
    const float noiseScale = float(std::sqrt(power));
    for (float& v : take.noise) v *= noiseScale;
    return take;
}

std::vector<float> Take::micAt(double snrDb) const {
    std::vector<float> mic = learner;
    const float noiseGain = float(std::pow(10.0, -snrDb / 20));
    for (std::size_t i = 0; i < mic.size(); ++i) {
        mic[i] += noiseGain * noise[i];
        if (!leak.empty()) mic[i] += leak[i];
    }
    return mic;
}
