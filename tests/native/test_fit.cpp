#include <gtest/gtest.h>
#include <cstring>
#include <tuple>
#include "viewer/fit.h"

namespace {

void ExpectRect(FitRect r, int left, int top, int width, int height)
{
    EXPECT_EQ(left, r.left);
    EXPECT_EQ(top, r.top);
    EXPECT_EQ(width, r.right - r.left);
    EXPECT_EQ(height, r.bottom - r.top);
}

} // namespace

TEST(Fit, WorkedExamplesAndExtremesInA600x400Frame)
{
    ExpectRect(FitPicture(100, 50, 600, 400), 250, 174, 100, 51);
    ExpectRect(FitPicture(1200, 300, 600, 400), 0, 124, 600, 151);
    ExpectRect(FitPicture(300, 300, 600, 400), 149, 50, 301, 300);
    ExpectRect(FitPicture(100, 0, 600, 400), 0, 0, 600, 400); // height 0 fills
    ExpectRect(FitPicture(1, 4000000000u, 600, 400), 299, 0, 1, 400);
    ExpectRect(FitPicture(4000000000u, 1, 600, 400), 0, 199, 600, 1);
    ExpectRect(FitPicture(10, 10, 0, 0), 0, 0, 0, 0); // an empty frame
    // Another program's metafile bounds may span the whole 32-bit range.
    EXPECT_EQ(4294967295u, SpanOf(INT32_MIN, INT32_MAX));
    EXPECT_EQ(4294967295u, SpanOf(INT32_MAX, INT32_MIN));
    EXPECT_EQ(10u, SpanOf(-5, 5));
}

TEST(Fit, DibBitsFollowMasksAndTheColourTableActuallyUsed)
{
    const struct {
        DibHeader h;
        size_t block, offset; // 0: refused
    } cases[] = {
        {{40, 4, 4, 8, 0, 0}, 40 + 1024 + 16, 40 + 256 * 4}, // 8 bits: a whole table
        {{40, 4, 4, 8, 0, 2}, 100, 48},                      // a short table
        {{40, 4, -4, 16, 3, 0}, 100, 52},                    // BI_BITFIELDS with masks after a 40-byte header
        {{124, 4, -4, 16, 3, 0}, 200, 124},                  // a V5 header holds its masks itself
        {{40, 4, 4, 24, 0, 0x40000000}, 1000, 0},            // a table past the block
        {{8, 4, 4, 24, 0, 0}, 1000, 0},                      // a header too small to be one
    };
    for (const auto &c : cases) {
        size_t offset = 0;
        EXPECT_EQ(c.offset != 0, DibBitsOffset(c.h, c.block, &offset)) << c.h.size << " " << c.h.bitCount;
        EXPECT_EQ(c.offset, c.offset ? offset : 0) << c.h.size << " " << c.h.bitCount;
    }

    uint8_t block[40] = {};
    block[0] = 40;
    block[4] = 7;
    memset(block + 8, 0xFF, 4); // height -1
    block[14] = 32;
    DibHeader read = {};
    ASSERT_TRUE(ReadDibHeader(block, sizeof block, &read));
    EXPECT_EQ(std::make_tuple(7, -1, 32), std::make_tuple(read.width, read.height, int(read.bitCount)));
    EXPECT_FALSE(ReadDibHeader(block, 39, &read));
}
