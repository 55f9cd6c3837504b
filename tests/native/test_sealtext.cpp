#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "cloud/sealtext.h"

namespace {

const std::string REFUSED = "<refused>";

std::string Decoded(const std::string &text)
{
    std::vector<uint8_t> dst(text.size() / 4 * 3 + 2);
    size_t n = 0;
    return Base64UrlDecode(text.data(), text.size(), dst.data(), &n)
               ? std::string(dst.begin(), dst.begin() + n)
               : REFUSED;
}

std::string Framed(const std::string &bytes)
{
    return FrameSealed(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()).get();
}

std::string Unframed(const std::string &text)
{
    size_t len = 0;
    HeapPtr<uint8_t> bytes = UnframeSealed(text.c_str(), &len);
    return bytes ? std::string(reinterpret_cast<const char *>(bytes.get()), len) : REFUSED;
}

} // namespace

// Each length of a last group and both ends of the alphabet; refused are the
// texts no encoder writes: padding, a lone last character, left-over bits,
// bytes outside the alphabet (a NUL among them).
TEST(SealText, Base64Url)
{
    const std::vector<std::string> bytes = {"",     "f",     "fo",       "foo",
                                            "foob", "fooba", "\xFB\xFF", std::string(4, '\0')};
    const std::vector<std::string> texts = {"", "Zg", "Zm8", "Zm9v", "Zm9vYg", "Zm9vYmE", "-_8", "AAAAAA"};
    for (size_t i = 0; i < bytes.size(); i++) {
        std::vector<char> text(Base64UrlLength(bytes[i].size()) + 1, '#');
        Base64UrlEncode(reinterpret_cast<const uint8_t *>(bytes[i].data()), bytes[i].size(), text.data());
        EXPECT_EQ(texts[i], std::string(text.data(), text.size() - 1)) << texts[i];
        EXPECT_EQ(bytes[i], Decoded(texts[i])) << texts[i];
    }
    for (const std::string &bad : std::vector<std::string>{"Zg==", "Zm9vY", "Zh", "Zm9", "Zm+v", "Zm/v",
                                                           "Zm 9", std::string("Zm\0v", 4)})
        EXPECT_EQ(REFUSED, Decoded(bad)) << bad;
}

// A sealed text passes the form encoding as it is. Read back is only the
// marker followed by base64url of a nonce and a tag at least (an empty part
// still has both); a value cut short that still reads back is the tag's to
// refuse.
TEST(SealText, FramedParts)
{
    const std::string empty(SEAL_NONCE_BYTES + SEAL_TAG_BYTES, '\x9C'),
        part = empty + std::string("\xFF\0x", 3);
    const std::string sealed = Framed(part), marker = SEAL_MARKER;
    EXPECT_EQ(sealed.size(), url_encoded_length(sealed.c_str()));
    EXPECT_EQ(part, Unframed(sealed));
    EXPECT_EQ(empty, Unframed(Framed(empty)));
    for (const std::string &bad :
         {Framed(empty.substr(1)), sealed.substr(0, sealed.size() - 1), marker, sealed.substr(1),
          sealed + "=", marker + " " + sealed.substr(marker.size())})
        EXPECT_EQ(REFUSED, Unframed(bad)) << bad;
}
