// Playlists: pairs of lines naming rhythm files relative to the playlist's folder, each with
// its repeat count; what the learner sees when one cannot be used.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "platform/headless/headless.h"
#include "tests/support/test_support.h"
#include "tests/support/tutor_fixture.h"

namespace {

namespace fs = std::filesystem;

class Playlist : public testing_support::TutorFixture {
protected:
    void SetUp() override {
        TutorFixture::SetUp();
        folder = testing_support::makeTempFolder("playlist");
        fs::create_directory(folder / "slow");
        rhythm("basic.krf", "Basic\n100\n2\nD-t-T-k-\n");
        rhythm("fast.krf", "Fast\n180\n4\nD-tkD-tk\n");
        rhythm("slow/basic.krf", "Slow Basic\n60\n1\nD-T-\n");
    }
    void TearDown() override {
        fs::remove_all(folder);
        TutorFixture::TearDown();
    }
    void rhythm(const std::string& name, const std::string& text) {
        testing_support::writeFile(folder / name, text);
    }
    // Writes a playlist and loads it as the frame update would.
    void load(const std::string& text, const std::string& name = "practice.krp") {
        testing_support::writeFile(folder / name, text);
        std::strcpy(app->selectedPath, (folder / name).string().c_str());
        app->loadPlaylistRequested = true;
        app->loadPlaylist();
    }
    std::vector<std::string> boxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : headless::messageBoxes()) texts.push_back(box.text);
        return texts;
    }
    fs::path folder;
};

TEST_F(Playlist, PairsBecomeEntriesWithTheirRepeatCounts) {
    // A rhythm named again shares its first entry's images.
    load("basic.krf\n2\nfast.krf\n1\nbasic.krf\n3\n");
    ASSERT_EQ(app->entryCount, 3);
    EXPECT_EQ(app->entries[2].titleImage, app->entries[0].titleImage);
    EXPECT_EQ(app->entries[2].notationImage, app->entries[0].notationImage);
    EXPECT_NE(app->entries[1].titleImage, app->entries[0].titleImage);
    EXPECT_EQ(app->entries[2].repeatCount, 3);

    load("basic.krf\n2\nfast.krf\n4\nslow/basic.krf\n1\n");
    ASSERT_EQ(app->entryCount, 3);
    EXPECT_EQ(app->entries[0].title, "Basic");
    EXPECT_EQ(app->entries[0].repeatCount, 2);
    EXPECT_EQ(app->entries[1].title, "Fast");
    EXPECT_EQ(app->entries[1].repeatCount, 4);
    EXPECT_EQ(app->entries[2].title, "Slow Basic");
    EXPECT_TRUE(app->rhythmLoaded);
    EXPECT_TRUE(app->beatFlag.load());
    EXPECT_EQ(app->currentEntry, 0);
    EXPECT_EQ(app->tempo, 100);
    EXPECT_FALSE(app->loadPlaylistRequested);
    EXPECT_EQ(app->playState, Stopped) << "loading does not start playback";
    EXPECT_TRUE(headless::messageBoxes().empty());
}

TEST_F(Playlist, BackslashesCarriageReturnsAndALastLineWithoutNewline) {
    testing_support::writeFile(folder / "dos.krp", "fast.krf\r\n3\r\nslow\\basic.krf\r\n2");
    std::string path = folder.string() + "\\dos.krp";
    std::strcpy(app->selectedPath, path.c_str());
    app->loadPlaylistRequested = true;
    app->loadPlaylist();
    EXPECT_EQ(std::string(app->selectedPath), (folder / "dos.krp").string());
    ASSERT_EQ(app->entryCount, 2) << (boxTexts().empty() ? "" : boxTexts()[0]);
    EXPECT_EQ(app->entries[0].repeatCount, 3);
    EXPECT_EQ(app->entries[1].title, "Slow Basic");
    EXPECT_EQ(app->entries[1].repeatCount, 2);
}

TEST_F(Playlist, CountsWithoutDigitsReadAsZero) {
    load("basic.krf\nforever\nfast.krf\n 7 times\n");
    ASSERT_EQ(app->entryCount, 2);
    EXPECT_EQ(app->entries[0].repeatCount, 0);
    EXPECT_EQ(app->entries[1].repeatCount, 7);
}

TEST_F(Playlist, AnOddNumberOfLinesIsReportedAndTheLastEntryRepeats) {
    load("basic.krf\n2\nfast.krf\n1\nbasic.krf\n");
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Error in playlist file: odd number of lines."});
    EXPECT_EQ(headless::messageBoxes()[0].caption, "Playlist Error");
    ASSERT_EQ(app->entryCount, 3);
    EXPECT_EQ(app->entries[2].repeatCount, 0);
}

TEST_F(Playlist, AMissingRhythmKeepsThePreviousRhythm) {
    loadNotations({"D-t-"}, 90, 1);
    RhythmEntry* previous = app->entries;
    load("basic.krf\n2\nmissing.krf\n1\n");
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"Error Reading File", "Error loading the playlist"}));
    EXPECT_EQ(app->entries, previous);
    EXPECT_EQ(app->entryCount, 1);
    EXPECT_EQ(app->tempo, 90);
    EXPECT_FALSE(app->loadPlaylistRequested);
}

TEST_F(Playlist, AnAbsolutePathLineStillGetsTheFolderAndFails) {
    load((folder / "basic.krf").string() + "\n1\n");
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"Error Reading File", "Error loading the playlist"}));
    EXPECT_EQ(app->entries, nullptr);
}

TEST_F(Playlist, EmptyOrMissingPlaylistsAreRefused) {
    load("");
    ASSERT_EQ(headless::messageBoxes().size(), 1u);
    EXPECT_EQ(headless::messageBoxes()[0].caption, "Playlist Error");
    EXPECT_EQ(app->entries, nullptr);
    EXPECT_FALSE(app->rhythmLoaded);
    headless::clearMessageBoxes();
    std::strcpy(app->selectedPath, (folder / "none.krp").string().c_str());
    app->loadPlaylist();
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Error Reading File"});
    EXPECT_FALSE(app->rhythmLoaded);
}

TEST_F(Playlist, OnlyPlainFilesAreReadAndNothingUnusableReplacesTheRhythm) {
    load("basic.krf\n2\n");
    ASSERT_EQ(app->entryCount, 1);
    // A folder, a pipe (reachable from a playlist through "../"), a count too large, and
    // more entries than any lesson: each refused with its box, the loaded entries kept.
    ASSERT_EQ(mkfifo((folder / "pipe.krf").c_str(), 0600), 0);
    std::string many;
    for (int i = 0; i < 1001; ++i) many += "basic.krf\n1\n";
    struct Case {
        std::string playlist;
        std::vector<std::string> boxes;
    };
    const std::vector<Case> cases = {
        {"slow\n1\n", {"Error Reading File", "Error loading the playlist"}},
        {"slow/../pipe.krf\n1\n", {"Error Reading File", "Error loading the playlist"}},
        {"basic.krf\n4294967296\n",
         {"The count on line 2 of " + (folder / "practice.krp").string() + " is too large."}},
        {many, {"The playlist names more than 1000 rhythm files; the current rhythm stays loaded."}},
    };
    for (const Case& c : cases) {
        headless::clearMessageBoxes();
        load(c.playlist);
        EXPECT_EQ(boxTexts(), c.boxes) << c.playlist.substr(0, 40);
        ASSERT_EQ(app->entryCount, 1);
        EXPECT_EQ(app->entries[0].title, "Basic");
    }
    // A folder given as the playlist itself.
    headless::clearMessageBoxes();
    std::strcpy(app->selectedPath, (folder / "slow").string().c_str());
    app->loadPlaylist();
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Error Reading File"});
    // Blank lines after the last pair are no entry.
    headless::clearMessageBoxes();
    load("fast.krf\n3\n\n\n");
    EXPECT_TRUE(headless::messageBoxes().empty());
    EXPECT_EQ(app->entryCount, 1);
    EXPECT_EQ(app->entries[0].title, "Fast");
}

}  // namespace
