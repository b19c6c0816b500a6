// The device output on Windows: WASAPI is chosen whenever the system has a sound device
// (under Wine, the PulseAudio driver with a server running), waveOut when WASAPI is skipped,
// and either takes plays, runs on, and says how long its device holds a stroke before it is
// heard. (Where the strokes land is checked on the sound server's monitor by the smoke runs,
// tests/windows/smoke.sh, once through each output.)
#include <gtest/gtest.h>
#include <windows.h>
#include <mmsystem.h>

#include <chrono>
#include <thread>

#include "platform/audio/audio.h"
#include "platform/audio/output.h"
#include "wav_fixtures.h"

namespace {

TEST(DeviceOutput, OpensWasapiOrTheWaveOutFallbackAndReportsItsDelay) {
    struct Row {
        const char* choice;  // TABLADEX_WINDOWS_AUDIO
        const char* api;     // what opens
    };
    const Row rows[] = {{"", "WASAPI"}, {"waveout", "waveOut"}};
    const bool hasDevice = waveOutGetNumDevs() > 0;
    audio_test::TempDir dir;
    const std::string click = dir.file("click.wav");
    ASSERT_TRUE(audio_test::writeWav(click, audio_test::Pcm16, 2, 48000, audio_test::constantStereo(480, 0.5f, 0.5f)));
    audio::setDefaultOutput(audio::OutputKind::Device);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.api);
        SetEnvironmentVariableA("TABLADEX_WINDOWS_AUDIO", row.choice);
        audio::System* system = nullptr;
        ASSERT_EQ(audio::systemCreate(&system), audio::Ok);
        ASSERT_EQ(system->init(32, audio::InitNormal, nullptr), audio::Ok);
        EXPECT_EQ(audio::outputKind(system), hasDevice ? audio::OutputKind::Device : audio::OutputKind::Silent);
        EXPECT_STREQ(audio::deviceApi(), hasDevice ? row.api : "");
        // The session's null sink runs at 48 kHz, WASAPI's mix format with it.
        EXPECT_EQ(audio::outputSampleRate(system), 48000);
        // Both device outputs render blocks of at least 512 frames; the silent output keeps 256.
        EXPECT_EQ(audio::outputBlockFrames(system), hasDevice ? 512 : 256);

        audio::Sound* sound = nullptr;
        ASSERT_EQ(system->createSound(click.c_str(), 0x29, nullptr, &sound), audio::Ok);
        audio::Channel* channel = nullptr;
        ASSERT_EQ(system->getChannel(0, &channel), audio::Ok);
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(system->playSound(audio::ChannelReuse, sound, false, &channel), audio::Ok);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        const double constant = static_cast<double>(audio::outputLatencyFrames(system)) / 48000;
        const double heard = audio::heardDelay(system);
        const audio::DeviceStatus status = audio::deviceStatus(system);
        EXPECT_EQ(system->release(), audio::Ok);
        if (!hasDevice) GTEST_SKIP() << "no sound device: played on the silent output";
        EXPECT_TRUE(status.playing);
        EXPECT_EQ(status.losses, 0u);
        // The device's queue (at least one block) is part of the delay before a stroke is
        // heard; a figure beyond half a second would put the screen far behind the sound.
        EXPECT_GT(heard, constant + 512.0 / 48000);
        EXPECT_LT(heard, constant + 0.5);
    }
    SetEnvironmentVariableA("TABLADEX_WINDOWS_AUDIO", nullptr);
}

}  // namespace
