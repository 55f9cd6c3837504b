#pragma once
// Portable part of the format catalogue: the predefined names and the
// formatted names of unknown ids.
#include <cstddef>
#include <cstdint>

// Name and category of a predefined format, or null for any other id.
const char *PredefinedFormatName(uint32_t format, int *category);

// "GDI Object (%x)", "Private format (%x)" or "Unknown format (%x)".
void UnnamedFormatName(uint32_t format, char *buf, size_t size);

// Whether the id is one of the text formats that make Reduce possible.
bool IsTextFormat(uint32_t format);
