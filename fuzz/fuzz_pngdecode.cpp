// libFuzzer target: any bytes as a "PNG" clipboard format might hold them.
#include <zlib.h>
#include <cstdlib>
#include <vector>
#include "viewer/pngdecode.h"

namespace {

// Mutated chunks would nearly all stop at a CRC error; fixing the CRCs lets
// the fuzzer reach the chunk and image code behind them.
void FixCrcs(std::vector<uint8_t> &png)
{
    for (size_t at = 8; png.size() - at >= 12;) {
        const uint8_t *p = &png[at];
        const uint32_t length = uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        if (length > png.size() - at - 12)
            return;
        const uLong crc = crc32(0, p + 4, length + 4);
        for (int i = 0; i < 4; i++)
            png[at + 8 + length + i] = uint8_t(crc >> (24 - 8 * i));
        at += 12 + size_t(length);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> png(data, data + size);
    if (png.size() >= 8)
        FixCrcs(png);
    DecodedPicture picture = DecodePng(png.data(), png.size(), 0x00E3DFDA);
    if (!picture.pixels.empty() &&
        (picture.pixels.size() != size_t(picture.width) * picture.height * 4 || !picture.message.empty()))
        abort();
    return 0;
}
