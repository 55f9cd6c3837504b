#pragma once
// Decodes a whole PNG file held in memory; builds without <windows.h>.
#include <cstddef>
#include <cstdint>
#include "viewer/decodedpicture.h"

// `background` is laid out like a COLORREF (red in the lowest byte); it is
// what transparent pixels are composed onto unless the file names its own
// background colour (bKGD). Data that does not start with the PNG signature
// fails without a message; any other failure carries libpng's text.
DecodedPicture DecodePng(const uint8_t *data, size_t size, uint32_t background);
