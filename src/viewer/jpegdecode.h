#pragma once
// Decodes a whole JPEG file held in memory; builds without <windows.h>.
#include <cstddef>
#include <cstdint>
#include "viewer/decodedpicture.h"

// Greyscale, RGB, YCbCr, CMYK and YCCK files all come out as blue, green,
// red. libjpeg's text for a fatal error and for the first warning is kept in
// the message; after a warning (a truncated file, corrupt data) the picture
// is still returned with whatever could be decoded.
DecodedPicture DecodeJpeg(const uint8_t *data, size_t size);
