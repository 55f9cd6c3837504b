#include <gtest/gtest.h>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>
#include "clipboard/blockcalc.h"

namespace {
std::string Dump(const std::vector<uint8_t> &data, int *steps = nullptr)
{
    std::string out(HexDumpSize(data.size()), '#');
    auto step = [](void *ctx) { ++*static_cast<int *>(ctx); };
    HexDump(data.data(), data.size(), &out[0], steps ? +step : nullptr, steps);
    EXPECT_EQ(out.back(), '\0');
    out.pop_back();
    return out;
}
} // namespace

TEST(BlockCalc, BlockSizeRefusesOverflow)
{
    size_t size = 0;
    EXPECT_TRUE(ClipboardBlockSize(15, &size));
    EXPECT_EQ(size, 80u);
    EXPECT_TRUE(ClipboardBlockSize(16, &size));
    EXPECT_EQ(size, 160u);
    EXPECT_FALSE(ClipboardBlockSize(SIZE_MAX, &size));
    EXPECT_FALSE(ClipboardBlockSize(SIZE_MAX / 80 * 16, &size));
    EXPECT_TRUE(ClipboardBlockSize((SIZE_MAX / 80 - 1) * 16, &size));
    EXPECT_EQ(HexDumpSize(SIZE_MAX), SIZE_MAX);
}

// A short last row keeps the layout; progress comes after every 64 rows;
// past 16 MiB the offset column widens for every row, and the dump still fits
// the block sized for the data.
TEST(BlockCalc, DumpRowsProgressAndWideOffsets)
{
    EXPECT_EQ("000000: 80 " + std::string(45, ' ') + "| ." + std::string(15, ' ') + "\r\n", Dump({0x80}));
    EXPECT_EQ(Dump({}), "");
    int steps = 0;
    Dump(std::vector<uint8_t>(2048), &steps);
    EXPECT_EQ(steps, 2);

    const size_t n = 0x1000001, row = HEX_ROW_CHARS + 1;
    std::string dump = Dump(std::vector<uint8_t>(n, 'a'));
    ASSERT_EQ(dump.size(), (n / 16 + 1) * row);
    EXPECT_EQ(dump.substr(0, 9), "0000000: ");
    EXPECT_EQ(dump.substr(dump.size() - row, 12), "1000000: 61 ");
    size_t block = 0;
    ASSERT_TRUE(ClipboardBlockSize(n, &block));
    EXPECT_LE(HexDumpSize(n), block);
}

// Every byte value in full rows and in a short last row, against rows
// written the plain way.
TEST(BlockCalc, DumpShowsEveryByte)
{
    for (size_t n : {256, 255}) {
        std::vector<uint8_t> data(n);
        for (size_t i = 0; i < n; i++)
            data[i] = static_cast<uint8_t>(i);
        const std::string dump = Dump(data);
        ASSERT_EQ(dump.size(), 16 * HEX_ROW_CHARS);
        for (size_t row = 0; row < 16; row++) {
            char text[24];
            snprintf(text, sizeof text, "%06zx:", row * 16);
            std::string expected = text, column;
            for (size_t i = row * 16; i < row * 16 + 16; i++) {
                snprintf(text, sizeof text, " %02zx", i);
                expected += i < n ? text : "   ";
                column += i >= n ? ' ' : i >= 0x20 && i <= 0x7E ? static_cast<char>(i) : '.';
            }
            EXPECT_EQ(dump.substr(row * HEX_ROW_CHARS, HEX_ROW_CHARS), expected + " | " + column + "\r\n");
        }
    }
}
