#include <windows.h>
#include <cstring>
#include "childmodes.h"
#include "testutil.h"

namespace {
// Copies formatted text as an editor would: text, rich text and HTML.
int CopyFormatted()
{
    UINT rtf = RegisterClipboardFormatA("Rich Text Format");
    UINT html = RegisterClipboardFormatA("HTML Format");
    return SetClipboardFormats({{CF_TEXT, std::string("Hello world", 12)},
                                {rtf, std::string("{\\rtf1 Hello {\\b world}}", 25)},
                                {html, std::string("<b>Hello</b> world", 19)}})
               ? 0
               : 1;
}
} // namespace

int RunChildMode(int, char **argv)
{
    if (strcmp(argv[0], "--child-copy-formatted") == 0)
        return CopyFormatted();
    return 2;
}
