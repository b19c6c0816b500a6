// The shipped data, read with the program's own loaders: every image loads as 32 bits with
// its size and no required cell empty, every sample decodes and starts at its attack, every
// rhythm and playlist loads, with its title inside the title panel.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_window.h"
#include "gfx/title_row.h"
#include "platform/audio/audio.h"
#include "platform/headless/headless.h"
#include "tests/support/test_support.h"
#include "tests/support/tutor_fixture.h"

namespace {

namespace fs = std::filesystem;

fs::path dataFolder() { return testing_support::programFolder(); }

// Whether a cell holds more than one colour (a glyph, a digit or a letter drawn on it).
bool cellHasDrawing(const Surface& sheet, int32_t left, int32_t top, int32_t size) {
    const uint8_t* first = sheet.rowShown(top) + left * 4;
    for (int32_t y = top; y < top + size; ++y)
        for (int32_t x = left; x < left + size; ++x) {
            const uint8_t* pixel = sheet.rowShown(y) + x * 4;
            if (pixel[0] != first[0] || pixel[1] != first[1] || pixel[2] != first[2]) return true;
        }
    return false;
}

uint32_t pixelAt(const Surface& image, int32_t x, int32_t y) {
    const uint8_t* pixel = image.rowShown(y) + x * image.bytesPerPixel;
    return pixel[0] | pixel[1] << 8 | pixel[2] << 16;
}

struct ExpectedImage {
    const char* name;
    int32_t width, height;  // 0: at least the minimum below
    int32_t minWidth, minHeight, maxWidth, maxHeight;
};

TEST(ShippedImages, LoadAsThirtyTwoBitWithTheirSizes) {
    const ExpectedImage images[] = {
        {"600x480Background.bmp", 600, 480, 0, 0, 0, 0},
        {"slider.bmp", 30, 10, 0, 0, 0, 0},
        {"metronome.bmp", 0, 0, 150, 150, 4096, 4096},
        {"numbersImage.bmp", 0, 0, 150, 15, 4096, 4096},
        {"lrgAlphaLetters.bmp", 0, 0, 420, 60, 4096, 4096},
        {"smAlphaLetters.bmp", 0, 0, 210, 30, 4096, 4096},
        {"rhythmNotes.bmp", 0, 0, 180, 40, 4096, 4096},
        {"kvbanner.bmp", 0, 0, 1, 1, 470, 120},       // at (65, 330): stays above row 450
        {"pausedLabel.bmp", 0, 0, 1, 1, 177, 30},      // at (73, 232): ends before x 250
        {"playingLabel.bmp", 0, 0, 1, 1, 177, 30},
        {"stoppedLabel.bmp", 0, 0, 1, 1, 177, 30},
        {"playlistbuttons.bmp", 0, 0, 84, 16, 200, 30},
    };
    for (const ExpectedImage& expected : images) {
        Surface image;
        std::string path = (dataFolder() / "images" / expected.name).string();
        ASSERT_TRUE(image.loadBitmap(path.c_str())) << expected.name;
        EXPECT_EQ(image.bytesPerPixel, 4) << expected.name;
        if (expected.width) {
            EXPECT_EQ(image.width, expected.width) << expected.name;
            EXPECT_EQ(image.height, expected.height) << expected.name;
        } else {
            EXPECT_GE(image.width, expected.minWidth) << expected.name;
            EXPECT_GE(image.height, expected.minHeight) << expected.name;
            EXPECT_LE(image.width, expected.maxWidth) << expected.name;
            EXPECT_LE(image.height, expected.maxHeight) << expected.name;
        }
    }
}

TEST(ShippedImages, EveryRequiredCellIsDrawn) {
    auto load = [](Surface& image, const char* name) {
        return image.loadBitmap((dataFolder() / "images" / name).string().c_str());
    };
    Surface large, small, numbers, notes;
    ASSERT_TRUE(load(large, "lrgAlphaLetters.bmp"));
    ASSERT_TRUE(load(small, "smAlphaLetters.bmp"));
    ASSERT_TRUE(load(numbers, "numbersImage.bmp"));
    ASSERT_TRUE(load(notes, "rhythmNotes.bmp"));
    for (int letter = 0; letter < 26; ++letter) {
        int column = letter < 14 ? letter : letter - 14;
        int row = letter < 14 ? 0 : 1;
        EXPECT_TRUE(cellHasDrawing(large, column * 30, row * 30, 30)) << char('A' + letter);
        EXPECT_TRUE(cellHasDrawing(small, column * 15, row * 15, 15)) << char('A' + letter);
    }
    for (int digit = 0; digit < 10; ++digit)
        EXPECT_TRUE(cellHasDrawing(numbers, digit * 15, 0, 15)) << digit;
    for (int cell = 0; cell < 9; ++cell) {
        EXPECT_TRUE(cellHasDrawing(notes, cell * 20, 0, 20)) << "highlighted glyph " << cell;
        EXPECT_TRUE(cellHasDrawing(notes, cell * 20, 20, 20)) << "glyph " << cell;
    }
    // The highlighted glyph differs from the plain one, so the current step stands out.
    for (int cell = 0; cell < 9; ++cell) {
        bool differs = false;
        for (int y = 0; y < 20 && !differs; ++y)
            differs = std::memcmp(notes.rowShown(y) + cell * 80, notes.rowShown(20 + y) + cell * 80, 80) != 0;
        EXPECT_TRUE(differs) << cell;
    }
}

TEST(ShippedSamples, DecodeShortAndStartAtTheirAttack) {
    audio::setDefaultOutput(audio::OutputKind::Offline);
    audio::System* system = nullptr;
    ASSERT_EQ(audio::systemCreate(&system), audio::Ok);
    ASSERT_EQ(system->init(32, audio::InitNormal, nullptr), audio::Ok);
    const int rate = audio::outputSampleRate(system);
    const int latency = audio::outputLatencyFrames(system);
    audio::Channel* channel = nullptr;
    ASSERT_EQ(system->getChannel(0, &channel), audio::Ok);
    const char* names[] = {"doumBackClipped.wav", "half_tek_front.wav", "tek_front.wav",
                           "slap_front.wav"};
    double time = 0.0;
    for (const char* name : names) {
        audio::Sound* sound = nullptr;
        std::string path = (dataFolder() / "soundFont" / name).string();
        ASSERT_EQ(system->createSound(path.c_str(), 0x29, nullptr, &sound), audio::Ok) << name;
        std::size_t frames = 0;
        ASSERT_EQ(sound->getLengthFrames(&frames), audio::Ok);
        EXPECT_GT(frames, static_cast<std::size_t>(rate / 20)) << name;
        EXPECT_LT(frames, static_cast<std::size_t>(rate * 0.65)) << name;

        // Play it alone and find its first loud sample after the start frame.
        audio::offlineSetTime(system, time);
        ASSERT_EQ(system->playSound(audio::ChannelReuse, sound, false, &channel), audio::Ok);
        std::vector<float> stream(static_cast<std::size_t>(rate) * 2 * 2);
        ASSERT_EQ(audio::offlineRender(system, stream.data(), stream.size() / 2), audio::Ok);
        const std::size_t start = static_cast<std::size_t>(std::llround(time * rate)) + latency;
        std::size_t attack = 0;
        float peak = 0.0f;
        for (std::size_t i = 0; i < stream.size() / 2; ++i) peak = std::max(peak, std::fabs(stream[2 * i]));
        while (attack < stream.size() / 2 && std::fabs(stream[2 * attack]) < 0.1f * peak) ++attack;
        EXPECT_GT(peak, 0.2f) << name;
        // The stream restarts at frame 0 of this render: the time keeps counting.
        std::size_t renderedBefore = static_cast<std::size_t>(std::llround(time * rate));
        EXPECT_GE(attack + renderedBefore, start) << name;
        EXPECT_LE(attack + renderedBefore, start + static_cast<std::size_t>(0.002 * rate)) << name;
        time += static_cast<double>(stream.size() / 2) / rate;
    }
    system->release();
    audio::setDefaultOutput(audio::OutputKind::Device);
}

using ShippedRhythms = testing_support::TutorFixture;

TEST_F(ShippedRhythms, EveryRhythmFileAndPlaylistLoadsAndItsNoticesFitTheirSlot) {
    // The notice slot of the background: its black interior runs along row 79, just above
    // the notice's cells at (10, 80), and ends at the slot's right border, which mirrors
    // the left one.
    Surface background, screen;
    ASSERT_TRUE(background.loadBitmap((dataFolder() / "images" / "600x480Background.bmp").string().c_str()));
    ASSERT_TRUE(screen.create(600, 480, 4));
    int32_t slotRight = 8;
    while (slotRight + 1 < background.width && pixelAt(background, slotRight + 1, 79 - 13) == 0) ++slotRight;
    ASSERT_EQ(pixelAt(background, slotRight + 1, 87 - 13), pixelAt(background, 7, 87 - 13));
    // The title panel's black interior, along the title's top row, ends where tools say.
    int32_t titleRight = titleLeft;
    while (titleRight + 1 < background.width && pixelAt(background, titleRight + 1, titleTop - 13) == 0)
        ++titleRight;
    EXPECT_EQ(titleRight + 1, titlePanelRight);
    int rhythms = 0, playlists = 0;
    for (const auto& file : fs::directory_iterator(dataFolder() / "rhythms")) {
        std::string path = file.path().string();
        ASSERT_LT(path.size(), static_cast<size_t>(selectedPathSize));
        std::strcpy(app->selectedPath, path.c_str());
        if (file.path().extension() == ".krf") {
            app->loadRhythmRequested = true;
            app->loadRhythm();
            ASSERT_EQ(app->entryCount, 1);
            EXPECT_TRUE(app->entries[0].playable()) << path;
            EXPECT_LE(app->entries[0].stepCount, 224) << path;
            EXPECT_FALSE(app->entries[0].title.empty()) << path;
            // The whole title shows: nothing right of the panel's interior changes.
            app->drawScreen(screen);
            for (int32_t y = titleTop; y < titleTop + titleLetterSize; ++y)
                for (int32_t x = titleRight + 1; x < screen.width; ++x)
                    ASSERT_EQ(pixelAt(screen, x, y), pixelAt(background, x, y - 13))
                        << path << ": the title leaves its panel at x " << x;
            ++rhythms;
        } else if (file.path().extension() == ".krp") {
            app->loadPlaylistRequested = true;
            app->loadPlaylist();
            EXPECT_GT(app->entryCount, 1) << path;
            for (int i = 0; i < app->entryCount; ++i) {
                EXPECT_TRUE(app->entries[i].playable()) << path << " entry " << i;
                EXPECT_GT(app->entries[i].repeatCount, 0) << path << " entry " << i;
                // The notice announcing the entry after this one stays inside its slot:
                // on the notice's rows nothing right of the slot's interior changes.
                app->currentEntry = i;
                app->entries[i].repeatsDone.store(app->entries[i].repeatCount - 1);
                app->drawScreen(screen);
                for (int32_t y = 80; y < 95; ++y)
                    for (int32_t x = slotRight + 1; x < 417; ++x)
                        ASSERT_EQ(pixelAt(screen, x, y), pixelAt(background, x, y - 13))
                            << path << ": the notice after entry " << i << " leaves its slot at x " << x;
                app->entries[i].repeatsDone.store(0);
            }
            app->currentEntry = 0;
            ++playlists;
        }
    }
    EXPECT_GE(rhythms, 24);
    EXPECT_GE(playlists, 3);
    EXPECT_TRUE(headless::messageBoxes().empty())
        << headless::messageBoxes().front().text;
}

}  // namespace
