#include "viewer/pngdecode.h"

#include <png.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Deflate expands data at most 1032-fold, so a header that promises more
// image bytes than that cannot be followed by the whole image; refusing it
// early keeps a few hostile bytes from costing a huge pixel buffer.
constexpr uint64_t MAX_DEFLATE_RATIO = 1032;
// Ancillary chunks (ICC profiles, compressed text) above this are refused.
// libpng only warns about a larger claimed length and then allocates it
// before reading the data, so its allocations are capped at this too; the
// largest it needs otherwise are rows of MAX_PICTURE_SIDE 16-bit RGBA pixels.
constexpr png_alloc_size_t MAX_CHUNK_BYTES = 8u << 20;
// The file gamma of sRGB data and of files without gAMA.
constexpr double DEFAULT_FILE_GAMMA = 1 / 2.2;

// Shared with the callbacks. Plain data only: libpng errors leave by longjmp.
struct PngSource {
    const uint8_t *data;
    size_t size;
    size_t offset;
    char message[256];
};

void ReadFromMemory(png_structp png, png_bytep out, size_t length)
{
    auto *source = static_cast<PngSource *>(png_get_io_ptr(png));
    if (length > source->size - source->offset)
        png_error(png, "Unexpected end of PNG data");
    memcpy(out, source->data + source->offset, length);
    source->offset += length;
}

[[noreturn]] void KeepErrorText(png_structp png, png_const_charp message)
{
    auto *source = static_cast<PngSource *>(png_get_error_ptr(png));
    snprintf(source->message, sizeof source->message, "%s", message);
    png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

png_voidp AllocateCapped(png_structp, png_alloc_size_t size)
{
    return size <= MAX_CHUNK_BYTES ? malloc(size) : nullptr;
}

void Free(png_structp, png_voidp block)
{
    free(block);
}

void RequestTransformations(png_structp png, png_infop info, uint32_t background)
{
    double fileGamma = DEFAULT_FILE_GAMMA;
    if (!png_get_valid(png, info, PNG_INFO_sRGB))
        png_get_gAMA(png, info, &fileGamma);
    png_set_gamma(png, PNG_DEFAULT_sRGB, fileGamma);

    const int colorType = png_get_color_type(png, info);
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0) {
        if (png_get_bit_depth(png, info) < 8)
            png_set_expand_gray_1_2_4_to_8(png);
        png_set_gray_to_rgb(png);
        png_set_expand(png);
    }
    png_set_scale_16(png);

    png_color_16p fileBackground;
    if (png_get_bKGD(png, info, &fileBackground)) {
        png_set_background(png, fileBackground, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
    } else {
        png_color_16 screen = {};
        screen.red = background & 0xFF;
        screen.green = (background >> 8) & 0xFF;
        screen.blue = (background >> 16) & 0xFF;
        screen.gray = 128;
        png_set_background(png, &screen, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
    }
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(png);
}

// Leaves by longjmp on any libpng error.
void ReadImage(png_structp png, png_infop info, uint32_t background, DecodedPicture *picture)
{
    png_set_user_limits(png, MAX_PICTURE_SIDE, MAX_PICTURE_SIDE);
    png_set_chunk_malloc_max(png, MAX_CHUNK_BYTES);
    png_set_sig_bytes(png, 4);
    png_read_info(png, info);

    const auto *source = static_cast<const PngSource *>(png_get_io_ptr(png));
    uint64_t imageBits = uint64_t(png_get_image_width(png, info)) * png_get_image_height(png, info) *
                         png_get_channels(png, info) * png_get_bit_depth(png, info);
    if (imageBits / 8 / MAX_DEFLATE_RATIO > source->size)
        png_error(png, "Not enough image data");

    RequestTransformations(png, info, background);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (!PictureSizeAllowed(width, height))
        png_error(png, "Image is too large");
    // The rows below are exactly this long.
    if (png_get_rowbytes(png, info) != size_t(width) * 4)
        png_error(png, "Unexpected pixel format");
    if (!AllocatePixels(picture, width, height))
        png_error(png, "Out of memory");

    uint8_t *pixels = picture->pixels.data();
    for (int pass = 0; pass < passes; pass++) {
        for (png_uint_32 y = 0; y < height; y++)
            png_read_row(png, pixels + size_t(y) * width * 4, nullptr);
    }
    png_read_end(png, info);
}

// Kept apart from ReadImage so that the frame holding setjmp has no locals
// for the longjmp to clobber.
bool ReadImageGuarded(png_structp png, png_infop info, uint32_t background, DecodedPicture *picture)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    ReadImage(png, info, background, picture);
    return true;
}

} // namespace

DecodedPicture DecodePng(const uint8_t *data, size_t size, uint32_t background)
{
    DecodedPicture picture;
    if (size < 4 || png_sig_cmp(data, 0, 4) != 0)
        return picture;

    PngSource source = {data, size, 4, ""};
    png_structp png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &source, KeepErrorText, IgnoreWarning,
                                               nullptr, AllocateCapped, Free);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info)
        png_set_read_fn(png, &source, ReadFromMemory);
    if (!info || !ReadImageGuarded(png, info, background, &picture)) {
        picture = DecodedPicture();
        picture.message = source.message;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return picture;
}
