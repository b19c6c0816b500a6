// Outputs chosen at init: SDL's disk driver counts as a device and receives the mix;
// without any usable driver init still succeeds, on the silent output.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/audio/audio.h"
#include "measure/onset_detect.h"
#include "wav_fixtures.h"

namespace {

std::vector<float> readFloats(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const auto bytes = static_cast<std::size_t>(in.tellg());
    std::vector<float> samples(bytes / sizeof(float));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * sizeof(float)));
    return samples;
}

TEST(DeviceOutput, DiskDriverIsADeviceAndReceivesTheMix) {
    audio_test::TempDir dir;
    const std::string raw = dir.file("out.raw");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
    audio::setDefaultOutput(audio::OutputKind::Device);

    audio::System* system = nullptr;
    ASSERT_EQ(audio::systemCreate(&system), audio::Ok);
    ASSERT_EQ(system->init(32, audio::InitNormal, nullptr), audio::Ok);
    ASSERT_EQ(audio::outputKind(system), audio::OutputKind::Device);
    const int rate = audio::outputSampleRate(system);
    EXPECT_TRUE(rate == 44100 || rate == 48000) << rate;
    EXPECT_GT(audio::outputBlockFrames(system), 0);

    const std::string click = dir.file("click.wav");
    ASSERT_TRUE(audio_test::writeWav(click, audio_test::Float32, 2, rate,
                                     audio_test::constantStereo(64, 0.5f, 0.5f)));
    audio::Sound* sound = nullptr;
    ASSERT_EQ(system->createSound(click.c_str(), 0x29, nullptr, &sound), audio::Ok);
    audio::Channel* channel = nullptr;
    ASSERT_EQ(system->getChannel(2, &channel), audio::Ok);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(system->playSound(audio::ChannelReuse, sound, false, &channel), audio::Ok);
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    // Time for the driver to write the last start, which lies a few blocks after its request,
    // even on a busy machine.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(system->release(), audio::Ok);

    const std::vector<float> written = readFloats(raw);
    ASSERT_GT(written.size(), 0u);
    const auto onsets = findOnsets(written.data(), written.size() / 2, rate, OnsetOptions{0.1f, 0.001});
    EXPECT_EQ(onsets.size(), 3u);
}

TEST(DeviceOutput, FallsBackToSilentWhenNoDriverWorks) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    audio::setDefaultOutput(audio::OutputKind::Device);
    audio::System* system = nullptr;
    ASSERT_EQ(audio::systemCreate(&system), audio::Ok);
    ASSERT_EQ(system->init(32, audio::InitNormal, nullptr), audio::Ok);
    EXPECT_EQ(audio::outputKind(system), audio::OutputKind::Silent);
    EXPECT_EQ(audio::outputSampleRate(system), 48000);
    EXPECT_EQ(system->release(), audio::Ok);
}

}  // namespace
