// Start-up with parts of the data missing: which boxes the learner sees and what is tried.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/app_window.h"
#include "app/main_loop.h"
#include "platform/audio/audio.h"
#include "platform/headless/headless.h"
#include "tests/support/test_support.h"
#include "tutor/tutor_app.h"

namespace {

namespace fs = std::filesystem;

class StartUp : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::resetWorld();
        audio::setDefaultOutput(audio::OutputKind::Offline);
        previous = fs::current_path();
        folder = testing_support::makeTempFolder("startup");
        for (const char* part : {"images", "soundFont"})
            fs::copy(testing_support::programFolder() / part, folder / part,
                     fs::copy_options::recursive);
        fs::current_path(folder);
        ASSERT_TRUE(appWindow.create(GetModuleHandleA(nullptr), tutorWindowDesc()));
        app.window = appWindow.window;  // as the program entry hands it over
    }
    void TearDown() override {
        app.shutDown();
        fs::current_path(previous);
        fs::remove_all(folder);
        audio::setDefaultOutput(audio::OutputKind::Device);
        testing_support::resetWorld();
    }
    TutorApp app;
    fs::path folder, previous;
};

TEST_F(StartUp, SucceedsWithEverythingInPlaceAndShowsNothing) {
    EXPECT_TRUE(app.startUp());
    EXPECT_TRUE(headless::messageBoxes().empty());
    EXPECT_NE(app.rhythmNotes.pixels, nullptr);
}

TEST_F(StartUp, AMissingSampleShowsOneSoundErrorAndOpensNoImage) {
    fs::remove(folder / "soundFont" / "tek_front.wav");
    testing::internal::CaptureStderr();
    // The data is in the current folder, so only the file is named on standard error.
    EXPECT_FALSE(startTutor(app, (folder / "bin/").string()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("tabladex: soundFont/tek_front.wav: ") +
                  audio::errorString(audio::ErrFileNotFound) + "\n");
    ASSERT_EQ(headless::messageBoxes().size(), 1u);
    const auto& box = headless::messageBoxes()[0];
    EXPECT_EQ(box.caption, "Sound Error");
    EXPECT_EQ(box.text, audio::errorString(audio::ErrFileNotFound));
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(box.owner, appWindow.window);
    EXPECT_EQ(app.background.pixels, nullptr);
    // The other samples were all tried.
    EXPECT_NE(app.doumSlot.sound, nullptr);
    EXPECT_NE(app.halfTekSlot.sound, nullptr);
    EXPECT_NE(app.slapSlot.sound, nullptr);
}

TEST_F(StartUp, EachMissingSampleGetsItsOwnBox) {
    fs::remove(folder / "soundFont" / "doumBackClipped.wav");
    testing_support::writeFile(folder / "soundFont" / "slap_front.wav", "not a sound at all");
    EXPECT_FALSE(app.startUp());
    ASSERT_EQ(headless::messageBoxes().size(), 2u);
    EXPECT_NE(headless::messageBoxes()[0].text, headless::messageBoxes()[1].text)
        << "a missing file and an undecodable one read differently";
}

TEST_F(StartUp, WithoutAnyDataStandardErrorSaysWhereItWasLookedFor) {
    for (const char* part : {"images", "soundFont"}) fs::remove_all(folder / part);
    const std::string bin = (folder / "bin/").string();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(startTutor(app, bin));
    const std::string error = testing::internal::GetCapturedStderr();
    EXPECT_EQ(error.substr(0, error.find('\n')),
              "tabladex: the data folders (images, soundFont, rhythms, Help) were not found beside "
              "the program (" + bin + "), in " + bin + "../share/tabladex/ or in the current "
              "folder (" + fs::current_path().string() + ")");
    EXPECT_EQ(headless::messageBoxes().size(), 4u);
    for (const auto& box : headless::messageBoxes()) EXPECT_EQ(box.owner, appWindow.window);
}

TEST_F(StartUp, MissingImagesShowOneBoxAfterTryingAllTwelve) {
    fs::remove(folder / "images" / "slider.bmp");
    fs::remove(folder / "images" / "rhythmNotes.bmp");
    EXPECT_FALSE(app.startUp());
    ASSERT_EQ(headless::messageBoxes().size(), 1u);
    const auto& box = headless::messageBoxes()[0];
    EXPECT_EQ(box.text, "Error Loading Images");
    EXPECT_EQ(box.caption, "Image Error");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(box.owner, appWindow.window);
    // Every image after the first failure was still loaded.
    EXPECT_NE(app.playlistButtons.pixels, nullptr);
    EXPECT_NE(app.metronome.pixels, nullptr);
    // The controls are not laid out.
    EXPECT_EQ(app.controlRects[PlayButton].right, 0);
}

}  // namespace
