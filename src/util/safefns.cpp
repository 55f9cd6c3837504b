#include "safefns.h"

#include <cstdlib>
#include <cstring>

namespace {

// Length of s, or `max` when no terminator lies within the first max bytes.
size_t BoundedLen(const char *s, size_t max)
{
    size_t len = 0;
    while (len < max && s[len])
        len++;
    return len;
}

// Appends len bytes of src and a terminator at dst + at, when they fit.
int PutText(char *dst, size_t size, size_t at, const char *src, size_t len)
{
    if (len >= size - at)
        return SAFE_ERANGE;
    memmove(dst + at, src, len);
    dst[at + len] = '\0';
    return SAFE_OK;
}

int ConvertCase(char *s, size_t size, char from, char to)
{
    if (!s)
        return SAFE_EINVAL;
    size_t len = BoundedLen(s, size);
    if (len == size)
        return SAFE_EINVAL;
    for (size_t i = 0; i < len; i++)
        if (s[i] >= from && s[i] <= from + 25)
            s[i] = static_cast<char>(s[i] - from + to);
    return SAFE_OK;
}

} // namespace

void *xmalloc(size_t size)
{
    return calloc(1, size);
}

size_t strstrcnt(const char *hay, const char *needle)
{
    if (!hay || !needle || !*needle)
        return 0;
    size_t count = 0;
    for (const char *p = strstr(hay, needle); p; p = strstr(p + 1, needle))
        count++;
    return count;
}

int safe_strcpy(char *dst, size_t size, const char *src)
{
    if (!dst || !src)
        return SAFE_EINVAL;
    return safe_strncpy(dst, size, src, strlen(src));
}

int safe_strcat(char *dst, size_t size, const char *src)
{
    if (!dst || !src)
        return SAFE_EINVAL;
    return safe_strncat(dst, size, src, strlen(src));
}

int safe_strncpy(char *dst, size_t size, const char *src, size_t count)
{
    if (!dst || !src)
        return SAFE_EINVAL;
    if (size == 0)
        return SAFE_ERANGE;
    return PutText(dst, size, 0, src, BoundedLen(src, count));
}

int safe_strncat(char *dst, size_t size, const char *src, size_t count)
{
    if (!dst || !src)
        return SAFE_EINVAL;
    size_t used = BoundedLen(dst, size);
    if (used == size)
        return SAFE_EINVAL;
    return PutText(dst, size, used, src, BoundedLen(src, count));
}

int safe_wcscpy(wchar_t *dst, size_t count, const wchar_t *src)
{
    if (!dst || !src)
        return SAFE_EINVAL;
    size_t len = 0;
    while (src[len])
        len++;
    if (len >= count)
        return SAFE_ERANGE;
    memmove(dst, src, (len + 1) * sizeof *src);
    return SAFE_OK;
}

int safe_memcpy(void *dst, size_t size, const void *src, size_t n)
{
    if (!dst || !src)
        return SAFE_EINVAL;
    if (n > size)
        return SAFE_ERANGE;
    memmove(dst, src, n);
    return SAFE_OK;
}

int safe_itoa(long long value, char *dst, size_t size, int radix)
{
    if (!dst || radix < 2 || radix > 36)
        return SAFE_EINVAL;
    // Built backwards: 64 binary digits, a sign and the terminator at most.
    char text[66];
    char *p = text + sizeof text;
    *--p = '\0';
    // Unsigned negation keeps the most negative value representable.
    unsigned long long magnitude =
        value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    do {
        *--p = "0123456789abcdefghijklmnopqrstuvwxyz"[magnitude % radix];
        magnitude /= radix;
    } while (magnitude);
    if (value < 0)
        *--p = '-';
    return safe_strcpy(dst, size, p);
}

int safe_strupr(char *s, size_t size)
{
    return ConvertCase(s, size, 'a', 'A');
}

int safe_strlwr(char *s, size_t size)
{
    return ConvertCase(s, size, 'A', 'a');
}

char *safe_strtok(char *str, const char *delims, char **pos)
{
    if (!delims || !pos)
        return nullptr;
    char *p = str ? str : *pos;
    if (!p)
        return nullptr;
    p += strspn(p, delims);
    if (!*p) {
        *pos = p;
        return nullptr;
    }
    char *end = p + strcspn(p, delims);
    if (*end)
        *end++ = '\0';
    *pos = end;
    return p;
}
