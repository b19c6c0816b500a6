// Fuzz target: any bytes as a drum sample, decoded the way start-up decodes the files of
// soundFont/ (a learner may replace one). A sound that decodes must have frames and play and
// mix without reading outside its samples.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/scratch_file.h"
#include "platform/audio/audio.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    audio::setDefaultOutput(audio::OutputKind::Offline);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz_support::writeScratchFile("sound", ".wav", data, size);
    if (path.empty()) return 0;

    audio::System* system = nullptr;
    if (audio::systemCreate(&system) != audio::Ok ||
        system->init(4, audio::InitNormal, nullptr) != audio::Ok) {
        if (system) system->release();
        std::remove(path.c_str());
        return 0;
    }
    audio::Sound* sound = nullptr;
    const audio::Result result = system->createSound(
        path.c_str(), audio::LoopOff | audio::Mode2D | audio::Hardware, nullptr, &sound);
    std::remove(path.c_str());
    if (result == audio::Ok) {
        std::size_t frames = 0;
        if (!sound || sound->getLengthFrames(&frames) != audio::Ok || frames == 0) __builtin_trap();
        audio::Channel* channel = nullptr;
        system->getChannel(0, &channel);
        system->playSound(audio::ChannelReuse, sound, false, &channel);
        std::vector<float> out(2 * 2048);
        audio::offlineRender(system, out.data(), 2048);
        for (float sample : out)
            if (!(sample >= -1.0f && sample <= 1.0f)) __builtin_trap();
    } else if (sound) {
        __builtin_trap();  // a refused file hands out no sound
    }
    system->release();
    return 0;
}
