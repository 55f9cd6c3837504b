// libFuzzer target: the text form of sealed clip parts. Any input, as a
// value the service hands back, is read within what is allocated for it and
// only in the one form that writing its bytes gives; any input, as bytes to
// send, reads back as it was and passes the form and CR LF encodings as it is.
#include <cstdlib>
#include <cstring>
#include <string>
#include "cloud/sealtext.h"

namespace {

void Check(bool ok)
{
    if (!ok)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string value(reinterpret_cast<const char *>(data), size);
    size_t len = 0;
    HeapPtr<uint8_t> read = UnframeSealed(value.c_str(), &len);
    Check(!read || (len >= SEAL_NONCE_BYTES + SEAL_TAG_BYTES &&
                    FrameSealed(read.get(), len).get() == std::string(value.c_str())));

    const std::string sealed = FrameSealed(data, size).get();
    Check(url_encoded_length(sealed.c_str()) == sealed.size() &&
          HeapPtr<char>(EncodeCRLF(sealed.c_str())).get() == sealed);
    read = UnframeSealed(sealed.c_str(), &len);
    Check(size < SEAL_NONCE_BYTES + SEAL_TAG_BYTES ? !read
                                                   : len == size && memcmp(read.get(), data, size) == 0);
    return 0;
}
