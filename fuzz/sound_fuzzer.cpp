// Fuzz target: any bytes as a drum sample, decoded the way start-up decodes the files of
// soundFont/ (a learner may replace one). A sound that decodes must have frames and play and
// mix without reading outside its samples.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/audio/audio.h"

namespace {

const std::string& scratchPath() {
    static const std::string path =
        "/tmp/tabladex-sound-fuzz-" + std::to_string(getpid()) + ".wav";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    audio::setDefaultOutput(audio::OutputKind::Offline);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(scratchPath().c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    audio::System* system = nullptr;
    if (audio::systemCreate(&system) != audio::Ok) return 0;
    if (system->init(4, audio::InitNormal, nullptr) != audio::Ok) {
        system->release();
        return 0;
    }
    audio::Sound* sound = nullptr;
    const audio::Result result = system->createSound(
        scratchPath().c_str(), audio::LoopOff | audio::Mode2D | audio::Hardware, nullptr, &sound);
    // libFuzzer may end the process without running exit handlers, so the file goes at once.
    std::remove(scratchPath().c_str());
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
