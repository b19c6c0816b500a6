// Files: decoding every supported WAV layout to the right length and level, the distinct
// failures a user can meet, and the life cycle around them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <set>
#include <string>

#include "platform/audio/audio.h"
#include "wav_fixtures.h"

namespace {

struct WavCase {
    const char* name;
    audio_test::SampleFormat format;
    int channels;
    int rate;
    float tolerance;  // of the level, from the format's resolution
};

void PrintTo(const WavCase& c, std::ostream* os) { *os << c.name; }

std::string caseName(const ::testing::TestParamInfo<WavCase>& info) { return info.param.name; }

class Decode : public ::testing::TestWithParam<WavCase> {
protected:
    void SetUp() override {
        audio::setDefaultOutput(audio::OutputKind::Offline);
        ASSERT_EQ(audio::systemCreate(&system_), audio::Ok);
        ASSERT_EQ(system_->init(4, audio::InitNormal, nullptr), audio::Ok);
    }
    void TearDown() override { system_->release(); }

    audio_test::TempDir dir_;
    audio::System* system_ = nullptr;
};

// One second of a 440 Hz sine, 0.5 on the left (and on mono), 0.25 on the right.
std::vector<float> sine(int channels, int rate) {
    std::vector<float> samples(static_cast<std::size_t>(rate) * channels);
    for (int i = 0; i < rate; ++i) {
        const float s = static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * i / rate));
        samples[static_cast<std::size_t>(i) * channels] = 0.5f * s;
        if (channels == 2) samples[static_cast<std::size_t>(i) * 2 + 1] = 0.25f * s;
    }
    return samples;
}

TEST_P(Decode, LengthAndLevelSurviveDecoding) {
    const WavCase& c = GetParam();
    const std::string path = dir_.file(std::string(c.name) + ".wav");
    ASSERT_TRUE(audio_test::writeWav(path, c.format, c.channels, c.rate, sine(c.channels, c.rate)));
    audio::Sound* sound = nullptr;
    ASSERT_EQ(system_->createSound(path.c_str(), 0x29, nullptr, &sound), audio::Ok);

    const int outRate = audio::outputSampleRate(system_);
    std::size_t length = 0;
    ASSERT_EQ(sound->getLengthFrames(&length), audio::Ok);
    EXPECT_NEAR(static_cast<double>(length), outRate, 2.0);  // one second at the output rate

    audio::offlineSetTime(system_, 0.0);
    audio::Channel* channel = nullptr;
    ASSERT_EQ(system_->playSound(0, sound, false, &channel), audio::Ok);
    std::vector<float> out(static_cast<std::size_t>(outRate) * 2 * 2);
    ASSERT_EQ(audio::offlineRender(system_, out.data(), out.size() / 2), audio::Ok);
    float peakLeft = 0;
    float peakRight = 0;
    std::size_t last = 0;
    for (std::size_t i = 0; i < out.size() / 2; ++i) {
        peakLeft = std::max(peakLeft, std::fabs(out[2 * i]));
        peakRight = std::max(peakRight, std::fabs(out[2 * i + 1]));
        if (out[2 * i] != 0.0f) last = i;
    }
    EXPECT_NEAR(peakLeft, 0.5f, c.tolerance);
    EXPECT_NEAR(peakRight, c.channels == 2 ? 0.25f : 0.5f, c.tolerance);
    // Plays once: nothing after its length (the start is the constant latency).
    EXPECT_LE(last, length + audio::outputLatencyFrames(system_));
}

INSTANTIATE_TEST_SUITE_P(
    Wav, Decode,
    ::testing::Values(WavCase{"mono16", audio_test::Pcm16, 1, 48000, 0.001f},
                      WavCase{"stereo16", audio_test::Pcm16, 2, 48000, 0.001f},
                      WavCase{"unsigned8", audio_test::PcmU8, 2, 48000, 0.01f},
                      WavCase{"pcm24", audio_test::Pcm24, 2, 48000, 0.0001f},
                      WavCase{"pcm32", audio_test::Pcm32, 1, 48000, 0.0001f},
                      WavCase{"float", audio_test::Float32, 2, 48000, 0.0001f},
                      WavCase{"rate44k", audio_test::Pcm16, 2, 44100, 0.01f},
                      WavCase{"rate22k", audio_test::Float32, 1, 22050, 0.01f}),
    caseName);

class FileErrors : public Decode {};

TEST_F(FileErrors, MissingTextAndTruncatedFilesGiveTheirOwnCodeAndText) {
    audio::Sound* sound = reinterpret_cast<audio::Sound*>(&sound);  // must be cleared

    const std::string missing = dir_.file("missing.wav");
    EXPECT_EQ(system_->createSound(missing.c_str(), 0x29, nullptr, &sound), audio::ErrFileNotFound);
    EXPECT_EQ(sound, nullptr);

    const std::string text = dir_.file("notes.wav");
    std::ofstream(text) << "These are rehearsal notes, not a sound.\n";
    EXPECT_EQ(system_->createSound(text.c_str(), 0x29, nullptr, &sound), audio::ErrFileBad);

    const std::string cut = dir_.file("cut.wav");
    ASSERT_TRUE(audio_test::writeWav(cut, audio_test::Pcm16, 2, 48000, sine(2, 48000)));
    std::filesystem::resize_file(cut, std::filesystem::file_size(cut) / 2);
    EXPECT_EQ(system_->createSound(cut.c_str(), 0x29, nullptr, &sound), audio::ErrFileTruncated);

    const std::string headerOnly = dir_.file("header.wav");
    ASSERT_TRUE(audio_test::writeWav(headerOnly, audio_test::Pcm16, 2, 48000, sine(2, 48000)));
    std::filesystem::resize_file(headerOnly, 20);
    EXPECT_EQ(system_->createSound(headerOnly.c_str(), 0x29, nullptr, &sound), audio::ErrFileTruncated);

    const std::set<std::string> texts = {audio::errorString(audio::ErrFileNotFound),
                                         audio::errorString(audio::ErrFileBad),
                                         audio::errorString(audio::ErrFileTruncated),
                                         audio::errorString(audio::ErrOutputInit)};
    EXPECT_EQ(texts.size(), 4u);
    EXPECT_STREQ(audio::errorString(audio::ErrFileNotFound), "Sound file not found.");
}

TEST(ErrorText, EveryCodeReadsPlainlyAndUnknownCodesSaySo) {
    EXPECT_STREQ(audio::errorString(audio::Ok), "No errors.");
    EXPECT_STREQ(audio::errorString(-1), "Unknown error.");
    EXPECT_STREQ(audio::errorString(audio::ErrInputInit + 1), "Unknown error.");
    std::set<std::string> seen;
    for (int code = audio::Ok; code <= audio::ErrInputInit; ++code) {
        const std::string text = audio::errorString(code);
        EXPECT_NE(text, "Unknown error.") << code;
        EXPECT_EQ(text.back(), '.') << code;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(audio::ErrInputInit + 1));
}

TEST(Lifecycle, ReleaseIsSafeAfterEveryFailedStep) {
    audio::setDefaultOutput(audio::OutputKind::Offline);
    EXPECT_EQ(audio::systemCreate(nullptr), audio::ErrInvalidParam);

    audio::System* system = nullptr;
    ASSERT_EQ(audio::systemCreate(&system), audio::Ok);
    audio::Sound* sound = nullptr;
    EXPECT_EQ(system->createSound("x.wav", 0x29, nullptr, &sound), audio::ErrNotInitialized);
    audio::Channel* channel = nullptr;
    EXPECT_EQ(system->getChannel(0, &channel), audio::ErrNotInitialized);
    EXPECT_EQ(system->init(0, audio::InitNormal, nullptr), audio::ErrInvalidParam);
    EXPECT_EQ(system->release(), audio::Ok);

    ASSERT_EQ(audio::systemCreate(&system), audio::Ok);
    int unused = 0;
    EXPECT_EQ(system->init(32, audio::InitNormal, &unused), audio::ErrInvalidParam);
    EXPECT_EQ(system->release(), audio::Ok);

    ASSERT_EQ(audio::systemCreate(&system), audio::Ok);
    ASSERT_EQ(system->init(32, audio::InitNormal, nullptr), audio::Ok);
    EXPECT_EQ(system->init(32, audio::InitNormal, nullptr), audio::ErrNotInitialized);
    EXPECT_EQ(system->createSound("/no/such/file.wav", 0x29, nullptr, &sound), audio::ErrFileNotFound);
    EXPECT_EQ(system->createSound("x.wav", 0x1000, nullptr, &sound), audio::ErrInvalidParam);
    EXPECT_EQ(system->getChannel(32, &channel), audio::ErrInvalidParam);
    EXPECT_EQ(system->release(), audio::Ok);
}

TEST(Lifecycle, GroupsAndChannelsBelongToTheirOwnSystem) {
    audio::setDefaultOutput(audio::OutputKind::Offline);
    audio::System* a = nullptr;
    audio::System* b = nullptr;
    ASSERT_EQ(audio::systemCreate(&a), audio::Ok);
    ASSERT_EQ(audio::systemCreate(&b), audio::Ok);
    ASSERT_EQ(a->init(4, audio::InitNormal, nullptr), audio::Ok);
    ASSERT_EQ(b->init(4, audio::InitNormal, nullptr), audio::Ok);
    audio::ChannelGroup* groupOfB = nullptr;
    ASSERT_EQ(b->createChannelGroup("Mastah Group", &groupOfB), audio::Ok);
    audio::Channel* channelOfA = nullptr;
    ASSERT_EQ(a->getChannel(3, &channelOfA), audio::Ok);
    int index = -1;
    ASSERT_EQ(channelOfA->getIndex(&index), audio::Ok);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(channelOfA->setChannelGroup(groupOfB), audio::ErrChannelGroup);
    EXPECT_EQ(channelOfA->setChannelGroup(nullptr), audio::Ok);
    a->release();
    b->release();
}

}  // namespace
