// heard_probe: plays stamped clicks through the audio library's device output and says on
// standard output when each was due and what heardDelay reported, for heard_delay.py, which
// records the sound server's monitor and dates each click's onset on the same clock.
//
//   heard_probe [clicks]       (TABLADEX_WINDOWS_AUDIO=waveout for the waveOut output)
//
// Lines: "clock T" (the stamping clock's seconds, printed as fast as the pipe takes them, before
// and after the clicks, so that the reader can map this clock onto its own), "output API RATE
// BLOCK CONSTANT", one "click DUE HEARD_DELAY" per click, every 0.25 s, and "status PLAYING
// LOSSES RECOVERIES" (the output's DeviceStatus) after the last.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/audio.h"
#include "platform/audio/output.h"
#include "wav_fixtures.h"

namespace {

double steadyNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void printClock() {
    for (int i = 0; i < 200; ++i) {
        std::printf("clock %.6f\n", steadyNow());
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int clicks = argc > 1 ? std::atoi(argv[1]) : 20;
    audio_test::TempDir dir;
    const std::string click = dir.file("click.wav");
    if (!audio_test::writeWav(click, audio_test::Float32, 2, 48000, audio_test::constantStereo(240, 0.5f, 0.5f))) {
        return 1;
    }
    printClock();
    audio::setDefaultOutput(audio::OutputKind::Device);
    audio::System* system = nullptr;
    if (audio::systemCreate(&system) != audio::Ok || system->init(8, audio::InitNormal, nullptr) != audio::Ok) return 1;
    const int rate = audio::outputSampleRate(system);
    std::printf("output %s %d %d %.6f\n", audio::deviceApi(), rate, audio::outputBlockFrames(system),
                static_cast<double>(audio::outputLatencyFrames(system)) / rate);
    audio::Sound* sound = nullptr;
    audio::Channel* channel = nullptr;
    if (system->createSound(click.c_str(), 0x29, nullptr, &sound) != audio::Ok ||
        system->getChannel(0, &channel) != audio::Ok) {
        return 1;
    }
    const double first = steadyNow() + 1.0;
    for (int i = 0; i < clicks; ++i) {
        const double due = first + 0.25 * i;
        std::this_thread::sleep_for(std::chrono::duration<double>(due - steadyNow()));
        audio::stampNextStart(system, steadyNow() - due);
        system->playSound(audio::ChannelReuse, sound, false, &channel);
        std::printf("click %.6f %.6f\n", due, audio::heardDelay(system));
        std::fflush(stdout);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    const audio::DeviceStatus status = audio::deviceStatus(system);
    std::printf("status playing %d losses %u recoveries %u\n", status.playing, status.losses, status.recoveries);
    system->release();
    printClock();
    return 0;
}
