#pragma once
// The text form of an encrypted clip part, as it travels and as the service
// stores it: the marker SEAL_MARKER, then base64url without padding of the
// nonce, the ciphertext and the tag. Every character of it passes the form
// and the CR LF encodings unchanged. Portable: no <windows.h>.
#include <cstddef>
#include <cstdint>
#include <string>
#include "wire.h"

#define SEAL_NONCE_BYTES 12
#define SEAL_TAG_BYTES 16
// Starts every sealed part; a part without it was scrambled by rotation.
extern const char SEAL_MARKER[];

// The number of characters that encode `bytes` bytes.
size_t Base64UrlLength(size_t bytes);
// Writes the encoding and its NUL into dst (Base64UrlLength(len) + 1 bytes).
void Base64UrlEncode(const uint8_t *src, size_t len, char *dst);
// Decodes `len` characters into dst (room for len / 4 * 3 + 2 bytes). False
// for a character outside the alphabet, a length of 4n + 1, or left-over
// bits that are not zero, so that every byte string has one encoding only.
bool Base64UrlDecode(const char *src, size_t len, uint8_t *dst, size_t *written);

bool IsSealedText(const char *text);
// The sealed text of `len` bytes of nonce, ciphertext and tag; null without
// memory.
HeapPtr<char> FrameSealed(const uint8_t *sealed, size_t len);
// The bytes of a sealed text and their number; null when it has no marker,
// is not base64url or cannot hold a nonce and a tag (or without memory).
HeapPtr<uint8_t> UnframeSealed(const char *text, size_t *len);
// The associated data of a part, "id:field": a part opens only for the clip
// and the field it was sealed for.
std::string SealContext(int32_t clipId, const char *field);
