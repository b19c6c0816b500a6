// Start-up: the sound bank (audio system, four samples, the master group and channels),
// the thirteen images and the layout of the on-screen controls.
#include <cstdio>
#include <vector>

#include "rhythm/click_sound.h"
#include "tutor/tutor_app.h"

namespace {

void showSoundError(HWND owner, audio::Result result) {
    MessageBoxA(owner, audio::errorString(result), "Sound Error", MB_OK);
}

// The sound system itself did not start: the box, and the reason on standard error.
void showSoundSystemError(HWND owner, audio::Result result) {
    std::fprintf(stderr, "tabladex: the sound system could not start: %s\n",
                 audio::errorString(result));
    showSoundError(owner, result);
}

}  // namespace

bool TutorApp::loadSample(SoundSlot& slot, const char* path) {
    audio::Result result = audioSystem->createSound(
        path, audio::LoopOff | audio::Mode2D | audio::Hardware, nullptr, &slot.sound);
    if (result != audio::Ok) {
        // Also on standard error, with the file's name, for whoever started the program
        // from a terminal.
        std::fprintf(stderr, "tabladex: %s: %s\n", path, audio::errorString(result));
        showSoundError(window, result);
        return false;
    }
    return true;
}

bool TutorApp::startUp() {
    stepTimer.init();

    audio::Result result = audio::systemCreate(&audioSystem);
    if (result != audio::Ok) {
        showSoundSystemError(window, result);
        return false;
    }
    result = audioSystem->init(32, audio::InitNormal, nullptr);
    if (result != audio::Ok) {
        showSoundSystemError(window, result);
        return false;
    }

    // Every sample is tried, so that each missing one gets its own box.
    bool samplesLoaded = loadSample(doumSlot, "soundFont/doumBackClipped.wav");
    samplesLoaded = loadSample(halfTekSlot, "soundFont/half_tek_front.wav") && samplesLoaded;
    samplesLoaded = loadSample(tekSlot, "soundFont/tek_front.wav") && samplesLoaded;
    samplesLoaded = loadSample(slapSlot, "soundFont/slap_front.wav") && samplesLoaded;
    if (!samplesLoaded) return false;

    audioSystem->createChannelGroup("Mastah Group", &masterGroup);
    if (masterGroup) masterGroup->setVolume(volume.load());
    audioSystem->getChannel(0, &doumSlot.channel);
    audioSystem->getChannel(1, &halfTekSlot.channel);
    audioSystem->getChannel(2, &tekSlot.channel);
    audioSystem->getChannel(3, &slapSlot.channel);
    // The count-in's clicks are made here, as the renderer makes them, and sound on a fifth
    // channel; without them the count-in only flashes.
    const int rate = audio::outputSampleRate(audioSystem);
    const std::vector<float> click = makeClick(rate, false, rate);
    const std::vector<float> accent = makeClick(rate, true, rate);
    audio::createSoundFromSamples(audioSystem, click.data(), click.size() / 2, &clickSlot.sound);
    audio::createSoundFromSamples(audioSystem, accent.data(), accent.size() / 2, &accentClick);
    audioSystem->getChannel(4, &clickSlot.channel);
    for (SoundSlot* slot : {&doumSlot, &halfTekSlot, &tekSlot, &slapSlot, &clickSlot})
        if (slot->channel) slot->channel->setChannelGroup(masterGroup);

    // Every image is tried; one box reports them all.
    struct Image {
        Surface& surface;
        const char* path;
    };
    const Image images[] = {
        {background, "images/600x480Background.bmp"},
        {slider, "images/slider.bmp"},
        {metronome, "images/metronome.bmp"},
        {numbers, "images/numbersImage.bmp"},
        {largeLetters, "images/lrgAlphaLetters.bmp"},
        {smallLetters, "images/smAlphaLetters.bmp"},
        {banner, "images/kvbanner.bmp"},
        {hiddenNotesBanner, "images/hiddenNotesBanner.bmp"},
        {pausedLabel, "images/pausedLabel.bmp"},
        {playingLabel, "images/playingLabel.bmp"},
        {stoppedLabel, "images/stoppedLabel.bmp"},
        {playlistButtons, "images/playlistbuttons.bmp"},
        {rhythmNotes, "images/rhythmNotes.bmp"},
    };
    bool imagesLoaded = true;
    for (const Image& image : images) {
        const bool loaded = image.surface.loadBitmap(image.path);
        if (!loaded) std::fprintf(stderr, "tabladex: %s: cannot load the image\n", image.path);
        imagesLoaded = loaded && imagesLoaded;
    }
    if (!imagesLoaded) {
        MessageBoxA(window, "Error Loading Images", "Image Error", MB_ICONWARNING);
        return false;
    }

    layoutControls();
    return true;
}

void TutorApp::layoutControls() { controls::layout(controlRects); }
