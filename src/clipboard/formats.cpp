#include "formats.h"

#include "clipboard/formatnames.h"
#include "resources/resource.h"
#include "util/globals.h"
#include "util/guards.h"
#include "util/safefns.h"

BOOL m_CanReduce;

namespace {

// Room the catalogue gives a format name.
constexpr int NAME_CHARS = 64;
// Registered names are atoms of up to 255 characters. Read whole, because
// Wine refuses a name longer than the buffer where Windows cuts it.
constexpr int ATOM_CHARS = 256;

// Adds every format on the open clipboard to the list; true if one is text.
bool FillList(HWND list)
{
    bool text = false;
    for (UINT format = EnumClipboardFormats(0); format; format = EnumClipboardFormats(format)) {
        char name[NAME_CHARS];
        SendMessageA(list, LB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(FmtName(format, name, sizeof name, nullptr)));
        text = text || IsTextFormat(format);
    }
    return text;
}

void FillFormatList(HWND hwndMain)
{
    HWND list = GetDlgItem(hwndMain, IDC_FORMATLIST);
    // Drawn once when filled: every item added would otherwise redraw the
    // list and its scroll bar while the clipboard is held open.
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    const BOOL text = FillList(list);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    EnableWindow(GetDlgItem(hwndMain, IDC_REDUCE), text);
    EnableMenuItem(GetSystemMenu(hwndMain, FALSE), IDM_REDUCE,
                   MF_BYCOMMAND | (text ? MF_ENABLED : MF_GRAYED));
    m_CanReduce = text;
}

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

// A clipboard that cannot be opened, held by another program or by an
// operation further up this thread's stack, leaves the list as it was.
void RefreshList(HWND hwndMain, int clipboardOpen)
{
    if (clipboardOpen) {
        FillFormatList(hwndMain);
        return;
    }
    ClipboardGuard clip(hwndMain);
    if (clip.ok())
        FillFormatList(hwndMain);
}
