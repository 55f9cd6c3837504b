#include "formatnames.h"

#include <cstdio>

namespace {

// Categories as in formats.h: 1 text, 2 other, 3 picture, 4 Unicode text.
struct PredefinedFormat {
    uint32_t id;
    const char *name;
    int category;
};

const PredefinedFormat PREDEFINED[] = {
    {1, "Text", 1},
    {2, "Bitmap", 3},
    {3, "MetaFile Picture", 3},
    {4, "Symbolic Link", 2},
    {5, "Data Interchange Format", 2},
    {6, "Tagged Image File Format ", 3},
    {7, "ASCII Text", 1},
    {8, "Device Independent Bitmap", 3},
    {9, "Windows Palette", 2},
    {10, "Pen Data", 2},
    {11, "Resource Interchange File Format (RIFF) audio", 2},
    {12, "Wave audio format", 2},
    {13, "Unicode Text", 4},
    {14, "Enhanced MetaFile Picture", 3},
    {15, "Drag & Drop File", 2},
    {16, "Locale information", 2},
    {17, "Device Independent Bitmap V5", 3},
    {129, "Text (owner-draw)", 1},
    {130, "Bitmap (owner-draw)", 3},
    {131, "MetaFile Picture (owner-draw)", 3},
    {142, "Enhanced MetaFile (owner-draw)", 3},
};

} // namespace

const char *PredefinedFormatName(uint32_t format, int *category)
{
    for (const PredefinedFormat &f : PREDEFINED) {
        if (f.id == format) {
            if (category)
                *category = f.category;
            return f.name;
        }
    }
    return nullptr;
}

void UnnamedFormatName(uint32_t format, char *buf, size_t size)
{
    const char *pattern = format >= 0x300 && format <= 0x3FF   ? "GDI Object (%x)"
                          : format >= 0x200 && format <= 0x2FF ? "Private format (%x)"
                                                               : "Unknown format (%x)";
    if (buf && size)
        snprintf(buf, size, pattern, static_cast<unsigned>(format));
}

bool IsTextFormat(uint32_t format)
{
    return format == 1 || format == 7 || format == 13 || format == 129;
}
