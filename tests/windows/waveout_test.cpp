// The device output on Windows: waveOut is chosen whenever the system has a wave device
// (under Wine, the PulseAudio driver with a server running), and sounds play through it.
#include <gtest/gtest.h>
#include <windows.h>
#include <mmsystem.h>

#include <chrono>
#include <thread>

#include "platform/audio/audio.h"
#include "wav_fixtures.h"

namespace {

TEST(WaveOutOutput, IsChosenWhenTheSystemHasAWaveDeviceAndTakesPlays) {
    audio::setDefaultOutput(audio::OutputKind::Device);
    audio::System* system = nullptr;
    ASSERT_EQ(audio::systemCreate(&system), audio::Ok);
    ASSERT_EQ(system->init(32, audio::InitNormal, nullptr), audio::Ok);
    const bool hasDevice = waveOutGetNumDevs() > 0;
    EXPECT_EQ(audio::outputKind(system), hasDevice ? audio::OutputKind::Device : audio::OutputKind::Silent);
    EXPECT_EQ(audio::outputSampleRate(system), 48000);
    // waveOut renders blocks of at least 512 frames; the silent output keeps the mixer's 256.
    EXPECT_EQ(audio::outputBlockFrames(system), hasDevice ? 512 : 256);

    audio_test::TempDir dir;
    const std::string click = dir.file("click.wav");
    ASSERT_TRUE(audio_test::writeWav(click, audio_test::Pcm16, 2, 48000,
                                     audio_test::constantStereo(480, 0.5f, 0.5f)));
    audio::Sound* sound = nullptr;
    ASSERT_EQ(system->createSound(click.c_str(), 0x29, nullptr, &sound), audio::Ok);
    audio::Channel* channel = nullptr;
    ASSERT_EQ(system->getChannel(0, &channel), audio::Ok);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(system->playSound(audio::ChannelReuse, sound, false, &channel), audio::Ok);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(system->release(), audio::Ok);
    if (!hasDevice) GTEST_SKIP() << "no wave device: played on the silent output";
}

}  // namespace
