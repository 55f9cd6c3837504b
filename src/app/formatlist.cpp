#include "formatlist.h"
#include "clipboard/formatnames.h"
#include "clipboard/formats.h"
#include "resources/resource.h"
#include "util/guards.h"

namespace {

// Room the list gives a format name.
constexpr int NAME_CHARS = 64;

bool m_CanReduce;

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
    const bool text = FillList(list);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    EnableWindow(GetDlgItem(hwndMain, IDC_REDUCE), text);
    EnableMenuItem(GetSystemMenu(hwndMain, FALSE), IDM_REDUCE,
                   MF_BYCOMMAND | (text ? MF_ENABLED : MF_GRAYED));
    m_CanReduce = text;
}

} // namespace

void RefreshList(HWND hwndMain)
{
    ClipboardGuard clip(hwndMain);
    if (clip.ok())
        FillFormatList(hwndMain);
}

bool CanReduce()
{
    return m_CanReduce;
}
