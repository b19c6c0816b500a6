// The rhythm file reader: the four lines, line ends, numbers, long lines, and the files it
// refuses with the message it shows.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "rhythm/file_kind.h"
#include "rhythm/playlist.h"
#include "rhythm/rhythm_file.h"
#include "tests/support/sheets.h"
#include "tests/support/test_support.h"
#include "tutor/loading.h"
#include "tutor/tutor_app.h"

namespace {

class RhythmFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::resetWorld();
        folder = testing_support::makeTempFolder("rhythm-file");
        sheets::makeSheet(app.largeLetters, sheets::largeTag, 14, 2, 30, 30);
        sheets::makeSheet(app.rhythmNotes, sheets::glyphTag, 9, 2, 20, 20);
    }
    void TearDown() override {
        std::filesystem::remove_all(folder);
        testing_support::resetWorld();
    }

    // Writes bytes to a file in the test folder and reads it into entry.
    bool read(const std::string& bytes, RhythmEntry& entry, const std::string& name = "r.krf") {
        testing_support::writeFile(folder / name, bytes);
        path = (folder / name).string();
        std::vector<char> buffer(path.begin(), path.end());
        buffer.push_back('\0');
        return app.readRhythmFile(&entry, buffer.data());
    }

    static void expectDefault(const RhythmEntry& entry) {
        EXPECT_EQ(entry.stepSounds, nullptr);
        EXPECT_EQ(entry.notationImage, nullptr);
        EXPECT_EQ(entry.titleImage, nullptr);
        EXPECT_EQ(entry.glyphRects, nullptr);
        EXPECT_TRUE(entry.title.empty());
        EXPECT_EQ(entry.stepCount, 0);
        EXPECT_EQ(entry.tempo, 0);
        EXPECT_EQ(entry.subdivision, 0);
        EXPECT_EQ(entry.stepTime.load(), 0.0);
        EXPECT_FALSE(entry.playable());
    }

    // Exactly one "File Error" warning box without owner, with this text.
    static void expectOneBox(const std::string& text) {
        const auto& boxes = headless::messageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, text);
        EXPECT_EQ(boxes[0].caption, "File Error");
        EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONWARNING));
        EXPECT_EQ(boxes[0].owner, nullptr);
    }

    std::filesystem::path folder;
    std::string path;
    TutorApp app;
};

TEST_F(RhythmFileTest, BasicEight) {
    RhythmEntry entry;
    ASSERT_TRUE(read("Basic Eight\n100\n2\nD-t-T-k-D-S-tkP-\n", entry));
    EXPECT_TRUE(headless::messageBoxes().empty());
    EXPECT_EQ(entry.title, "Basic Eight");
    ASSERT_NE(entry.titleImage, nullptr);
    EXPECT_EQ(entry.titleImage->width, 330);
    EXPECT_EQ(entry.titleImage->height, 30);
    EXPECT_EQ(entry.tempo, 100);
    EXPECT_EQ(entry.subdivision, 2);
    ASSERT_EQ(entry.stepCount, 16);
    EXPECT_EQ(entry.notationImage->width, 320);
    EXPECT_EQ(entry.notationImage->height, 20);
    EXPECT_DOUBLE_EQ(entry.stepTime.load(), 0.3);
    EXPECT_EQ(entry.stepSounds[9], nullptr);
    EXPECT_EQ(entry.stepSounds[10], &app.slapSlot);
    EXPECT_EQ(entry.stepSounds[14], &app.halfTekSlot);
    EXPECT_EQ(entry.glyphRects[15].left, 160);
    EXPECT_TRUE(entry.playable());
}

TEST_F(RhythmFileTest, BackslashesBecomeSlashesInTheCallersBuffer) {
    std::filesystem::create_directory(folder / "rhythms");
    testing_support::writeFile(folder / "rhythms" / "basic.krf", "Ayoub\n90\n2\nD-tk\n");
    const std::string typed = folder.string() + "\\rhythms\\basic.krf";
    char buffer[selectedPathSize] = {};
    ASSERT_LT(typed.size(), sizeof buffer);
    typed.copy(buffer, typed.size());
    RhythmEntry entry;
    ASSERT_TRUE(app.readRhythmFile(&entry, buffer));
    EXPECT_EQ(std::string(buffer), (folder / "rhythms" / "basic.krf").string());
    EXPECT_EQ(entry.title, "Ayoub");
}

TEST_F(RhythmFileTest, CrLfAndLfFilesReadAlike) {
    RhythmEntry lf;
    RhythmEntry crlf;
    ASSERT_TRUE(read("Malfuf\n120\n4\nD--T--T-\n", lf, "lf.krf"));
    ASSERT_TRUE(read("Malfuf\r\n120\r\n4\r\nD--T--T-\r\n", crlf, "crlf.krf"));
    EXPECT_EQ(crlf.title, lf.title);
    EXPECT_EQ(crlf.titleImage->width, lf.titleImage->width);
    EXPECT_EQ(crlf.tempo, lf.tempo);
    EXPECT_EQ(crlf.subdivision, lf.subdivision);
    ASSERT_EQ(crlf.stepCount, lf.stepCount);
    for (int i = 0; i < lf.stepCount; ++i) {
        EXPECT_EQ(crlf.stepSounds[i], lf.stepSounds[i]) << i;
        EXPECT_EQ(crlf.glyphRects[i].left, lf.glyphRects[i].left) << i;
    }
    EXPECT_EQ(crlf.notationImage->width, 160);
    EXPECT_EQ(crlf.stepTime.load(), 0.125);
}

TEST_F(RhythmFileTest, LastLineWithoutNewlineKeepsItsLastStep) {
    RhythmEntry entry;
    ASSERT_TRUE(read("Wahda\n100\n4\nD--T", entry));
    ASSERT_EQ(entry.stepCount, 4);
    EXPECT_EQ(entry.stepSounds[3], &app.tekSlot);
    RhythmEntry crlf;
    ASSERT_TRUE(read("Wahda\r\n100\r\n4\r\nD--T", crlf, "crlf.krf"));
    EXPECT_EQ(crlf.stepCount, 4);
}

TEST_F(RhythmFileTest, ByteOrderMarkBeforeTheTitleIsSkipped) {
    RhythmEntry entry;
    ASSERT_TRUE(read("\xEF\xBB\xBFSaidi\n110\n2\nD-T-\n", entry));
    EXPECT_EQ(entry.title, "Saidi");
    EXPECT_EQ(entry.titleImage->width, 150);
}

TEST_F(RhythmFileTest, NumbersAreLeadingIntegers) {
    RhythmEntry entry;
    ASSERT_TRUE(read("Fallahi\n120 bpm\n  +4 steps a beat\nD-T-\n", entry));
    EXPECT_EQ(entry.tempo, 120);
    EXPECT_EQ(entry.subdivision, 4);
    EXPECT_EQ(entry.stepTime.load(), 0.125);

    int32_t value = 7;
    EXPECT_TRUE(leadingInteger("2147483647", value));
    EXPECT_EQ(value, 2147483647);
    EXPECT_TRUE(leadingInteger("-12x", value));
    EXPECT_EQ(value, -12);
    EXPECT_FALSE(leadingInteger("2147483648", value));
    EXPECT_FALSE(leadingInteger("fast", value));
    EXPECT_FALSE(leadingInteger("- 5", value));
    EXPECT_FALSE(leadingInteger("", value));
}

TEST_F(RhythmFileTest, LongLinesAreReadInPartsAndLaterLinesIgnored) {
    // 255 characters fill one read; the rest of that line is read as line 2.
    RhythmEntry entry;
    ASSERT_TRUE(read(std::string(255, 'a') + "120\n4\nD-T-\nnot read\n", entry));
    EXPECT_EQ(entry.title, std::string(255, 'a'));
    EXPECT_EQ(entry.titleImage->width, 900);
    EXPECT_EQ(entry.titleImage->height, 30);
    EXPECT_EQ(entry.tempo, 120);
    EXPECT_EQ(entry.subdivision, 4);
    EXPECT_EQ(entry.stepCount, 4);

    // 255 characters and the line end are one line.
    RhythmEntry fits;
    ASSERT_TRUE(read(std::string(255, 'b') + "\r\n90\n3\nD-T-\n", fits, "fits.krf"));
    EXPECT_EQ(fits.title.size(), 255u);
    EXPECT_EQ(fits.tempo, 90);

    // A 255-step notation keeps every step, sounding, beyond the eight laid-out rows.
    RhythmEntry longest;
    ASSERT_TRUE(read("Long\n100\n4\n" + std::string(254, '-') + "S\n", longest, "long.krf"));
    ASSERT_EQ(longest.stepCount, 255);
    EXPECT_EQ(longest.stepSounds[254], &app.slapSlot);
    EXPECT_EQ(longest.notationImage->height, 160);
}

TEST_F(RhythmFileTest, RefusedFilesSayWhatAndWhereAndLeaveTheEntryDefault) {
    const std::string positive = " must be a positive whole number.";
    struct Case {
        std::string bytes;
        int line;
        std::string message;  // after the path is put in
    };
    const std::vector<Case> cases = {
        {"Ayoub\nfast\n2\nD-T-\n", 2, "The tempo on line 2 of @" + positive},
        {"Ayoub\n0\n2\nD-T-\n", 2, "The tempo on line 2 of @" + positive},
        {"Ayoub\n-90\n2\nD-T-\n", 2, "The tempo on line 2 of @" + positive},
        {"Ayoub\n30001\n2\nD-T-\n", 2,
         "The tempo on line 2 of @ is too fast: 60002 steps a minute (tempo times "
         "subdivision); the tutor plays at most 60000, a step of 1 ms."},
        {"Ayoub\n90\n0\nD-T-\n", 3, "The subdivision on line 3 of @" + positive},
        {"Ayoub\n90\n\nD-T-\n", 3, "The subdivision on line 3 of @" + positive},
        {"Ayoub\n90\n99999999999\nD-T-\n", 3, "The subdivision on line 3 of @" + positive},
        {"Ayoub\n90\n2\n\nD-T-\n", 4, "The notation on line 4 of @ is empty."},
        {"Ayoub\r\n90\r\n2\r\n\r\n", 4, "The notation on line 4 of @ is empty."},
        {"Ayoub\n90\n2\n", 4,
         "Line 4 (the notation) of @ is missing: a rhythm file has four lines: title, tempo, "
         "subdivision and notation."},
        {"", 1,
         "Line 1 (the title) of @ is missing: a rhythm file has four lines: title, tempo, "
         "subdivision and notation."},
        {std::string(300, 'T') + "\n120\n2\nd-\n", 1,
         "The tempo on line 1 (from its character 256) of @" + positive},
        {std::string(600, 'T') + "\n", 2,
         "Line 2 (the notation) of @ is missing: a rhythm file has four lines: title, tempo, "
         "subdivision and notation."},
        {"Ayoub\n90\n2\nD-T-\n" + std::string(64 * 1024, '\n'), 0,
         "The file @ is larger than 64 KB: too large for a rhythm file, which is four short lines."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        headless::clearMessageBoxes();
        RhythmEntry entry;
        EXPECT_FALSE(read(c.bytes, entry));
        std::string message = c.message;
        message.replace(message.find('@'), 1, path);
        expectOneBox(message);
        expectDefault(entry);
        // The reader alone, with no tutor: the same message and the line at fault.
        std::FILE* file = std::fopen(path.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        RhythmText text;
        ReadProblem problem;
        EXPECT_FALSE(readRhythmText(file, path.c_str(), text, problem));
        std::fclose(file);
        EXPECT_EQ(problem.line, c.line);
        EXPECT_EQ(problem.text, message);
    }
}

// Sparse files of 2 GB, a rhythm file and a playlist that begin like real ones: each is
// refused with its box after reading its start, and the loaded rhythm stays.
TEST_F(RhythmFileTest, HugeFilesAreRefusedWithTheirBox) {
    for (const char* name : {"huge.krf", "huge.krp"}) {
        testing_support::writeFile(folder / name, "Ayoub\n90\n2\nD-T-\n");
        std::filesystem::resize_file(folder / name, std::uintmax_t{2} << 30);
    }
    RhythmEntry entry;
    std::string rhythm = (folder / "huge.krf").string();
    EXPECT_FALSE(app.readRhythmFile(&entry, rhythm.data()));
    expectOneBox("The file " + rhythm +
                 " is larger than 64 KB: too large for a rhythm file, which is four short lines.");
    headless::clearMessageBoxes();
    std::snprintf(app.selectedPath, selectedPathSize, "%s", (folder / "huge.krp").c_str());
    app.loadPlaylist();
    ASSERT_EQ(headless::messageBoxes().size(), 1u);
    EXPECT_EQ(headless::messageBoxes()[0].caption, "Playlist Error");
    EXPECT_EQ(headless::messageBoxes()[0].text,
              "The playlist is larger than 1 MB, more than any playlist of 1000 rhythm files; the "
              "current rhythm stays loaded.");
    EXPECT_FALSE(app.rhythmLoaded);
}

TEST_F(RhythmFileTest, MissingFileShowsErrorReadingFile) {
    RhythmEntry entry;
    std::string missing = (folder / "none.krf").string();
    EXPECT_FALSE(app.readRhythmFile(&entry, missing.data()));
    expectOneBox("Error Reading File");
    expectDefault(entry);

    headless::clearMessageBoxes();
    EXPECT_FALSE(app.readRhythmFile(&entry, nullptr));
    EXPECT_TRUE(headless::messageBoxes().empty());
}

TEST_F(RhythmFileTest, FailedCloseIsReported) {
    testing_support::writeFile(folder / "c.krf", "x");
    std::FILE* file = std::fopen((folder / "c.krf").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    // With its descriptor gone, closing the stream reports an error.
    ::close(fileno(file));
    closeRhythmFile(file);
    expectOneBox("File was not closed");
}

TEST_F(RhythmFileTest, StepTimeIsSixtyOverTempoOverSubdivision) {
    EXPECT_EQ(stepTimeFor(120, 4), 0.125);
    EXPECT_DOUBLE_EQ(stepTimeFor(100, 2), 0.3);
    EXPECT_DOUBLE_EQ(stepTimeFor(90, 3), 60.0 / 90.0 / 3.0);
    // The fastest file read: 60000 steps a minute.
    RhythmEntry entry;
    ASSERT_TRUE(read("Fast\n30000\n2\nd-\n", entry));
    EXPECT_DOUBLE_EQ(entry.stepTime.load(), 0.001);
}

}  // namespace

namespace {

// Every rhythm the program ships reads without a box, with the real sheets, into an entry the
// playback thread may play and whose notation fits the eight rows the screen shows.
TEST(ShippedRhythms, EveryFileReads) {
    testing_support::resetWorld();
    const auto data = testing_support::programFolder();
    if (!std::filesystem::is_directory(data / "rhythms")) GTEST_SKIP() << "no rhythms folder";
    TutorApp app;
    ASSERT_TRUE(app.largeLetters.loadBitmap((data / "images" / "lrgAlphaLetters.bmp").c_str()));
    ASSERT_TRUE(app.rhythmNotes.loadBitmap((data / "images" / "rhythmNotes.bmp").c_str()));
    int files = 0;
    for (const auto& item : std::filesystem::directory_iterator(data / "rhythms")) {
        if (item.path().extension() != ".krf") continue;
        ++files;
        SCOPED_TRACE(item.path().string());
        std::string path = item.path().string();
        RhythmEntry entry;
        EXPECT_TRUE(app.readRhythmFile(&entry, path.data()));
        EXPECT_TRUE(entry.playable());
        EXPECT_LE(entry.stepCount, stepsPerRow * maxNotationRows);
        EXPECT_FALSE(entry.title.empty());
    }
    EXPECT_GT(files, 0);
    EXPECT_TRUE(headless::messageBoxes().empty());
    testing_support::resetWorld();
}

// Saved under another name (.txt), every shipped rhythm and playlist still reads as its kind.
TEST(ShippedRhythms, ContentSaysTheKindTheNameSays) {
    const auto data = testing_support::programFolder() / "rhythms";
    if (!std::filesystem::is_directory(data)) GTEST_SKIP() << "no rhythms folder";
    for (const auto& item : std::filesystem::directory_iterator(data)) {
        FileKind named = FileKind::Rhythm;
        if (!kindFromName(item.path().string(), named)) continue;
        std::FILE* file = std::fopen(item.path().string().c_str(), "rb");
        ASSERT_NE(file, nullptr);
        EXPECT_TRUE(kindFromContent(file) == named) << item.path();
        std::fclose(file);
    }
}

}  // namespace

TEST(PlaylistReader, PairsOfPathsAndCountsRelativeToTheFolder) {
    const auto folder = testing_support::makeTempFolder("playlist");
    struct Case {
        std::string bytes;
        std::vector<std::pair<std::string, int32_t>> items;
        bool oddLines;
    };
    const std::vector<Case> cases = {
        {"a.krf\n2\nsub/b.krf\r\n1\r\n", {{"f/a.krf", 2}, {"f/sub/b.krf", 1}}, false},
        {"a.krf\nfast\nb.krf\n-3\n", {{"f/a.krf", 0}, {"f/b.krf", -3}}, false},
        {"a.krf\n2\n7b.krf\n", {{"f/a.krf", 2}, {"f/7b.krf", 7}}, true},
        {"", {}, false},
        {"a.krf\n2\n\n\r\n", {{"f/a.krf", 2}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        testing_support::writeFile(folder / "p.krp", c.bytes);
        std::FILE* file = std::fopen((folder / "p.krp").c_str(), "rb");
        ASSERT_NE(file, nullptr);
        const PlaylistText playlist = readPlaylistText(file, "f/");
        std::fclose(file);
        ASSERT_EQ(playlist.items.size(), c.items.size());
        for (std::size_t i = 0; i < c.items.size(); ++i) {
            EXPECT_EQ(playlist.items[i].path, c.items[i].first);
            EXPECT_EQ(playlist.items[i].repeatCount, c.items[i].second);
        }
        EXPECT_EQ(playlist.oddLines, c.oddLines);
    }
    std::filesystem::remove_all(folder);
}
