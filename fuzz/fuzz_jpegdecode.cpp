// libFuzzer target: any bytes as a "JFIF" clipboard format might hold them.
#include <cstdlib>
#include "viewer/jpegdecode.h"

namespace {

// Headers claiming big pictures decode correctly but take long enough
// to starve the search; skipping them keeps the fuzzer on new code.
bool ClaimsHugePicture(const uint8_t *data, size_t size)
{
    for (size_t i = 0; i + 9 <= size; i++) {
        if (data[i] == 0xFF && (data[i + 1] & 0xF0) == 0xC0 && data[i + 1] != 0xC4 && data[i + 1] != 0xC8 &&
            data[i + 1] != 0xCC) {
            unsigned height = data[i + 5] << 8 | data[i + 6], width = data[i + 7] << 8 | data[i + 8];
            return width * height > 1u << 18;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (ClaimsHugePicture(data, size))
        return 0;
    DecodedPicture picture = DecodeJpeg(data, size);
    if (picture.pixels.empty() ? picture.message.empty()
                               : picture.pixels.size() != size_t(picture.width) * picture.height * 4)
        abort();
    return 0;
}
