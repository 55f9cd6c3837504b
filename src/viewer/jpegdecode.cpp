#include "viewer/jpegdecode.h"

#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>

namespace {

// libjpeg keeps whole-image coefficient buffers for progressive and
// multi-scan files, up to 8 bytes a pixel for full-resolution CMYK; beyond
// this it fails ("Backing store not supported") instead of allocating more.
constexpr long MAX_COEFFICIENT_BYTES = long(2 * MAX_PICTURE_BYTES);

struct JpegErrors {
    jpeg_error_mgr manager; // first: libjpeg's pointer to it points to the whole
    std::jmp_buf abort;
    // The standard manager reports at most a fatal error and the first warning.
    char text[2 * JMSG_LENGTH_MAX];
};

void AddText(JpegErrors *errors, const char *text)
{
    size_t used = strlen(errors->text);
    snprintf(errors->text + used, sizeof errors->text - used, "%s%s", used ? "\n" : "", text);
}

void KeepMessage(j_common_ptr cinfo)
{
    char message[JMSG_LENGTH_MAX];
    cinfo->err->format_message(cinfo, message);
    AddText(reinterpret_cast<JpegErrors *>(cinfo->err), message);
}

[[noreturn]] void Abort(j_common_ptr cinfo)
{
    cinfo->err->output_message(cinfo);
    std::longjmp(reinterpret_cast<JpegErrors *>(cinfo->err)->abort, 1);
}

// CMYK and YCCK (decoded to CMYK) files come from Adobe's programs, which
// store the inks inverted (255 is no ink) and mark the file so; others are
// taken as plain inks.
void CmykToBgrx(uint8_t *row, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; x++, row += 4) {
        unsigned c = row[0], m = row[1], y = row[2], k = row[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        row[0] = uint8_t((y * k + 127) / 255);
        row[1] = uint8_t((m * k + 127) / 255);
        row[2] = uint8_t((c * k + 127) / 255);
        row[3] = 255;
    }
}

// Leaves by longjmp on a fatal libjpeg error.
bool ReadImage(jpeg_decompress_struct *cinfo, JpegErrors *errors, const uint8_t *data, size_t size,
               DecodedPicture *picture)
{
    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = MAX_COEFFICIENT_BYTES;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(cinfo, TRUE);

    // libjpeg-turbo writes four bytes a pixel, the fourth 255, for every
    // colour space it turns into RGB; CMYK is converted here in place.
    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    jpeg_calc_output_dimensions(cinfo);
    if (!PictureSizeAllowed(cinfo->output_width, cinfo->output_height)) {
        AddText(errors, "Image is too large");
        return false;
    }
    if (!AllocatePixels(picture, cinfo->output_width, cinfo->output_height)) {
        AddText(errors, "Out of memory");
        return false;
    }

    jpeg_start_decompress(cinfo);
    const size_t stride = size_t(cinfo->output_width) * 4;
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = picture->pixels.data() + cinfo->output_scanline * stride;
        jpeg_read_scanlines(cinfo, &row, 1);
        if (cmyk)
            CmykToBgrx(row, cinfo->output_width, cinfo->saw_Adobe_marker);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

// Kept apart from ReadImage so that the frame holding setjmp has no locals
// for the longjmp to clobber.
bool ReadImageGuarded(jpeg_decompress_struct *cinfo, JpegErrors *errors, const uint8_t *data, size_t size,
                      DecodedPicture *picture)
{
    if (setjmp(errors->abort))
        return false;
    return ReadImage(cinfo, errors, data, size, picture);
}

} // namespace

DecodedPicture DecodeJpeg(const uint8_t *data, size_t size)
{
    DecodedPicture picture;
    if (size > ULONG_MAX)
        return picture;

    jpeg_decompress_struct cinfo = {};
    JpegErrors errors = {};
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = Abort;
    errors.manager.output_message = KeepMessage;
    if (!ReadImageGuarded(&cinfo, &errors, data, size, &picture))
        picture = DecodedPicture();
    picture.message = errors.text;
    jpeg_destroy_decompress(&cinfo);
    return picture;
}
