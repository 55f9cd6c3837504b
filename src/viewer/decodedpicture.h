#pragma once
// A picture decoded from clipboard bytes, laid out for a top-down 32-bit DIB.
#include <cstdint>
#include <new>
#include <string>
#include <vector>

struct DecodedPicture {
    int width = 0;
    int height = 0;
    // Rows top first, width x 4 bytes each with no padding; every pixel is the
    // bytes blue, green, red, 255. Empty when decoding failed.
    std::vector<uint8_t> pixels;
    // The decoding library's own text for the user; empty when it had none.
    std::string message;
};

// Clipboard data comes from any program, so the decoders refuse pictures
// beyond these before allocating for them: each side at most 65535 pixels and
// 256 MiB of pixels (64 million), e.g. a screenshot of three 4K displays.
constexpr uint32_t MAX_PICTURE_SIDE = 65535;
constexpr uint64_t MAX_PICTURE_BYTES = uint64_t(256) << 20;

inline bool PictureSizeAllowed(uint32_t width, uint32_t height)
{
    return width > 0 && height > 0 && width <= MAX_PICTURE_SIDE && height <= MAX_PICTURE_SIDE &&
           uint64_t(width) * height * 4 <= MAX_PICTURE_BYTES;
}

// Sizes the pixel buffer for a picture that PictureSizeAllowed accepted.
// Returns false when memory runs out: the decoders call it between setjmp
// and longjmp, where no exception may pass.
inline bool AllocatePixels(DecodedPicture *picture, uint32_t width, uint32_t height)
{
    try {
        picture->pixels.assign(size_t(width) * height * 4, 0);
    } catch (const std::bad_alloc &) {
        return false;
    }
    picture->width = int(width);
    picture->height = int(height);
    return true;
}
