#include "utf.h"
#include <cstdlib>

char *UTF16ToUTF8(const wchar_t *text)
{
    if (!text || !*text)
        return nullptr;
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return nullptr;
    char *out = static_cast<char *>(malloc(size));
    if (out && WideCharToMultiByte(CP_UTF8, 0, text, -1, out, size, nullptr, nullptr) != size) {
        free(out);
        return nullptr;
    }
    return out;
}

wchar_t *UTF8ToUTF16(const char *text)
{
    if (!text || !*text)
        return nullptr;
    int count = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (count <= 0)
        return nullptr;
    wchar_t *out = static_cast<wchar_t *>(malloc(count * sizeof(wchar_t)));
    if (out && MultiByteToWideChar(CP_UTF8, 0, text, -1, out, count) != count) {
        free(out);
        return nullptr;
    }
    return out;
}
