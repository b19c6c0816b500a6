// The notation parser: each character's sound and glyph, the rows of the notation image,
// characters outside the alphabet, long notations and re-parsing.
#include <gtest/gtest.h>

#include <string>

#include "rhythm/rhythm_file.h"
#include "tests/support/sheets.h"
#include "tutor/tutor_app.h"

namespace {

class NotationParserTest : public ::testing::Test {
protected:
    void SetUp() override { sheets::makeSheet(app.rhythmNotes, sheets::glyphTag, 9, 2, 20, 20); }

    void parse(const std::string& notation) {
        app.parseNotation(notation.c_str(), glyphCellSize, glyphCellSize, stepsPerRow,
                          maxNotationRows, app.rhythmNotes, &entry);
    }
    // The glyph of cell in the sheet's lower row fills the 20 x 20 block at (x, y).
    bool glyphAt(int cell, int x, int y) const {
        return sheets::blockIs(*entry.notationImage, x, y, 20, 20,
                               sheets::cellColour(sheets::glyphTag, cell, 1));
    }
    void expectTopRowCell(int step, int cell) const {
        const SpriteRect& rect = entry.glyphRects[step];
        EXPECT_EQ(rect.left, cell * 20) << "step " << step;
        EXPECT_EQ(rect.top, 0) << "step " << step;
        EXPECT_EQ(rect.right, cell * 20 + 20) << "step " << step;
        EXPECT_EQ(rect.bottom, 20) << "step " << step;
    }

    TutorApp app;
    RhythmEntry entry;
};

TEST_F(NotationParserTest, BasicStepsGetTheirSoundsGlyphsAndOneRow) {
    parse("D-t-T-k-");
    ASSERT_EQ(entry.stepCount, 8);
    SoundSlot* const sounds[] = {&app.doumSlot, nullptr, &app.tekSlot, nullptr,
                                 &app.tekSlot,  nullptr, &app.tekSlot, nullptr};
    const int cells[] = {3, 8, 1, 8, 4, 8, 2, 8};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(entry.stepSounds[i], sounds[i]) << "step " << i;
        expectTopRowCell(i, cells[i]);
        EXPECT_TRUE(glyphAt(cells[i], 20 * i, 0)) << "step " << i;
    }
    EXPECT_EQ(entry.notationImage->width, 160);
    EXPECT_EQ(entry.notationImage->height, 20);
    EXPECT_EQ(entry.notationImage->bytesPerPixel, 4);
}

TEST_F(NotationParserTest, WholeAlphabet) {
    parse("dtkDTKPS-");
    SoundSlot* const sounds[] = {&app.doumSlot, &app.tekSlot,     &app.tekSlot,
                                 &app.doumSlot, &app.tekSlot,     &app.tekSlot,
                                 &app.halfTekSlot, &app.slapSlot, nullptr};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(entry.stepSounds[i], sounds[i]) << "step " << i;
        expectTopRowCell(i, i);
        EXPECT_TRUE(glyphAt(i, 20 * i, 0)) << "step " << i;
    }
}

TEST_F(NotationParserTest, RowsOfTwentyEightSteps) {
    parse(std::string(28, 'T'));
    EXPECT_EQ(entry.notationImage->width, 560);
    EXPECT_EQ(entry.notationImage->height, 20);
    EXPECT_TRUE(glyphAt(4, 540, 0));

    parse(std::string(28, 'T') + "S");
    EXPECT_EQ(entry.notationImage->width, 560);
    EXPECT_EQ(entry.notationImage->height, 40);
    EXPECT_TRUE(glyphAt(7, 0, 20));
    // The rest of the second row stays black.
    EXPECT_TRUE(sheets::blockIs(*entry.notationImage, 20, 20, 540, 20, 0));

    std::string full;
    for (int i = 0; i < 224; ++i) full += "dtkDTKPS-"[i % 9];
    parse(full);
    EXPECT_EQ(entry.stepCount, 224);
    EXPECT_EQ(entry.notationImage->width, 560);
    EXPECT_EQ(entry.notationImage->height, 160);
    for (int i : {0, 27, 28, 100, 223})
        EXPECT_TRUE(glyphAt(i % 9, 20 * (i % 28), 20 * (i / 28))) << "step " << i;
}

TEST_F(NotationParserTest, CharactersOutsideTheAlphabetAreRestsShowingTheFirstGlyph) {
    parse("spM5 \x80");
    ASSERT_EQ(entry.stepCount, 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(entry.stepSounds[i], nullptr) << "step " << i;
        expectTopRowCell(i, 0);
        EXPECT_TRUE(glyphAt(0, 20 * i, 0)) << "step " << i;
    }
}

TEST_F(NotationParserTest, StepsBeyondEightRowsStillSoundAndHaveGlyphCells) {
    parse(std::string(224, '-') + "DtKPS-");
    ASSERT_EQ(entry.stepCount, 230);
    EXPECT_EQ(entry.notationImage->height, 160);
    SoundSlot* const sounds[] = {&app.doumSlot,    &app.tekSlot,  &app.tekSlot,
                                 &app.halfTekSlot, &app.slapSlot, nullptr};
    const int cells[] = {3, 1, 5, 6, 7, 8};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(entry.stepSounds[224 + i], sounds[i]) << "step " << 224 + i;
        expectTopRowCell(224 + i, cells[i]);
    }
    // The last laid-out row holds rests only: nothing beyond step 223 was drawn over it.
    EXPECT_TRUE(glyphAt(8, 0, 140));
    EXPECT_TRUE(glyphAt(8, 540, 140));
}

TEST_F(NotationParserTest, ReparsingReplacesEverything) {
    parse(std::string(40, 'D'));
    const Surface* firstImage = entry.notationImage;
    ASSERT_NE(firstImage, nullptr);
    parse("S-");
    EXPECT_EQ(entry.stepCount, 2);
    EXPECT_EQ(entry.notationImage->width, 40);
    EXPECT_EQ(entry.notationImage->height, 20);
    EXPECT_EQ(entry.stepSounds[0], &app.slapSlot);
    EXPECT_EQ(entry.stepSounds[1], nullptr);
    expectTopRowCell(0, 7);
    expectTopRowCell(1, 8);
    EXPECT_TRUE(glyphAt(7, 0, 0));
    // Under AddressSanitizer the leak check at exit catches parts not released.
}

TEST_F(NotationParserTest, EmptyNotationHasNoStepsAndNoPixels) {
    parse("");
    EXPECT_EQ(entry.stepCount, 0);
    ASSERT_NE(entry.notationImage, nullptr);
    EXPECT_EQ(entry.notationImage->width, 0);
    EXPECT_EQ(entry.notationImage->pixels, nullptr);
    EXPECT_FALSE(entry.playable());
}

}  // namespace
