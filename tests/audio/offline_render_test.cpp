// Offline renders: where sounds start, channel reuse, group volume and the mix's headroom,
// all read straight from the rendered stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "platform/audio/audio.h"
#include "measure/onset_detect.h"
#include "wav_fixtures.h"

namespace {

using audio_test::constantStereo;

class OfflineRender : public ::testing::Test {
protected:
    void SetUp() override {
        audio::setDefaultOutput(audio::OutputKind::Offline);
        ASSERT_EQ(audio::systemCreate(&system_), audio::Ok);
        ASSERT_EQ(system_->init(32, audio::InitNormal, nullptr), audio::Ok);
        ASSERT_EQ(audio::outputKind(system_), audio::OutputKind::Offline);
        rate_ = audio::outputSampleRate(system_);
        block_ = audio::outputBlockFrames(system_);
        latency_ = audio::outputLatencyFrames(system_);
        ASSERT_GT(block_, 2);
    }
    void TearDown() override {
        if (system_) system_->release();
    }

    audio::Sound* load(const std::string& name, const std::vector<float>& stereo) {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(audio_test::writeWav(path, audio_test::Float32, 2, rate_, stereo));
        audio::Sound* sound = nullptr;
        EXPECT_EQ(system_->createSound(path.c_str(), 0x29, nullptr, &sound), audio::Ok);
        return sound;
    }

    // Asks for sound at the time that maps to output frame `frame`.
    audio::Channel* playAtFrame(audio::Sound* sound, std::int64_t frame, int channel) {
        audio::offlineSetTime(system_, static_cast<double>(frame - latency_) / rate_);
        audio::Channel* used = nullptr;
        EXPECT_EQ(system_->playSound(channel, sound, false, &used), audio::Ok);
        return used;
    }

    // Renders up to (not including) frame `end` of the stream, in pieces of `piece` frames.
    void renderTo(std::size_t end, std::size_t piece = 97) {
        while (stream_.size() / 2 < end) {
            const std::size_t n = std::min(piece, end - stream_.size() / 2);
            const std::size_t at = stream_.size();
            stream_.resize(at + n * 2);
            ASSERT_EQ(audio::offlineRender(system_, stream_.data() + at, n), audio::Ok);
        }
    }
    float left(std::size_t frame) const { return stream_[2 * frame]; }
    float right(std::size_t frame) const { return stream_[2 * frame + 1]; }
    std::vector<std::size_t> onsets() const {
        return findOnsets(stream_.data(), stream_.size() / 2, rate_, OnsetOptions{0.01f, 0.0005});
    }

    audio_test::TempDir dir_;
    audio::System* system_ = nullptr;
    std::vector<float> stream_;
    int rate_ = 0;
    int block_ = 0;
    int latency_ = 0;
};

TEST_F(OfflineRender, StartsOnTheStampedFrameAnywhereInABlock) {
    audio::Sound* click = load("click.wav", constantStereo(16, 0.5f, 0.5f));
    const std::int64_t b = 8 * block_;
    const std::vector<std::int64_t> wanted = {
        b,                    // a block's first frame
        3 * b + block_ / 2 + 3,  // mid-block
        5 * b + block_ - 1,   // a block's last frame
        7 * b + block_,       // the next block's first frame
    };
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        renderTo(static_cast<std::size_t>(wanted[i] - latency_));  // asked for "now"
        playAtFrame(click, wanted[i], static_cast<int>(i));
    }
    renderTo(static_cast<std::size_t>(wanted.back() + block_));
    const auto found = onsets();
    ASSERT_EQ(found.size(), wanted.size());
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        EXPECT_EQ(static_cast<std::int64_t>(found[i]), wanted[i]) << "start " << i;
        EXPECT_FLOAT_EQ(left(found[i]), 0.5f);
        EXPECT_EQ(left(found[i] - 1), 0.0f);
    }
    EXPECT_EQ(audio::lateStarts(system_), 0u);
    // The screen shows a start heardDelay after its stamp: the latency these starts lay after
    // theirs, and what the device adds.
    EXPECT_DOUBLE_EQ(audio::heardDelay(system_) * rate_, latency_);
    audio::offlineSetDeviceLatency(system_, 0.25);
    EXPECT_DOUBLE_EQ(audio::heardDelay(system_), static_cast<double>(latency_) / rate_ + 0.25);
}

TEST_F(OfflineRender, RequestsTSecondsApartStartRoundTTimesRateApart) {
    audio::Sound* click = load("click.wav", constantStereo(16, 0.5f, 0.5f));
    const std::vector<double> gaps = {0.125, 0.0333333, 0.01, 0.0071234, 0.2500001, 0.0999999};
    double t = 0.0123457;
    std::vector<double> times;
    for (double gap : gaps) {
        times.push_back(t);
        t += gap;
    }
    times.push_back(t);
    for (double when : times) {
        // Render what a real output would have rendered by then, then ask.
        renderTo(static_cast<std::size_t>(when * rate_), 64);
        audio::offlineSetTime(system_, when);
        audio::Channel* used = nullptr;
        ASSERT_EQ(system_->playSound(0, click, false, &used), audio::Ok);
    }
    renderTo(static_cast<std::size_t>(t * rate_) + latency_ + block_);
    const auto found = onsets();
    ASSERT_EQ(found.size(), times.size());
    for (std::size_t i = 0; i < gaps.size(); ++i) {
        const double apart = static_cast<double>(found[i + 1]) - static_cast<double>(found[i]);
        EXPECT_NEAR(apart, std::round(gaps[i] * rate_), 1.0) << "gap " << gaps[i];
    }
}

TEST_F(OfflineRender, QuantisedBaselineStartsAtBlockStarts) {
    // The switch used for the naive baseline must move a mid-block start to a block start;
    // otherwise the benchmark's baseline would measure nothing.
    audio::Sound* click = load("click.wav", constantStereo(16, 0.5f, 0.5f));
    audio::setQuantizeStarts(system_, true);
    renderTo(3 * block_ + 10);
    audio::offlineSetTime(system_, static_cast<double>(3 * block_ + 10) / rate_);
    audio::Channel* used = nullptr;
    ASSERT_EQ(system_->playSound(0, click, false, &used), audio::Ok);
    renderTo(6 * block_);
    const auto found = onsets();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], static_cast<std::size_t>(4 * block_));
}

TEST_F(OfflineRender, LateRequestStartsAtOnceAndIsCounted) {
    audio::Sound* click = load("click.wav", constantStereo(16, 0.5f, 0.5f));
    renderTo(10 * block_);
    playAtFrame(click, 2 * block_, 0);  // frame long since rendered
    renderTo(12 * block_);
    const auto found = onsets();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], static_cast<std::size_t>(10 * block_));
    EXPECT_EQ(audio::lateStarts(system_), 1u);
}

TEST_F(OfflineRender, ChannelReuseCutsOffOnlyThatChannelWithAShortFade) {
    audio::Sound* longLeft = load("left.wav", constantStereo(48000, 0.5f, 0.0f));
    audio::Sound* longRight = load("right.wav", constantStereo(48000, 0.0f, 0.25f));
    audio::Sound* quietLeft = load("quiet.wav", constantStereo(48000, 0.2f, 0.0f));
    audio::Channel* first = playAtFrame(longLeft, 1000, 0);
    playAtFrame(longRight, 1000, 1);
    ASSERT_NE(first, nullptr);

    const std::int64_t cut = 3000 + block_ / 3;
    audio::Channel* reused = first;
    audio::offlineSetTime(system_, static_cast<double>(cut - latency_) / rate_);
    ASSERT_EQ(system_->playSound(audio::ChannelReuse, quietLeft, false, &reused), audio::Ok);
    EXPECT_EQ(reused, first);
    renderTo(6000);

    EXPECT_FLOAT_EQ(left(cut - 1), 0.5f);
    const int fadeLimit = rate_ / 1000 + 1;  // about 1 ms
    for (std::int64_t f = cut + fadeLimit; f < 6000; ++f) {
        ASSERT_FLOAT_EQ(left(f), 0.2f) << "old voice still sounding at " << f;
    }
    // The old voice fades out instead of stopping dead: no step bigger than a fraction of it.
    EXPECT_GT(left(cut), 0.2f + 0.25f);
    for (std::int64_t f = cut; f < cut + fadeLimit; ++f) {
        EXPECT_LT(std::fabs(left(f + 1) - left(f)), 0.05f) << "click at " << f;
    }
    for (std::int64_t f = 1000; f < 6000; ++f) ASSERT_FLOAT_EQ(right(f), 0.25f) << f;
}

TEST_F(OfflineRender, GroupVolumeScalesBoundChannelsOnlyAndRamps) {
    audio::ChannelGroup* group = nullptr;
    ASSERT_EQ(system_->createChannelGroup("Mastah Group", &group), audio::Ok);
    audio::Channel* bound = nullptr;
    ASSERT_EQ(system_->getChannel(0, &bound), audio::Ok);
    ASSERT_EQ(bound->setChannelGroup(group), audio::Ok);
    audio::Sound* leftTone = load("left.wav", constantStereo(48000, 0.8f, 0.0f));
    audio::Sound* rightTone = load("right.wav", constantStereo(48000, 0.0f, 0.6f));

    ASSERT_EQ(group->setVolume(0.5f), audio::Ok);
    float volume = 0;
    ASSERT_EQ(group->getVolume(&volume), audio::Ok);
    EXPECT_FLOAT_EQ(volume, 0.5f);
    playAtFrame(leftTone, 2 * block_, 0);   // bound
    playAtFrame(rightTone, 2 * block_, 1);  // not bound
    renderTo(4 * block_);
    EXPECT_FLOAT_EQ(left(3 * block_), 0.4f);
    EXPECT_FLOAT_EQ(right(3 * block_), 0.6f);

    // A change reaches its value within one block, in small steps.
    ASSERT_EQ(group->setVolume(0.0f), audio::Ok);
    renderTo(6 * block_);
    EXPECT_FLOAT_EQ(left(5 * block_ - 1), 0.0f);
    for (int f = 4 * block_; f < 5 * block_; ++f) {
        ASSERT_LE(std::fabs(left(f) - left(f - 1)), 0.4f / block_ * 1.01f) << f;
    }
    EXPECT_FLOAT_EQ(right(5 * block_), 0.6f);
    ASSERT_EQ(group->setVolume(7.0f), audio::Ok);
    ASSERT_EQ(group->getVolume(&volume), audio::Ok);
    EXPECT_FLOAT_EQ(volume, 1.0f);  // clamped
}

TEST_F(OfflineRender, ThirtyTwoChannelsAtOnceStayWithinFullScale) {
    audio::Sound* loud = load("loud.wav", constantStereo(2000, 0.9f, -0.9f));
    for (int c = 0; c < 32; ++c) playAtFrame(loud, block_ + c % 3, c);
    renderTo(4 * block_);
    float peakLeft = 0;
    float peakRight = 0;
    for (std::size_t i = 0; i < stream_.size(); i += 2) {
        ASSERT_TRUE(std::isfinite(stream_[i]) && std::isfinite(stream_[i + 1]));
        ASSERT_LE(std::fabs(stream_[i]), 1.0f);
        ASSERT_LE(std::fabs(stream_[i + 1]), 1.0f);
        peakLeft = std::max(peakLeft, stream_[i]);
        peakRight = std::min(peakRight, stream_[i + 1]);
    }
    EXPECT_GT(peakLeft, 0.95f);  // limited, not silenced
    EXPECT_LT(peakRight, -0.95f);
}

TEST_F(OfflineRender, PlayRejectsWhatItCannotHonour) {
    audio::Sound* click = load("click.wav", constantStereo(16, 0.5f, 0.5f));
    audio::Channel* none = nullptr;
    EXPECT_EQ(system_->playSound(audio::ChannelReuse, click, false, &none), audio::ErrInvalidParam);
    EXPECT_EQ(system_->playSound(32, click, false, &none), audio::ErrInvalidParam);
    EXPECT_EQ(system_->playSound(-1, click, false, &none), audio::ErrInvalidParam);
    EXPECT_EQ(system_->playSound(0, nullptr, false, &none), audio::ErrInvalidParam);
    EXPECT_EQ(system_->playSound(0, click, true, &none), audio::ErrInvalidParam);
    EXPECT_EQ(system_->playSound(0, click, false, nullptr), audio::ErrInvalidParam);
    EXPECT_EQ(none, nullptr);
}

}  // namespace
