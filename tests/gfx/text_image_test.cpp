// Text images and drawText: which sheet cell lands where, which characters are skipped, how
// long texts are cut and wrapped.
#include <gtest/gtest.h>

#include <string>

#include "app/app_window.h"
#include "gfx/text_image.h"
#include "tests/support/sheets.h"
#include "tests/support/test_support.h"
#include "tutor/tutor_app.h"

namespace {

using sheets::cellColour;

// The colour a letter or space cell of a sheet has.
uint32_t letterColour(int tag, char character) {
    int32_t column = 0;
    int32_t row = 0;
    EXPECT_TRUE(letterCell(static_cast<unsigned char>(character), column, row)) << character;
    return cellColour(tag, column, row);
}

class TextImageTest : public ::testing::Test {
protected:
    void SetUp() override { sheets::makeSheet(large, sheets::largeTag, 14, 2, 30, 30); }

    // The 30 x 30 cell at x on line `line` of image shows character.
    bool showsAt(const Surface& image, char character, int x, int line = 0) const {
        return sheets::blockIs(image, x, line * 30, 30, 30, letterColour(sheets::largeTag, character));
    }

    Surface large;
};

TEST_F(TextImageTest, LetterCellsFollowTheSheetLayout) {
    int32_t column = -1;
    int32_t row = -1;
    ASSERT_TRUE(letterCell('M', column, row));
    EXPECT_EQ(column, 12);
    EXPECT_EQ(row, 0);
    ASSERT_TRUE(letterCell('n', column, row));
    EXPECT_EQ(column, 13);
    EXPECT_EQ(row, 0);
    ASSERT_TRUE(letterCell('O', column, row));
    EXPECT_EQ(column, 0);
    EXPECT_EQ(row, 1);
    ASSERT_TRUE(letterCell('z', column, row));
    EXPECT_EQ(column, 11);
    EXPECT_EQ(row, 1);
    ASSERT_TRUE(letterCell(' ', column, row));
    EXPECT_EQ(column, 12);
    EXPECT_EQ(row, 1);
    for (unsigned char other : {'0', '-', '@', '[', '`', '{', '\n', '\0', '\xC3'})
        EXPECT_FALSE(letterCell(other, column, row)) << int(other);
}

TEST_F(TextImageTest, MaqsumTitle) {
    auto image = makeTextImage("Maqsum", 30, 30, 30, 1, large);
    ASSERT_EQ(image->width, 180);
    ASSERT_EQ(image->height, 30);
    EXPECT_EQ(image->bytesPerPixel, 4);
    // M and m both come from rectangle (360, 0, 390, 30); q, s, u from the second row.
    EXPECT_TRUE(sheets::blockIs(*image, 0, 0, 30, 30, cellColour(sheets::largeTag, 12, 0)));
    EXPECT_TRUE(sheets::blockIs(*image, 30, 0, 30, 30, cellColour(sheets::largeTag, 0, 0)));
    EXPECT_TRUE(sheets::blockIs(*image, 60, 0, 30, 30, cellColour(sheets::largeTag, 2, 1)));
    EXPECT_TRUE(sheets::blockIs(*image, 90, 0, 30, 30, cellColour(sheets::largeTag, 4, 1)));
    EXPECT_TRUE(sheets::blockIs(*image, 120, 0, 30, 30, cellColour(sheets::largeTag, 6, 1)));
    EXPECT_TRUE(sheets::blockIs(*image, 150, 0, 30, 30, cellColour(sheets::largeTag, 12, 0)));
}

TEST_F(TextImageTest, SkippedCharactersCountTowardsTheWidthButLeaveNoGap) {
    auto hyphen = makeTextImage("Ab-c", 30, 30, 30, 1, large);
    ASSERT_EQ(hyphen->width, 120);
    EXPECT_TRUE(showsAt(*hyphen, 'A', 0));
    EXPECT_TRUE(showsAt(*hyphen, 'B', 30));
    EXPECT_TRUE(showsAt(*hyphen, 'C', 60));
    EXPECT_TRUE(sheets::blockIs(*hyphen, 90, 0, 30, 30, 0));

    auto digit = makeTextImage("Saidi 2", 30, 30, 30, 1, large);
    ASSERT_EQ(digit->width, 210);
    EXPECT_TRUE(showsAt(*digit, 'i', 120));
    EXPECT_TRUE(showsAt(*digit, ' ', 150));
    EXPECT_TRUE(sheets::blockIs(*digit, 180, 0, 30, 30, 0));
}

TEST_F(TextImageTest, LongTitlesAreCutOrWrapped) {
    const std::string letters = std::string(30, 'a') + "z";
    auto oneLine = makeTextImage(letters, 30, 30, 30, 1, large);
    ASSERT_EQ(oneLine->width, 900);
    ASSERT_EQ(oneLine->height, 30);
    EXPECT_TRUE(showsAt(*oneLine, 'a', 870));

    auto twoLines = makeTextImage(letters, 30, 30, 30, 2, large);
    ASSERT_EQ(twoLines->width, 900);
    ASSERT_EQ(twoLines->height, 60);
    EXPECT_TRUE(showsAt(*twoLines, 'a', 870, 0));
    EXPECT_TRUE(showsAt(*twoLines, 'z', 0, 1));
    EXPECT_TRUE(sheets::blockIs(*twoLines, 30, 30, 870, 30, 0));
}

TEST_F(TextImageTest, EmptyTitleHasNoPixelsAndCopiesNothing) {
    auto image = makeTextImage("", 30, 30, 30, 1, large);
    EXPECT_EQ(image->width, 0);
    EXPECT_EQ(image->height, 30);
    EXPECT_EQ(image->pixels, nullptr);

    Surface target;
    target.create(40, 40, 4);
    target.fill(9, 9, 9);
    SpriteRect whole{0, 0, image->width, image->height};
    target.copyFrom(*image, 0, 0, whole);
    EXPECT_TRUE(sheets::blockIs(target, 0, 0, 40, 40, 0x090909));
}

TEST_F(TextImageTest, SheetTooSmallIsNeverReadBeyondItsPixels) {
    Surface tiny;
    sheets::makeSheet(tiny, sheets::largeTag, 3, 1, 30, 30);
    auto image = makeTextImage("Bz", 30, 30, 30, 1, tiny);
    ASSERT_EQ(image->width, 60);
    EXPECT_TRUE(showsAt(*image, 'B', 0));
    EXPECT_TRUE(sheets::blockIs(*image, 30, 0, 30, 30, 0));
}

class DrawTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::resetWorld();
        sheets::makeSheet(app.smallLetters, sheets::smallTag, 14, 2, 15, 15);
        sheets::makeSheet(app.largeLetters, sheets::largeTag, 14, 2, 30, 30);
        sheets::makeSheet(app.numbers, sheets::numbersTag, 10, 1, 15, 15);
        appWindow.backBuffer = new Surface();
        appWindow.backBuffer->create(600, 480, 4);
    }
    void TearDown() override { testing_support::resetWorld(); }

    const Surface& screen() const { return *appWindow.backBuffer; }
    bool smallAt(char character, int x, int y = 80) const {
        return sheets::blockIs(screen(), x, y, 15, 15, letterColour(sheets::smallTag, character));
    }
    bool digitAt(int digit, int x, int y = 80) const {
        return sheets::blockIs(screen(), x, y, 15, 15, cellColour(sheets::numbersTag, digit, 0));
    }

    TutorApp app;
};

TEST_F(DrawTextTest, NoticeOfTheNextEntry) {
    app.drawText(*appWindow.backBuffer, "Maqsum in 3", 10, 80, false);
    const char name[] = "Maqsum";
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(smallAt(name[i], 10 + 15 * i)) << i;
    EXPECT_TRUE(smallAt(' ', 100));
    EXPECT_TRUE(smallAt('i', 115));
    EXPECT_TRUE(smallAt('n', 130));
    EXPECT_TRUE(smallAt(' ', 145));
    EXPECT_TRUE(digitAt(3, 160));
    EXPECT_TRUE(sheets::blockIs(screen(), 175, 80, 20, 15, 0));
    EXPECT_TRUE(sheets::blockIs(screen(), 10, 95, 200, 5, 0));
}

TEST_F(DrawTextTest, MinusSignIsSkippedAndNewlineLeftOut) {
    app.drawText(*appWindow.backBuffer, "Ab-12\n", 10, 80, false);
    EXPECT_TRUE(smallAt('A', 10));
    EXPECT_TRUE(smallAt('b', 25));
    EXPECT_TRUE(digitAt(1, 40));
    EXPECT_TRUE(digitAt(2, 55));
    EXPECT_TRUE(sheets::blockIs(screen(), 70, 80, 30, 15, 0));
}

TEST_F(DrawTextTest, LargeLettersWithDigitsAdvanceFifteen) {
    app.drawText(*appWindow.backBuffer, "A7B", 20, 100, true);
    EXPECT_TRUE(sheets::blockIs(screen(), 20, 100, 30, 30, letterColour(sheets::largeTag, 'A')));
    EXPECT_TRUE(digitAt(7, 50, 100));
    EXPECT_TRUE(sheets::blockIs(screen(), 65, 100, 30, 30, letterColour(sheets::largeTag, 'B')));
}

TEST_F(DrawTextTest, OneLineClippedAtTheEdges) {
    app.drawText(*appWindow.backBuffer, std::string(50, 'x').c_str(), 590, 475, false);
    // Only the top-left 10 x 5 of the first cell is inside the buffer.
    EXPECT_TRUE(sheets::blockIs(screen(), 590, 475, 10, 5, letterColour(sheets::smallTag, 'x')));
    EXPECT_TRUE(sheets::blockIs(screen(), 0, 0, 600, 475, 0));
}

}  // namespace
