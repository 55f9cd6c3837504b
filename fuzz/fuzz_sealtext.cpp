// libFuzzer target: the text form of sealed clip parts. Any input, as a
// value the service hands back, is read without writing past what it
// allocates, and is taken only in the one form the writer gives its bytes;
// any input, as bytes to send, reads back as it was and passes the form and
// CR LF encodings unchanged.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "cloud/sealtext.h"

namespace {

void Check(bool ok)
{
    if (!ok)
        abort();
}

std::string Framed(const uint8_t *bytes, size_t len)
{
    HeapPtr<char> text = FrameSealed(bytes, len);
    Check(text != nullptr);
    return text.get();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string value(reinterpret_cast<const char *>(data), size);
    size_t len = 0;
    HeapPtr<uint8_t> read = UnframeSealed(value.c_str(), &len);
    Check(!read || (len >= SEAL_NONCE_BYTES + SEAL_TAG_BYTES && Framed(read.get(), len) == value.c_str()));

    std::vector<uint8_t> decoded(size / 4 * 3 + 2);
    size_t written = 0;
    if (Base64UrlDecode(value.data(), size, decoded.data(), &written))
        Check(written <= decoded.size() && Base64UrlLength(written) == size);

    const std::string sealed = Framed(data, size);
    Check(url_encoded_length(sealed.c_str()) == sealed.size());
    Check(HeapPtr<char>(EncodeCRLF(sealed.c_str())).get() == sealed);
    read = UnframeSealed(sealed.c_str(), &len);
    Check(size < SEAL_NONCE_BYTES + SEAL_TAG_BYTES ? !read
                                                   : len == size && memcmp(read.get(), data, size) == 0);
    return 0;
}
