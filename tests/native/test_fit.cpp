#include <gtest/gtest.h>
#include <cstring>
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
    DibHeader h = {40, 4, 4, 8, 0, 0};
    size_t offset = 0;
    ASSERT_TRUE(DibBitsOffset(h, 40 + 1024 + 16, &offset));
    EXPECT_EQ(40u + 256 * 4, offset);

    h.clrUsed = 2; // a short table
    ASSERT_TRUE(DibBitsOffset(h, 100, &offset));
    EXPECT_EQ(48u, offset);

    h = {40, 4, -4, 16, 3, 0}; // BI_BITFIELDS with masks after a 40-byte header
    ASSERT_TRUE(DibBitsOffset(h, 100, &offset));
    EXPECT_EQ(52u, offset);
    h.size = 124; // a V5 header holds its masks itself
    ASSERT_TRUE(DibBitsOffset(h, 200, &offset));
    EXPECT_EQ(124u, offset);

    h = {40, 4, 4, 24, 0, 0x40000000}; // a table past the block
    EXPECT_FALSE(DibBitsOffset(h, 1000, &offset));
    h = {8, 4, 4, 24, 0, 0}; // a header too small to be one
    EXPECT_FALSE(DibBitsOffset(h, 1000, &offset));

    uint8_t block[40] = {};
    block[0] = 40;
    block[4] = 7;
    memset(block + 8, 0xFF, 4); // height -1
    block[14] = 32;
    DibHeader read = {};
    ASSERT_TRUE(ReadDibHeader(block, sizeof block, &read));
    EXPECT_EQ(7, read.width);
    EXPECT_EQ(-1, read.height);
    EXPECT_EQ(32, read.bitCount);
    EXPECT_FALSE(ReadDibHeader(block, 39, &read));
}
