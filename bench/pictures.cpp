// "PNG" and "JFIF" clipboard data through the viewer's loaders, against
// libpng's and libjpeg-turbo's own decoding of the same file into memory.
#include "bench.h"
#include <cstdio>
#include <memory>
#include <png.h>
#include <jpeglib.h>
#include "clipboard/clipboard.h"
#include "util/guards.h"
#include "viewer/pictures.h"

namespace {

void DecodeWithLibpng(const std::string &file)
{
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size()))
        return;
    image.format = PNG_FORMAT_BGRA;
    std::unique_ptr<png_byte[]> pixels(new png_byte[PNG_IMAGE_SIZE(image)]);
    png_image_finish_read(&image, nullptr, pixels.get(), 0, nullptr);
    png_image_free(&image);
}

void DecodeWithLibjpeg(const std::string &file)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(file.data()), file.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&cinfo);
    const size_t stride = size_t(cinfo.output_width) * 4;
    std::unique_ptr<JSAMPLE[]> pixels(new JSAMPLE[stride * cinfo.output_height]);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels.get() + cinfo.output_scanline * stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
}

// The loader's time with the file on the clipboard in `name`; warns when
// the picture did not come out whole.
double TimeLoader(const char *name, const std::string &file, HBITMAP (*load)(HGLOBAL, SIZE_T), LONG width)
{
    const UINT format = RegisterClipboardFormatA(name);
    if (!SetClipboardFormats({{format, file}}))
        return -1;
    HBITMAP bitmap = nullptr;
    const double seconds = Best(
        RUNS,
        [&] {
            SIZE_T size = 0;
            HGLOBAL copy;
            {
                ClipboardGuard clip(nullptr);
                copy = GetClipboardBlock(nullptr, format, CASE_NONE, &size);
            }
            bitmap = load(copy, size);
            GlobalFree(copy);
        },
        [&] {
            BITMAP info = {};
            GetObject(bitmap, sizeof info, &info);
            if (info.bmWidth != width)
                fprintf(stderr, "pictures: %s gave a bitmap %ld pixels wide\n", name, info.bmWidth);
            DeleteObject(bitmap);
        });
    return seconds;
}

} // namespace

// argv: the PNG file, the JPEG file and the width of both pictures.
int BenchPictures(int, char **argv)
{
    const std::string png = ReadFileBytes(argv[0]);
    const std::string jpeg = ReadFileBytes(argv[1]);
    const LONG width = atol(argv[2]);
    Figure("png", TimeLoader("PNG", png, LoadClipboardPNG, width));
    Figure("png.base", Best(RUNS, [&] { DecodeWithLibpng(png); }));
    Figure("jpeg", TimeLoader("JFIF", jpeg, LoadClipboardJPEG, width));
    Figure("jpeg.base", Best(RUNS, [&] { DecodeWithLibjpeg(jpeg); }));
    return 0;
}
