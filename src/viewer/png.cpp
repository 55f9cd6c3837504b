#include "png.h"
#include <png.h>
#include <zlib.h>
#include <cstdio>
#include <cstring>

// zlib keeps its copyright line in the library itself, in the deflate code:
// " deflate 1.2.13 Copyright 1995-2022 Jean-loup Gailly and Mark Adler ".
extern "C" const char deflate_copyright[];

namespace {
char m_ZLIBVersion[160];
} // namespace

const char *PNGVersion()
{
    // Begins with a line break, then "libpng version x.y.z" and its copyright lines.
    return png_get_copyright(nullptr);
}

const char *ZLIBVersion()
{
    const char *notice = strstr(deflate_copyright, "Copyright");
    if (!notice)
        notice = deflate_copyright;
    size_t length = strlen(notice);
    while (length && notice[length - 1] == ' ')
        length--;
    snprintf(m_ZLIBVersion, sizeof m_ZLIBVersion, "zlib version %s\n%.*s\n", zlibVersion(), (int)length,
             notice);
    return m_ZLIBVersion;
}
