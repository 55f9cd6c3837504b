#pragma once
// Test images of the libpng and libjpeg-turbo sources (unpacked by
// scripts/setup.sh) and checks shared by the decoder tests.
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include "viewer/decodedpicture.h"

// The unpacked source folder whose name starts with `prefix`, e.g. "libpng-".
inline std::filesystem::path SourceFolder(const std::string &prefix)
{
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(QUILLET_DEPS_SRC, error)) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            return entry.path();
    }
    ADD_FAILURE() << "no " << prefix << "* in " QUILLET_DEPS_SRC ": run scripts/setup.sh";
    return {};
}

inline std::vector<uint8_t> ReadFile(const std::filesystem::path &path)
{
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file) << path;
    return {std::istreambuf_iterator<char>(file), {}};
}

// 0xRRGGBB of one pixel.
inline uint32_t Rgb(const DecodedPicture &picture, int x, int y)
{
    const uint8_t *p = &picture.pixels.at((size_t(y) * picture.width + x) * 4);
    return uint32_t(p[2]) << 16 | p[1] << 8 | p[0];
}

// A whole picture of opaque pixels, or none at all.
inline void ExpectWellFormed(const DecodedPicture &picture)
{
    EXPECT_EQ(size_t(picture.width) * picture.height * 4, picture.pixels.size());
    size_t i = 3;
    while (i < picture.pixels.size() && picture.pixels[i] == 255)
        i += 4;
    EXPECT_GE(i, picture.pixels.size()) << "pixel " << i / 4 << " is not opaque";
}
