// output_silent.h - an output without a device: a thread renders blocks paced by the
// steady clock, as a sound card would ask for them, and throws them away (or keeps them
// for measurements).
//
// Promises: block k is rendered no earlier than start + k * blockFrames / rate on the
// steady clock and is stamped with that due time; a late thread catches up, so the rate and
// the time-to-frame mapping are exact. Capture keeps up to
// maxFrames of what is rendered, in storage allocated by setCapture (never by the thread).
//
// Threads: setCapture and takeCapture on the main thread, while the output runs or not;
// both may wait for up to one block while the render thread holds the capture.
// Ownership: the output owns its capture until takeCapture moves it out.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "output.h"

namespace audio {

class SilentOutput final : public Output {
public:
    SilentOutput(RenderTarget target, int rate, int blockFrames);
    ~SilentOutput() override;
    int sampleRate() const override { return rate_; }
    int blockFrames() const override { return blockFrames_; }
    Result start() override;
    void stop() override;

    Result setCapture(std::size_t maxFrames);
    std::vector<float> takeCapture();

private:
    struct Capture {
        std::vector<float> samples;  // sized maxFrames * 2 up front
        std::size_t frames = 0;
    };
    void run();
    Capture* claimCapture();  // main thread: waits until the render thread is not using it

    RenderTarget target_;
    int rate_;
    int blockFrames_;
    std::vector<float> block_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<Capture*> capture_{nullptr};  // taken by the render thread while it writes
    bool hasCapture_ = false;                 // main thread's own record that one is installed
};

}  // namespace audio
