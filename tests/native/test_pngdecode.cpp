#include <gtest/gtest.h>
#include <zlib.h>
#include "testimages.h"
#include "viewer/pngdecode.h"

namespace {

constexpr uint32_t BACKGROUND = 0x00996633; // red 0x33, green 0x66, blue 0x99

std::vector<uint8_t> Read(const std::string &name)
{
    return ReadFile(SourceFolder("libpng-") / "contrib" / name);
}

DecodedPicture Decode(const std::vector<uint8_t> &data)
{
    DecodedPicture picture = DecodePng(data.data(), data.size(), BACKGROUND);
    ExpectWellFormed(picture);
    return picture;
}

uint32_t Pixel(const std::string &name, int x, int y)
{
    return Rgb(Decode(Read(name)), x, y);
}

// The file with another size in its header, and `padding` zero bytes after its end.
std::vector<uint8_t> Claiming(const std::string &name, uint32_t width, uint32_t height, size_t padding = 0)
{
    std::vector<uint8_t> png = Read(name);
    for (int i = 0; i < 4; i++) {
        png[16 + i] = uint8_t(width >> (24 - 8 * i));
        png[20 + i] = uint8_t(height >> (24 - 8 * i));
    }
    uLong crc = crc32(0, &png[12], 17);
    for (int i = 0; i < 4; i++)
        png[29 + i] = uint8_t(crc >> (24 - 8 * i));
    png.resize(png.size() + padding);
    return png;
}

} // namespace

// The good images all decode; the crashers, all broken but one, fail with
// libpng's text and without touching memory they should not.
TEST(PngDecode, EveryTestImageDecodesOrFailsWithText)
{
    int files = 0;
    for (const char *folder : {"pngsuite", "testpngs"}) {
        for (const auto &entry :
             std::filesystem::recursive_directory_iterator(SourceFolder("libpng-") / "contrib" / folder)) {
            if (entry.path().extension() != ".png")
                continue;
            files++;
            DecodedPicture picture = Decode(ReadFile(entry.path()));
            bool broken = entry.path().parent_path().filename() == "crashers" &&
                          entry.path().filename() != "empty_ancillary_chunks.png";
            EXPECT_EQ(broken, picture.pixels.empty()) << entry.path();
            EXPECT_EQ(broken, !picture.message.empty()) << entry.path() << picture.message;
        }
    }
    EXPECT_GT(files, 150);
}

// Interlaced, 1-bit and 16-bit pictures come out alike, rounded, not
// truncated (0x018F, 0x1DAB, 0x39C7); transparency on the caller's background.
TEST(PngDecode, DepthsInterlacingAndTransparency)
{
    EXPECT_EQ(0x021E3Au, Pixel("testpngs/rgb-16.png", 0, 71));
    DecodedPicture grey = Decode(Read("pngsuite/basn0g01.png"));
    EXPECT_EQ(0x000000u, Rgb(grey, 31, 0));
    EXPECT_EQ(Decode(Read("pngsuite/interlaced/ibasn0g01.png")).pixels, grey.pixels);
    EXPECT_EQ(0x336699u, Pixel("pngsuite/ftp1n3p08.png", 0, 0));
    EXPECT_EQ(0x00FF00u, Pixel("pngsuite/ftbgn2c16.png", 0, 0)); // its own bKGD
}

TEST(PngDecode, ForeignShortAndOversizedDataFail)
{
    std::vector<uint8_t> png = Read("pngsuite/basn2c08.png");
    EXPECT_EQ("", Decode(std::vector<uint8_t>(png.begin(), png.begin() + 3)).message);
    // Cut in the middle of the image data.
    EXPECT_EQ("Unexpected end of PNG data",
              Decode(std::vector<uint8_t>(png.begin(), png.begin() + png.size() / 2)).message);
    // Only the first four bytes are checked before libpng.
    png[5] = 'X';
    EXPECT_FALSE(Decode(png).message.empty());

    EXPECT_EQ("Invalid IHDR data", Decode(Claiming("pngsuite/basn0g01.png", 65536, 1)).message);
    // 256 MB of pixels cannot come out of 200 bytes.
    EXPECT_EQ("Not enough image data", Decode(Claiming("pngsuite/basn6a08.png", 8000, 8000)).message);
    // 1-bit 20000 x 20000 fits that much data, but is 1.6 GB of pixels.
    EXPECT_EQ("Image is too large", Decode(Claiming("pngsuite/basn0g01.png", 20000, 20000, 60000)).message);
}
