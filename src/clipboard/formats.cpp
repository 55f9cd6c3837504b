#include "formats.h"

#include "clipboard/formatnames.h"
#include "util/globals.h"
#include "util/safefns.h"

namespace {

// Registered names are atoms of up to 255 characters. Read whole, because
// Wine refuses a name longer than the buffer where Windows cuts it.
constexpr int ATOM_CHARS = 256;

} // namespace

char *FmtName(UINT format, char *buf, int size, int *category)
{
    int cat = FMT_OTHER;
    char name[ATOM_CHARS];
    const char *text = PredefinedFormatName(format, &cat);
    if (!text) {
        text = name;
        if (GetClipboardFormatNameA(format, name, sizeof name) > 0) {
            if (format == gvGlobals.cfPNG || format == gvGlobals.cfJFIF)
                cat = FMT_PICTURE;
        } else {
            UnnamedFormatName(format, name, sizeof name);
        }
    }
    // Names longer than the caller's buffer are cut, not refused.
    if (buf && size > 0)
        safe_strncpy(buf, size, text, size - 1);
    if (category)
        *category = cat;
    return buf;
}
