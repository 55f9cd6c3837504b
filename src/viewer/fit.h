#pragma once
// Where a picture goes in the viewer's frame, and where a DIB's pixels start.
// Portable: no <windows.h>.
#include <cstddef>
#include <cstdint>

struct FitRect {
    int left, top, right, bottom;
};

// Places a picture of natural size w x h in a frame of W x H: never
// enlarged, centred, the governing side the smaller of frame and picture and
// the other following the picture's aspect ratio plus one pixel. A height of
// 0 fills the frame.
FitRect FitPicture(uint32_t w, uint32_t h, int W, int H);

// The fields of a BITMAPINFOHEADER that locate the pixels.
struct DibHeader {
    uint32_t size; // biSize
    int32_t width;
    int32_t height; // negative: rows run top-down
    uint16_t bitCount;
    uint32_t compression;
    uint32_t clrUsed;
};

// Reads the header at the start of a CF_DIB block; false when too short.
bool ReadDibHeader(const uint8_t *block, size_t size, DibHeader *out);

// Offset of the pixel bits within the block: after the header, the three
// bit-field masks of a 40-byte BI_BITFIELDS header and the colour table
// (biClrUsed entries, or 2^bitCount when 0 and bitCount <= 8). False when
// the header is implausible or the pixels would lie past the block.
bool DibBitsOffset(const DibHeader &h, size_t blockSize, size_t *offset);

// The distance between two coordinates of another program's bounds, which
// may lie anywhere in the 32-bit range: up to 2^32 - 1.
uint32_t SpanOf(int32_t from, int32_t to);
