#pragma once
// Allocation and bounded string helpers. Portable: no <windows.h>.
//
// Every bounded helper either does the whole operation or, when the result
// (with its terminator) would not fit in `size`, writes nothing and returns a
// non-zero code. Success is 0.
#include <cstddef>

enum { SAFE_OK = 0, SAFE_EINVAL = 22, SAFE_ERANGE = 34 };

// Zero-filled allocation (so every buffer starts as an empty text), or null.
void *xmalloc(size_t size);

// Occurrences of `needle` in `hay`, overlapping ones included.
size_t strstrcnt(const char *hay, const char *needle);

int safe_strcpy(char *dst, size_t size, const char *src);
int safe_strcat(char *dst, size_t size, const char *src);
// Copy / append at most `count` characters of src.
int safe_strncpy(char *dst, size_t size, const char *src, size_t count);
int safe_strncat(char *dst, size_t size, const char *src, size_t count);
// `count` is the capacity of dst in characters, terminator included.
int safe_wcscpy(wchar_t *dst, size_t count, const wchar_t *src);
int safe_memcpy(void *dst, size_t size, const void *src, size_t n);
// Integer to text in the given radix (2 to 36, lower-case digits).
int safe_itoa(long long value, char *dst, size_t size, int radix);
// ASCII case conversion of a text within `size` bytes (must be terminated).
int safe_strupr(char *s, size_t size);
int safe_strlwr(char *s, size_t size);
// Tokeniser with a caller-held position: pass the text on the first call and
// null afterwards. Returns null when no token is left.
char *safe_strtok(char *str, const char *delims, char **pos);
