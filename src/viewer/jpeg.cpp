#include "jpeg.h"
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <jerror.h>

#define JPEG_STR2(x) #x
#define JPEG_STR(x) JPEG_STR2(x)

namespace {
char m_JPGVersion[256];
} // namespace

const char *JPGVersion()
{
    // At run time the library reports only the libjpeg API level it emulates
    // ("6b  27-Mar-1998"), never its own release; that release is the one of
    // the headers, which are installed with the static library we link.
    jpeg_error_mgr err;
    jpeg_std_error(&err);
    const char *api = err.jpeg_message_table[JMSG_VERSION];
    snprintf(m_JPGVersion, sizeof m_JPGVersion, "libjpeg-turbo version %s (libjpeg %.*s API)\n%s\n",
             JPEG_STR(LIBJPEG_TURBO_VERSION), (int)strcspn(api, " "), api,
             err.jpeg_message_table[JMSG_COPYRIGHT]);
    return m_JPGVersion;
}
