// Surfaces: creation, strides, failures, the fill, and the BMP loader.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "gfx/surface.h"
#include "platform/common/gdi_memory.h"
#include "tests/support/test_support.h"

namespace {

// Device contexts and bitmaps alive in this process.
int liveGdiObjects() {
#ifdef _WIN32
    return static_cast<int>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
#else
    return platform::liveGdiObjects();
#endif
}

// A BMP file: the file header, a 40-byte info header and the given pixel bytes.
std::string bmpFile(int32_t width, int32_t height, uint16_t bitCount, const std::string& pixels,
                    uint32_t pixelOffset = 54, char first = 'B', char second = 'M') {
    std::string bytes(54, '\0');
    auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
    };
    bytes[0] = first;
    bytes[1] = second;
    put32(2, static_cast<uint32_t>(54 + pixels.size()));
    put32(10, pixelOffset);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    bytes[26] = 1;
    bytes[28] = static_cast<char>(bitCount);
    return bytes + pixels;
}

class SurfaceTest : public ::testing::Test {
protected:
    void SetUp() override { folder = testing_support::makeTempFolder("surface"); }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::string write(const std::string& name, const std::string& bytes) {
        testing_support::writeFile(folder / name, bytes);
        return (folder / name).string();
    }
    std::filesystem::path folder;
};

TEST_F(SurfaceTest, StridesAreRoundedUpToFourBytes) {
    Surface small;
    ASSERT_TRUE(small.create(5, 2, 3));
    EXPECT_EQ(small.stride, 16);
    Surface screen;
    ASSERT_TRUE(screen.create(600, 480, 4));
    EXPECT_EQ(screen.stride, 2400);
    // New pixel memory is black.
    for (int32_t i = 0; i < screen.stride * screen.height; ++i) ASSERT_EQ(screen.pixels[i], 0);
}

TEST_F(SurfaceTest, UnsupportedDepthOrEmptySizeFailsWithoutPixels) {
    Surface surface;
    EXPECT_FALSE(surface.create(10, 10, 2));
    EXPECT_EQ(surface.width, 10);
    EXPECT_EQ(surface.height, 10);
    EXPECT_EQ(surface.bytesPerPixel, 2);
    EXPECT_EQ(surface.stride, 20);
    EXPECT_EQ(surface.pixels, nullptr);
    Surface empty;
    EXPECT_FALSE(empty.create(0, 30, 4));
    EXPECT_EQ(empty.pixels, nullptr);
    EXPECT_EQ(empty.width, 0);
    EXPECT_EQ(empty.height, 30);
}

TEST_F(SurfaceTest, RecreationReleasesTheOldImageAndAFailedOneLeavesNoPixels) {
    int before = liveGdiObjects();
    {
        Surface surface;
        ASSERT_TRUE(surface.create(8, 8, 4));
        int afterFirst = liveGdiObjects();
        ASSERT_TRUE(surface.create(16, 4, 4));
        EXPECT_EQ(liveGdiObjects(), afterFirst);
        EXPECT_EQ(surface.stride, 64);
        EXPECT_FALSE(surface.create(16, 4, 1));
        EXPECT_EQ(surface.pixels, nullptr);
        EXPECT_EQ(liveGdiObjects(), before);
    }
    EXPECT_EQ(liveGdiObjects(), before);
}

TEST_F(SurfaceTest, FillColoursEveryPixelAndLeavesTheFourthByte) {
    Surface surface;
    ASSERT_TRUE(surface.create(3, 3, 4));
    surface.pixels[3] = 0x77;
    surface.fill(1, 2, 3);
    for (int32_t row = 0; row < 3; ++row)
        for (int32_t x = 0; x < 3; ++x) {
            const uint8_t* pixel = surface.pixels + row * surface.stride + x * 4;
            EXPECT_EQ(pixel[0], 1);
            EXPECT_EQ(pixel[1], 2);
            EXPECT_EQ(pixel[2], 3);
        }
    EXPECT_EQ(surface.pixels[3], 0x77);
    surface.fill(0, 0, 0);
    for (int32_t row = 0; row < 3; ++row)
        for (int32_t x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(surface.pixels[row * surface.stride + x * 4 + c], 0);
}

TEST_F(SurfaceTest, LoadsTwentyFourBitRowsWithTheirPadding) {
    // 5 pixels of 3 bytes: 16-byte rows, the last byte padding.
    std::string pixels;
    for (int row = 0; row < 2; ++row)
        for (int i = 0; i < 16; ++i) pixels += static_cast<char>(row * 16 + i);
    Surface surface;
    ASSERT_TRUE(surface.loadBitmap(write("a.bmp", bmpFile(5, 2, 24, pixels)).c_str()));
    EXPECT_EQ(surface.stride, 16);
    EXPECT_EQ(surface.bytesPerPixel, 3);
    EXPECT_EQ(surface.pixels[12], 12);  // rightmost pixel of stored row 0: bytes 12-14
    EXPECT_EQ(surface.pixels[16 + 14], 30);
}

TEST_F(SurfaceTest, LoadsThirtyTwoBitBottomUpAfterAColourTableOrMasks) {
    std::string gap(12, '\x55');  // e.g. colour masks before the pixels
    std::string pixels = gap + std::string("\x01\x02\x03\x00\x04\x05\x06\x00", 8);
    Surface surface;
    ASSERT_TRUE(surface.loadBitmap(write("b.bmp", bmpFile(1, 2, 32, pixels, 54 + 12)).c_str()));
    EXPECT_EQ(surface.width, 1);
    EXPECT_EQ(surface.height, 2);
    EXPECT_EQ(surface.rowShown(1)[0], 1);  // stored row 0 is the bottom row
    EXPECT_EQ(surface.rowShown(0)[2], 6);
}

TEST_F(SurfaceTest, ShortFileLoadsWithItsUnreadRowsBlack) {
    std::string oneRow("\x09\x09\x09\x00\x09\x09\x09\x00", 8);
    Surface surface;
    ASSERT_TRUE(surface.loadBitmap(write("short.bmp", bmpFile(2, 3, 32, oneRow)).c_str()));
    EXPECT_EQ(surface.pixels[0], 9);
    for (int32_t i = surface.stride; i < surface.stride * 3; ++i) EXPECT_EQ(surface.pixels[i], 0);
}

TEST_F(SurfaceTest, RejectsWhatIsNotAnImageItCanDraw) {
    std::string pixels(64, '\x01');
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"wrong signature", bmpFile(2, 2, 32, pixels, 54, 'M', 'B')},
        {"8-bit palette", bmpFile(2, 2, 8, pixels)},
        {"16-bit", bmpFile(2, 2, 16, pixels)},
        {"zero width", bmpFile(0, 2, 32, pixels)},
        {"zero height", bmpFile(2, 0, 32, pixels)},
        {"negative width", bmpFile(-2, 2, 32, pixels)},
        {"top-down rows", bmpFile(2, -2, 32, pixels)},
        {"absurd width", bmpFile(1 << 30, 1, 32, pixels)},
        {"absurd height", bmpFile(1, 0x7fffffff, 32, pixels)},
        {"overflowing size", bmpFile(100000, 100000, 32, pixels)},
        {"pixels beyond the file", bmpFile(2, 2, 32, pixels, 100000)},
        {"truncated header", std::string("BM\x10\x00", 4)},
        {"empty file", std::string()},
    };
    for (const Case& c : cases) {
        Surface surface;
        EXPECT_FALSE(surface.loadBitmap(write("bad.bmp", c.bytes).c_str())) << c.what;
        EXPECT_EQ(surface.pixels, nullptr) << c.what;
    }
    Surface missing;
    EXPECT_FALSE(missing.loadBitmap((folder / "missing.bmp").string().c_str()));
}

}  // namespace
