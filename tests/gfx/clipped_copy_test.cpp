// The clipped copy: worked examples and edges.
#include <gtest/gtest.h>

#include <cstring>

#include "gfx/surface.h"

namespace {

// A surface whose pixel (x, y) holds a colour made from its position, so every copied
// pixel shows where it came from.
void paintCoordinates(Surface& surface) {
    for (int32_t y = 0; y < surface.height; ++y)
        for (int32_t x = 0; x < surface.width; ++x) {
            uint8_t* pixel = surface.rowShown(y) + x * 4;
            pixel[0] = static_cast<uint8_t>(x);
            pixel[1] = static_cast<uint8_t>(y);
            pixel[2] = 0xEE;
        }
}

struct Colour {
    int blue, green, red;
};
Colour at(const Surface& surface, int32_t x, int32_t y) {
    const uint8_t* pixel = surface.rowShown(y) + x * 4;
    return Colour{pixel[0], pixel[1], pixel[2]};
}

bool rectIs(const SpriteRect& rect, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    return rect.left == left && rect.top == top && rect.right == right && rect.bottom == bottom;
}

class ClippedCopy : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(screen.create(600, 480, 4)); }
    int countPainted() const {
        int painted = 0;
        for (int32_t y = 0; y < screen.height; ++y)
            for (int32_t x = 0; x < screen.width; ++x) painted += at(screen, x, y).red == 0xEE;
        return painted;
    }
    Surface screen;
};

TEST_F(ClippedCopy, UnclippedRectangleLandsWhereAsked) {
    Surface source;
    ASSERT_TRUE(source.create(150, 150, 4));
    paintCoordinates(source);
    SpriteRect rect{0, 0, 150, 150};
    screen.copyFrom(source, 225, 80, rect);
    EXPECT_TRUE(rectIs(rect, 0, 0, 150, 150));
    EXPECT_EQ(at(screen, 225, 80).blue, 0);
    EXPECT_EQ(at(screen, 374, 229).blue, 149);
    EXPECT_EQ(at(screen, 374, 229).green, 149);
    EXPECT_EQ(countPainted(), 150 * 150);
}

TEST_F(ClippedCopy, ClipsAtTheLeftAndTopAndWritesTheRectangleBack) {
    Surface source;
    ASSERT_TRUE(source.create(100, 50, 4));
    paintCoordinates(source);
    SpriteRect rect{10, 5, 60, 45};
    screen.copyFrom(source, -20, -15, rect);
    EXPECT_TRUE(rectIs(rect, 30, 20, 60, 45));
    EXPECT_EQ(at(screen, 0, 0).blue, 30);
    EXPECT_EQ(at(screen, 0, 0).green, 20);
    EXPECT_EQ(at(screen, 29, 24).blue, 59);
    EXPECT_EQ(at(screen, 29, 24).green, 44);
    EXPECT_EQ(countPainted(), 30 * 25);
}

TEST_F(ClippedCopy, ClipsAtTheRightAndBottom) {
    Surface source;
    ASSERT_TRUE(source.create(150, 150, 4));
    paintCoordinates(source);
    SpriteRect rect{0, 0, 150, 150};
    screen.copyFrom(source, 500, 400, rect);
    EXPECT_TRUE(rectIs(rect, 0, 0, 100, 80));
    EXPECT_EQ(at(screen, 599, 479).blue, 99);
    EXPECT_EQ(at(screen, 599, 479).green, 79);
    EXPECT_EQ(countPainted(), 100 * 80);
}

TEST_F(ClippedCopy, BackgroundBelowTheTopRowsLosesItsLastRows) {
    Surface background;
    ASSERT_TRUE(background.create(600, 480, 4));
    paintCoordinates(background);
    SpriteRect rect{0, 0, 600, 480};
    screen.copyFrom(background, 0, 13, rect);
    EXPECT_TRUE(rectIs(rect, 0, 0, 600, 467));
    EXPECT_EQ(at(screen, 0, 12).red, 0);
    EXPECT_EQ(at(screen, 5, 13).green, 0);
    EXPECT_EQ(at(screen, 5, 479).green, 466 % 256);  // background row 466
}

TEST_F(ClippedCopy, RectanglesOutsideCopyNothingAndStayUnchanged) {
    Surface source;
    ASSERT_TRUE(source.create(30, 20, 4));
    paintCoordinates(source);
    struct Case {
        int32_t x, y;
    };
    for (Case c : {Case{600, 0}, Case{0, 480}, Case{0, -20}, Case{-30, 0}, Case{1000, 1000},
                   Case{-500, -500}}) {
        SpriteRect rect{0, 0, 30, 20};
        screen.copyFrom(source, c.x, c.y, rect);
        EXPECT_TRUE(rectIs(rect, 0, 0, 30, 20)) << c.x << "," << c.y;
    }
    EXPECT_EQ(countPainted(), 0);
}

TEST_F(ClippedCopy, ExactFillOnePixelAndEmptyRectangles) {
    Surface whole;
    ASSERT_TRUE(whole.create(600, 480, 4));
    paintCoordinates(whole);
    SpriteRect all{0, 0, 600, 480};
    screen.copyFrom(whole, 0, 0, all);
    EXPECT_TRUE(rectIs(all, 0, 0, 600, 480));
    EXPECT_EQ(std::memcmp(screen.pixels, whole.pixels, size_t(480) * 2400), 0);

    Surface blank;
    ASSERT_TRUE(blank.create(600, 480, 4));
    SpriteRect one{7, 9, 8, 10};
    blank.copyFrom(whole, 3, 4, one);
    EXPECT_EQ(at(blank, 3, 4).blue, 7);
    EXPECT_EQ(at(blank, 3, 4).green, 9);
    int painted = 0;
    for (int32_t y = 0; y < 480; ++y)
        for (int32_t x = 0; x < 600; ++x) painted += at(blank, x, y).red == 0xEE;
    EXPECT_EQ(painted, 1);

    Surface untouched;
    ASSERT_TRUE(untouched.create(600, 480, 4));
    SpriteRect emptyWide{5, 5, 5, 9};
    SpriteRect emptyTall{5, 5, 9, 5};
    untouched.copyFrom(whole, 0, 0, emptyWide);
    untouched.copyFrom(whole, 0, 0, emptyTall);
    for (int32_t i = 0; i < 2400 * 480; ++i) ASSERT_EQ(untouched.pixels[i], 0);
}

TEST_F(ClippedCopy, BlackOverwritesAndTheTopRowStaysOnTop) {
    screen.fill(200, 200, 200);
    Surface source;
    ASSERT_TRUE(source.create(4, 3, 4));
    source.fill(255, 0, 0);                   // blue everywhere
    for (int32_t x = 0; x < 4; ++x) source.rowShown(0)[x * 4 + 2] = 255, source.rowShown(0)[x * 4] = 0;  // red top row
    source.rowShown(2)[0] = 0;                // one black pixel at (0, 2)
    SpriteRect rect{0, 0, 4, 3};
    screen.copyFrom(source, 0, 0, rect);
    EXPECT_EQ(at(screen, 2, 0).red, 255);
    EXPECT_EQ(at(screen, 2, 0).blue, 0);
    EXPECT_EQ(at(screen, 2, 1).blue, 255);
    EXPECT_EQ(at(screen, 0, 2).blue, 0);
    EXPECT_EQ(at(screen, 0, 2).red, 0);
    // The top row shown is stored last in memory.
    EXPECT_EQ(screen.pixels[size_t(479) * 2400 + 2], 255);
}

TEST_F(ClippedCopy, NeverReadsOutsideTheSourceNorAcrossDepths) {
    // A sheet smaller than the rectangle asked of it, as a wrong image file would be.
    Surface small;
    ASSERT_TRUE(small.create(100, 100, 4));
    paintCoordinates(small);
    SpriteRect rect{50, 60, 200, 250};
    screen.copyFrom(small, 10, 20, rect);
    EXPECT_TRUE(rectIs(rect, 50, 60, 100, 100));
    EXPECT_EQ(countPainted(), 50 * 40);
    EXPECT_EQ(at(screen, 10, 20).blue, 50);
    EXPECT_EQ(at(screen, 59, 59).green, 99);
    // Left of and above the source: the part inside lands where it belongs.
    SpriteRect before{-30, -10, 20, 10};
    Surface clean;
    ASSERT_TRUE(clean.create(600, 480, 4));
    clean.copyFrom(small, 100, 100, before);
    EXPECT_TRUE(rectIs(before, 0, 0, 20, 10));
    EXPECT_EQ(at(clean, 130, 110).red, 0xEE);
    EXPECT_EQ(at(clean, 130, 110).blue, 0);
    EXPECT_NE(at(clean, 129, 110).red, 0xEE);
    // A 24-bit image into the 32-bit screen is refused outright.
    Surface shallow;
    ASSERT_TRUE(shallow.create(600, 480, 3));
    SpriteRect whole{0, 0, 600, 467};
    Surface target;
    ASSERT_TRUE(target.create(600, 480, 4));
    target.copyFrom(shallow, 0, 13, whole);
    EXPECT_EQ(at(target, 300, 300).red, 0);
}

}  // namespace
