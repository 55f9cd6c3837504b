#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <jpeglib.h>
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

// Four 8 x 8 squares, in reading order, of the samples given (one pixel's
// worth each), compressed by libjpeg into a 16 x 16 JPEG of `stored` colours.
std::vector<uint8_t> Squares(J_COLOR_SPACE in, J_COLOR_SPACE stored, bool adobe,
                             const std::vector<uint8_t> &samples)
{
    const int components = int(samples.size() / 4);
    std::vector<uint8_t> pixels;
    for (int i = 0; i < 16 * 16; i++) {
        auto square = samples.begin() + (i / 128 * 2 + i % 16 / 8) * components;
        pixels.insert(pixels.end(), square, square + components);
    }
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &jpeg, &size);
    cinfo.image_width = cinfo.image_height = 16;
    cinfo.input_components = components;
    cinfo.in_color_space = in;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, stored);
    cinfo.write_Adobe_marker = adobe;
    jpeg_set_quality(&cinfo, 100, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    for (JSAMPROW row; cinfo.next_scanline < 16;) {
        row = &pixels[cinfo.next_scanline * 16 * components];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> data(jpeg, jpeg + size);
    free(jpeg);
    return data;
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

// Grey, and inks (Adobe's inverted ones, also as YCCK, and plain ones):
// red, green, blue and half black.
TEST(JpegDecode, GreyCmykAndYcckShowTheirColours)
{
    const std::vector<uint8_t> inverted = {255, 0, 0,   255, 0,   255, 0,   255,
                                           0,   0, 255, 255, 255, 255, 255, 127},
                               plain = {0, 255, 255, 0, 255, 0, 255, 0, 255, 255, 0, 0, 0, 0, 0, 128};
    const std::vector<uint32_t> inks = {0xFF0000, 0x00FF00, 0x0000FF, 0x7F7F7F};
    const struct {
        J_COLOR_SPACE in, stored;
        bool adobe;
        std::vector<uint8_t> samples;
        std::vector<uint32_t> colours;
    } cases[] = {
        {JCS_GRAYSCALE, JCS_GRAYSCALE, false, {0, 80, 160, 255}, {0x000000, 0x505050, 0xA0A0A0, 0xFFFFFF}},
        {JCS_CMYK, JCS_CMYK, true, inverted, inks},
        {JCS_CMYK, JCS_YCCK, true, inverted, inks},
        {JCS_CMYK, JCS_CMYK, false, plain, inks},
    };
    for (const auto &c : cases) {
        const DecodedPicture picture = Decode(Squares(c.in, c.stored, c.adobe, c.samples));
        ASSERT_EQ(16, picture.width) << c.stored;
        EXPECT_EQ("", picture.message);
        for (int i = 0; i < 4; i++) {
            const uint32_t got = Rgb(picture, i % 2 * 8 + 4, i / 2 * 8 + 4);
            for (int shift : {0, 8, 16})
                EXPECT_NEAR(int(c.colours[i] >> shift & 255), int(got >> shift & 255), 4)
                    << c.stored << " " << c.adobe << " square " << i;
        }
    }
}

// A cut file keeps its warning and the part decoded; unusable data fails with text.
TEST(JpegDecode, TruncatedOrUnusableData)
{
    std::vector<uint8_t> jpeg = Read("testorig.jpg");
    DecodedPicture whole = Decode(jpeg);
    DecodedPicture cut = Decode(std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + jpeg.size() / 2));
    ASSERT_EQ(whole.pixels.size(), cut.pixels.size());
    EXPECT_EQ("Premature end of JPEG file", cut.message);
    EXPECT_TRUE(std::equal(whole.pixels.begin(), whole.pixels.begin() + 16 * 227 * 4, cut.pixels.begin()));

    EXPECT_EQ("Not a JPEG file: starts with 0x68 0x65",
              Decode(std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}).message);
    EXPECT_EQ("Empty input file", Decode(std::vector<uint8_t>{}).message);
    // libjpeg-turbo built for 8-bit samples rejects it.
    EXPECT_EQ("Unsupported JPEG data precision 12", Decode(Read("testorig12.jpg")).message);

    // testorig.jpg claiming 65500 x 65500 pixels in its frame header.
    const uint8_t sof[] = {0xFF, 0xC0}, size[] = {0xFF, 0xDC, 0xFF, 0xDC};
    auto frame = std::search(jpeg.begin(), jpeg.end(), sof, sof + 2);
    ASSERT_NE(jpeg.end(), frame);
    std::copy(size, size + 4, frame + 5);
    EXPECT_EQ("Image is too large", Decode(jpeg).message);
}
