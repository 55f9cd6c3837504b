#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include "testimages.h"
#include "viewer/jpegdecode.h"

namespace {

DecodedPicture Decode(const std::vector<uint8_t> &data)
{
    DecodedPicture picture = DecodeJpeg(data.data(), data.size());
    ExpectWellFormed(picture);
    return picture;
}

std::vector<uint8_t> Read(const std::string &name)
{
    return ReadFile(SourceFolder("libjpeg-turbo-") / "testimages" / name);
}

} // namespace

TEST(JpegDecode, ColourFilesDecode)
{
    DecodedPicture picture = Decode(Read("testorig.jpg"));
    ASSERT_EQ(227, picture.width);
    ASSERT_EQ(149, picture.height);
    EXPECT_EQ("", picture.message);
    // The picture it was compressed from, after a 15-byte header.
    std::vector<uint8_t> ppm = Read("testorig.ppm");
    ASSERT_EQ(15u + 227 * 149 * 3, ppm.size());
    int worst = 0;
    for (size_t i = 0; i < 227 * 149 * 3; i++)
        worst = std::max(worst, std::abs(ppm[15 + i] - picture.pixels[i / 3 * 4 + 2 - i % 3]));
    EXPECT_LE(worst, 3);
    // Progressive and arithmetic-coded versions.
    EXPECT_EQ(picture.pixels.size(), Decode(Read("testimgint.jpg")).pixels.size());
}

TEST(JpegDecode, TruncatedFileKeepsWarningAndDecodedPart)
{
    std::vector<uint8_t> jpeg = Read("testorig.jpg");
    DecodedPicture whole = Decode(jpeg);
    DecodedPicture cut = Decode(std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + jpeg.size() / 2));
    ASSERT_EQ(whole.pixels.size(), cut.pixels.size());
    EXPECT_EQ("Premature end of JPEG file", cut.message);
    EXPECT_TRUE(std::equal(whole.pixels.begin(), whole.pixels.begin() + 16 * 227 * 4, cut.pixels.begin()));
}

TEST(JpegDecode, UnusableDataFailsWithText)
{
    EXPECT_EQ("Not a JPEG file: starts with 0x68 0x65",
              Decode(std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}).message);
    EXPECT_EQ("Empty input file", Decode(std::vector<uint8_t>{}).message);
    // libjpeg-turbo built for 8-bit samples rejects it.
    EXPECT_EQ("Unsupported JPEG data precision 12", Decode(Read("testorig12.jpg")).message);

    // testorig.jpg claiming 65500 x 65500 pixels in its frame header.
    std::vector<uint8_t> jpeg = Read("testorig.jpg");
    const uint8_t sof[] = {0xFF, 0xC0}, size[] = {0xFF, 0xDC, 0xFF, 0xDC};
    auto frame = std::search(jpeg.begin(), jpeg.end(), sof, sof + 2);
    ASSERT_NE(jpeg.end(), frame);
    std::copy(size, size + 4, frame + 5);
    EXPECT_EQ("Image is too large", Decode(jpeg).message);
}
