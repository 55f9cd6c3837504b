#include "fit.h"
#include <cstdint>

namespace {

const uint32_t BITFIELDS_COMPRESSION = 3;
const uint32_t INFO_HEADER_SIZE = 40;

uint32_t Le32(const uint8_t *p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

} // namespace

FitRect FitPicture(uint32_t w, uint32_t h, int W, int H)
{
    if (h == 0 || W <= 0 || H <= 0)
        return {0, 0, W, H};
    // Single precision, each value rounded, as the drawn sizes depend on it;
    // volatile keeps the x87 of 32-bit builds from carrying more precision.
    volatile float ratioPicture = static_cast<float>(w) / static_cast<float>(h);
    volatile float ratioFrame = static_cast<float>(W) / static_cast<float>(H);
    int drawW, drawH;
    if (ratioPicture > ratioFrame) {
        drawW = static_cast<uint32_t>(W) < w ? W : static_cast<int>(w);
        volatile float side = drawW / ratioPicture;
        drawH = static_cast<int>(side) + 1;
    } else {
        drawH = static_cast<uint32_t>(H) < h ? H : static_cast<int>(h);
        volatile float side = ratioPicture * drawH;
        drawW = static_cast<int>(side) + 1;
    }
    int left = (W - drawW) / 2;
    int top = (H - drawH) / 2;
    return {left, top, left + drawW, top + drawH};
}

bool ReadDibHeader(const uint8_t *block, size_t size, DibHeader *out)
{
    if (!block || size < INFO_HEADER_SIZE)
        return false;
    out->size = Le32(block);
    out->width = static_cast<int32_t>(Le32(block + 4));
    out->height = static_cast<int32_t>(Le32(block + 8));
    out->bitCount = static_cast<uint16_t>(block[14] | block[15] << 8);
    out->compression = Le32(block + 16);
    out->clrUsed = Le32(block + 32);
    return true;
}

bool DibBitsOffset(const DibHeader &h, size_t blockSize, size_t *offset)
{
    if (h.size < INFO_HEADER_SIZE || h.size > blockSize || h.bitCount > 32)
        return false;
    uint64_t pos = h.size;
    if (h.compression == BITFIELDS_COMPRESSION && h.size == INFO_HEADER_SIZE)
        pos += 3 * 4;
    uint64_t colours = h.clrUsed;
    if (colours == 0 && h.bitCount <= 8)
        colours = uint64_t(1) << h.bitCount;
    pos += colours * 4;
    if (pos > blockSize)
        return false;
    *offset = static_cast<size_t>(pos);
    return true;
}

uint32_t SpanOf(int32_t from, int32_t to)
{
    const int64_t span = int64_t(to) - from;
    return static_cast<uint32_t>(span < 0 ? -span : span);
}
