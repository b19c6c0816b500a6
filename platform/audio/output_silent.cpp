#include "output_silent.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <system_error>

#include "clock.h"

namespace audio {

SilentOutput::SilentOutput(RenderTarget target, int rate, int blockFrames)
    : target_(target), rate_(rate), blockFrames_(blockFrames) {}

SilentOutput::~SilentOutput() {
    stop();
    delete claimCapture();
}

Result SilentOutput::start() {
    if (running_.load()) return Ok;
    try {
        block_.assign(static_cast<std::size_t>(blockFrames_) * 2, 0.0f);
        running_.store(true);
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        running_.store(false);
        return ErrOutputInit;
    } catch (const std::bad_alloc&) {
        running_.store(false);
        return ErrMemory;
    }
    return Ok;
}

void SilentOutput::stop() {
    running_.store(false);
    if (thread_.joinable()) thread_.join();
}

void SilentOutput::run() {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const double startSeconds = steadySeconds();
    const double blockSeconds = static_cast<double>(blockFrames_) / rate_;
    for (long long k = 0; running_.load(std::memory_order_relaxed); ++k) {
        const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(k * blockSeconds));
        std::this_thread::sleep_until(due);
        float* out = block_.data();
        // Block k belongs to its due time, as on a sound card that takes it then; the time
        // this thread happened to wake adds only scheduling noise. A replacement clock has
        // no known relation to the schedule, so it is read as it is.
        const double now = clockIsSteady() ? startSeconds + k * blockSeconds : clockNow();
        target_.render(target_.user, out, blockFrames_, now);
        Capture* capture = capture_.exchange(nullptr, std::memory_order_acq_rel);
        if (capture) {
            const std::size_t room = capture->samples.size() / 2 - capture->frames;
            const std::size_t n = std::min<std::size_t>(room, blockFrames_);
            std::copy(out, out + n * 2, capture->samples.begin() + capture->frames * 2);
            capture->frames += n;
            capture_.store(capture, std::memory_order_release);
        }
    }
}

SilentOutput::Capture* SilentOutput::claimCapture() {
    if (!hasCapture_) return nullptr;
    while (true) {
        Capture* capture = capture_.exchange(nullptr, std::memory_order_acq_rel);
        if (capture) {
            hasCapture_ = false;
            return capture;
        }
        std::this_thread::yield();  // the render thread holds it for the rest of one block
    }
}

Result SilentOutput::setCapture(std::size_t maxFrames) {
    delete claimCapture();
    if (maxFrames == 0) return Ok;
    Capture* capture = new (std::nothrow) Capture;
    if (!capture) return ErrMemory;
    try {
        capture->samples.assign(maxFrames * 2, 0.0f);
    } catch (const std::bad_alloc&) {
        delete capture;
        return ErrMemory;
    }
    hasCapture_ = true;
    capture_.store(capture, std::memory_order_release);
    return Ok;
}

std::vector<float> SilentOutput::takeCapture() {
    Capture* capture = claimCapture();
    if (!capture) return {};
    std::vector<float> samples = std::move(capture->samples);
    samples.resize(capture->frames * 2);
    delete capture;
    return samples;
}

}  // namespace audio
