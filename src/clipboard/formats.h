#pragma once
// Readable names of clipboard formats.
#include <windows.h>

enum FormatCategory { FMT_TEXT = 1, FMT_OTHER = 2, FMT_PICTURE = 3, FMT_UNICODE = 4 };

// Writes the name of `format` into buf (bounded) and its category; returns buf.
char *FmtName(UINT format, char *buf, int size, int *category);
