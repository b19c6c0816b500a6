// Threads: the playback thread asks for sounds and changes the group volume while the
// silent output's thread renders, as in the tutor. Run under ThreadSanitizer (ctest label
// "threads"), any unsynchronised access between the two fails the run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/audio/audio.h"
#include "measure/onset_detect.h"
#include "wav_fixtures.h"

namespace {

TEST(Threads, PlaybackThreadPlaysWhileTheAudioThreadRenders) {
    audio::setDefaultOutput(audio::OutputKind::Silent);
    audio::System* system = nullptr;
    ASSERT_EQ(audio::systemCreate(&system), audio::Ok);
    ASSERT_EQ(system->init(32, audio::InitNormal, nullptr), audio::Ok);
    ASSERT_EQ(audio::outputKind(system), audio::OutputKind::Silent);
    const int rate = audio::outputSampleRate(system);

    audio_test::TempDir dir;
    std::vector<audio::Sound*> sounds;
    for (int i = 0; i < 4; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "s%d.wav", i);
        const std::string path = dir.file(name);
        ASSERT_TRUE(audio_test::writeWav(path, audio_test::Pcm16, 2, rate,
                                         audio_test::constantStereo(rate / 100, 0.3f, 0.3f)));
        audio::Sound* sound = nullptr;
        ASSERT_EQ(system->createSound(path.c_str(), 0x29, nullptr, &sound), audio::Ok);
        sounds.push_back(sound);
    }
    audio::ChannelGroup* group = nullptr;
    ASSERT_EQ(system->createChannelGroup("Mastah Group", &group), audio::Ok);
    ASSERT_EQ(group->setVolume(0.9f), audio::Ok);
    std::vector<audio::Channel*> channels(4);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(system->getChannel(i, &channels[i]), audio::Ok);
        ASSERT_EQ(channels[i]->setChannelGroup(group), audio::Ok);
    }
    ASSERT_EQ(audio::silentSetCapture(system, static_cast<std::size_t>(rate) * 3), audio::Ok);

    constexpr int kPlays = 24;
    int failures = 0;
    std::thread playback([&] {
        // At least 50 ms between plays even when the thread is scheduled late, so that no
        // two sounds (each 10 ms long) overlap and every play stays a separate onset.
        for (int step = 0; step < kPlays; ++step) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const int slot = step % 4;
            if (system->playSound(audio::ChannelReuse, sounds[slot], false, &channels[slot]) != audio::Ok) {
                ++failures;
            }
            if (group->setVolume(step % 2 ? 0.9f : 0.8f) != audio::Ok) ++failures;
        }
    });
    playback.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::vector<float> captured = audio::silentTakeCapture(system);  // while rendering
    ASSERT_EQ(system->release(), audio::Ok);

    EXPECT_EQ(failures, 0);
    const auto onsets = findOnsets(captured.data(), captured.size() / 2, rate, OnsetOptions{0.05f, 0.005});
    EXPECT_EQ(onsets.size(), static_cast<std::size_t>(kPlays));
}

TEST(Threads, CaptureCanBeRestartedWhileRendering) {
    audio::setDefaultOutput(audio::OutputKind::Silent);
    audio::System* system = nullptr;
    ASSERT_EQ(audio::systemCreate(&system), audio::Ok);
    ASSERT_EQ(system->init(8, audio::InitNormal, nullptr), audio::Ok);
    for (int round = 0; round < 5; ++round) {
        ASSERT_EQ(audio::silentSetCapture(system, 4096), audio::Ok);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        const std::vector<float> captured = audio::silentTakeCapture(system);
        EXPECT_EQ(captured.size() % 2, 0u);
        EXPECT_LE(captured.size(), 2u * 4096);
    }
    EXPECT_TRUE(audio::silentTakeCapture(system).empty());  // nothing left to take
    ASSERT_EQ(system->release(), audio::Ok);
}

}  // namespace
