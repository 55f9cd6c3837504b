#include "cloud/sealtext.h"
#include <algorithm>
#include <cstring>
#include "util/safefns.h"

const char SEAL_MARKER[] = "_qs1.";

namespace {

const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// The value of each character, -1 outside the alphabet.
struct SextetTable {
    SextetTable()
    {
        memset(value, -1, sizeof value);
        for (int i = 0; i < 64; i++)
            value[static_cast<unsigned char>(ALPHABET[i])] = static_cast<int8_t>(i);
    }
    int8_t value[256];
};

int SextetOf(char c)
{
    static const SextetTable table;
    return table.value[static_cast<unsigned char>(c)];
}

// The first `chars` characters of a group of 24 bits.
void PutGroup(uint32_t group, size_t chars, char *dst)
{
    for (size_t k = 0; k < chars; k++)
        dst[k] = ALPHABET[(group >> (18 - 6 * k)) & 63];
}

} // namespace

size_t Base64UrlLength(size_t bytes)
{
    return bytes / 3 * 4 + (bytes % 3 ? bytes % 3 + 1 : 0);
}

void Base64UrlEncode(const uint8_t *src, size_t len, char *dst)
{
    size_t i = 0;
    for (; len - i >= 3; i += 3, dst += 4)
        PutGroup(uint32_t(src[i]) << 16 | uint32_t(src[i + 1]) << 8 | src[i + 2], 4, dst);
    // One or two bytes left take two or three characters.
    if (i < len) {
        const uint32_t group = uint32_t(src[i]) << 16 | (len - i > 1 ? uint32_t(src[i + 1]) << 8 : 0);
        PutGroup(group, len - i + 1, dst);
        dst += len - i + 1;
    }
    *dst = '\0';
}

bool Base64UrlDecode(const char *src, size_t len, uint8_t *dst, size_t *written)
{
    *written = 0;
    if (len % 4 == 1)
        return false;
    for (size_t i = 0; i < len; i += 4) {
        const size_t n = std::min<size_t>(4, len - i);
        uint32_t group = 0;
        for (size_t k = 0; k < 4; k++) {
            const int value = k < n ? SextetOf(src[i + k]) : 0;
            if (value < 0)
                return false;
            group = group << 6 | uint32_t(value);
        }
        // n characters carry n - 1 bytes; the bits after them must be zero.
        const size_t bytes = n - 1;
        if (group & ((uint32_t(1) << (8 * (3 - bytes))) - 1))
            return false;
        for (size_t k = 0; k < bytes; k++)
            dst[(*written)++] = uint8_t(group >> (16 - 8 * k));
    }
    return true;
}

bool IsSealedText(const char *text)
{
    return text && strncmp(text, SEAL_MARKER, strlen(SEAL_MARKER)) == 0;
}

HeapPtr<char> FrameSealed(const uint8_t *sealed, size_t len)
{
    const size_t marker = strlen(SEAL_MARKER);
    if (len > (SIZE_MAX - marker - 1) / 4 * 3)
        return nullptr;
    HeapPtr<char> text(static_cast<char *>(xmalloc(marker + Base64UrlLength(len) + 1)));
    if (text) {
        memcpy(text.get(), SEAL_MARKER, marker);
        Base64UrlEncode(sealed, len, text.get() + marker);
    }
    return text;
}

HeapPtr<uint8_t> UnframeSealed(const char *text, size_t *len)
{
    *len = 0;
    if (!IsSealedText(text))
        return nullptr;
    const char *body = text + strlen(SEAL_MARKER);
    const size_t chars = strlen(body);
    HeapPtr<uint8_t> bytes(static_cast<uint8_t *>(xmalloc(chars / 4 * 3 + 2)));
    if (!bytes || !Base64UrlDecode(body, chars, bytes.get(), len) ||
        *len < SEAL_NONCE_BYTES + SEAL_TAG_BYTES) {
        *len = 0;
        return nullptr;
    }
    return bytes;
}

std::string SealContext(int32_t clipId, const char *field)
{
    char id[8];
    FormatId(clipId, id);
    return std::string(id) + ":" + field;
}
