#pragma once
#include <windows.h>

// Whole zero-terminated text conversions with the system's UTF-8 code page.
// The result is allocated with malloc and freed by the caller with free();
// a null or empty input gives null.
char *UTF16ToUTF8(const wchar_t *text);
wchar_t *UTF8ToUTF16(const char *text);
