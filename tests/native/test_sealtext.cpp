#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "cloud/sealtext.h"

namespace {

std::string Bytes(const std::vector<uint8_t> &bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// The decoded bytes of a text, or "<refused>".
std::string Decoded(const std::string &text)
{
    std::vector<uint8_t> dst(text.size() / 4 * 3 + 2);
    size_t n = 0;
    if (!Base64UrlDecode(text.data(), text.size(), dst.data(), &n))
        return "<refused>";
    dst.resize(n);
    return Bytes(dst);
}

// The bytes a sealed text holds, or "<refused>".
std::string Unframed(const std::string &text)
{
    size_t len = 0;
    HeapPtr<uint8_t> bytes = UnframeSealed(text.c_str(), &len);
    return bytes ? std::string(reinterpret_cast<const char *>(bytes.get()), len) : "<refused>";
}

std::string Framed(const std::string &bytes)
{
    return FrameSealed(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()).get();
}

} // namespace

// Each length of a last group, both ends of the alphabet, and the texts that
// no encoder writes: padding, a lone last character, left-over bits, bytes
// outside the alphabet (a NUL among them).
TEST(SealText, Base64Url)
{
    const struct {
        std::string bytes, text;
    } cases[] = {
        {"", ""},
        {"f", "Zg"},
        {"fo", "Zm8"},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg"},
        {"fooba", "Zm9vYmE"},
        {"foobar", "Zm9vYmFy"},
        {"\xFB\xFF", "-_8"},
        {std::string("\0\0\0\0", 4), "AAAAAA"},
    };
    for (const auto &c : cases) {
        std::vector<char> text(Base64UrlLength(c.bytes.size()) + 1, '#');
        Base64UrlEncode(reinterpret_cast<const uint8_t *>(c.bytes.data()), c.bytes.size(), text.data());
        EXPECT_EQ(c.text, std::string(text.data())) << c.text;
        EXPECT_EQ(c.text.size() + 1, text.size()) << c.text;
        EXPECT_EQ(c.bytes, Decoded(c.text)) << c.text;
    }
    for (const std::string &bad : std::vector<std::string>{"Zg==", "Zm9vY", "Zh", "Zm9", "Zm+v", "Zm/v",
                                                           "Zm 9", std::string("Zm\0v", 4)})
        EXPECT_EQ("<refused>", Decoded(bad)) << bad;
}

// A sealed text passes the form and CR LF encodings as it is; only the
// marker followed by base64url of a nonce and a tag at least is read back
// (an empty part still has both). Cut values that still read back are the
// tag's to refuse.
TEST(SealText, FramedParts)
{
    const std::string empty(SEAL_NONCE_BYTES + SEAL_TAG_BYTES, '\x9C'),
        part = empty + std::string("\xFF\x00x", 3);
    const std::string sealed = Framed(part);
    EXPECT_EQ(0u, sealed.find(SEAL_MARKER));
    EXPECT_EQ(sealed.size(), url_encoded_length(sealed.c_str()));
    EXPECT_EQ(sealed, HeapPtr<char>(EncodeCRLF(sealed.c_str())).get());
    EXPECT_TRUE(IsSealedText(sealed.c_str()));
    EXPECT_FALSE(IsSealedText("_qs1") || IsSealedText(nullptr));
    EXPECT_EQ(part, Unframed(sealed));
    EXPECT_EQ(empty, Unframed(Framed(empty)));

    const std::string marker = SEAL_MARKER;
    for (const std::string &bad :
         {Framed(empty.substr(1)), sealed.substr(0, sealed.size() - 1), marker, sealed.substr(1),
          sealed + "=", marker + " " + sealed.substr(marker.size())})
        EXPECT_EQ("<refused>", Unframed(bad)) << bad;
    EXPECT_EQ("1234567:ClipRTF", SealContext(1234567, "ClipRTF"));
}
