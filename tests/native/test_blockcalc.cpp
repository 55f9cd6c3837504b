#include <gtest/gtest.h>
#include <cstdint>
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

TEST(BlockCalc, BlockSize)
{
    size_t size = 0;
    EXPECT_TRUE(ClipboardBlockSize(15, &size));
    EXPECT_EQ(size, 80u);
    EXPECT_TRUE(ClipboardBlockSize(16, &size));
    EXPECT_EQ(size, 160u);
    EXPECT_FALSE(ClipboardBlockSize(SIZE_MAX, &size));
    EXPECT_FALSE(ClipboardBlockSize(SIZE_MAX / 80 * 16, &size));
    EXPECT_TRUE(ClipboardBlockSize((SIZE_MAX / 80 - 1) * 16, &size));
}

TEST(BlockCalc, DumpRowsHaveFixedLayout)
{
    std::vector<uint8_t> data = {'H', 'i', 0x00, 0x7F, 0x20, 0x7E, 0xFF, '\r', '\n'};
    data.resize(17, 'z');
    data[16] = 0x80;
    std::string dump = Dump(data);
    ASSERT_EQ(dump.size(), 2 * HEX_ROW_CHARS);
    EXPECT_EQ(dump.substr(0, HEX_ROW_CHARS),
              "000000: 48 69 00 7f 20 7e ff 0d 0a 7a 7a 7a 7a 7a 7a 7a | Hi.. ~...zzzzzzz\r\n");
    EXPECT_EQ(dump.substr(HEX_ROW_CHARS),
              "000010: 80 " + std::string(45, ' ') + "| ." + std::string(15, ' ') + "\r\n");
    EXPECT_EQ(Dump({}), "");
}

TEST(BlockCalc, ProgressEverySixtyFourRows)
{
    int steps = 0;
    Dump(std::vector<uint8_t>(2048), &steps);
    EXPECT_EQ(steps, 2);
    steps = 0;
    Dump(std::vector<uint8_t>(127 * 16), &steps);
    EXPECT_EQ(steps, 1);
}

// Past 16 MiB the offset column widens for every row, and the dump still fits
// the block that was sized for the data.
TEST(BlockCalc, WideOffsetsStayAlignedAndInTheBlock)
{
    const size_t n = 0x1000001;
    std::string dump = Dump(std::vector<uint8_t>(n, 'a'));
    const size_t row = HEX_ROW_CHARS + 1;
    ASSERT_EQ(dump.size(), (n / 16 + 1) * row);
    EXPECT_EQ(dump.substr(0, 9), "0000000: ");
    EXPECT_EQ(dump.substr(dump.size() - row, 12), "1000000: 61 ");
    size_t block = 0;
    ASSERT_TRUE(ClipboardBlockSize(n, &block));
    EXPECT_LE(HexDumpSize(n), block);
    EXPECT_EQ(HexDumpSize(SIZE_MAX), SIZE_MAX);
}
