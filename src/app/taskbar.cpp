#include "taskbar.h"
#include "formatlist.h"
#include "main.h"
#include "clippings/clipmenu.h"
#include "clipboard/reduce.h"
#include "resources/resource.h"
#include "util/globals.h"
#include "util/safefns.h"
#include <shellapi.h>

namespace {

BOOL NotifyIcon(DWORD action, HWND hwnd, UINT id, HICON icon, const char *tip)
{
    NOTIFYICONDATAA nid = {};
    nid.cbSize = NOTIFYICONDATAA_V2_SIZE;
    nid.hWnd = hwnd;
    nid.uID = id;
    if (action != NIM_DELETE) {
        nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        nid.uCallbackMessage = WM_COMMAND;
        nid.hIcon = icon;
        if (tip)
            safe_strncpy(nid.szTip, sizeof nid.szTip, tip, sizeof nid.szTip - 1);
    }
    return Shell_NotifyIconA(action, &nid);
}

void ShowTrayMenu(HWND hwnd)
{
    HMENU menu = LoadMenuA(gvGlobals.hInstance, MAKEINTRESOURCEA(IDM_TRAY));
    if (!menu)
        return;
    HMENU popup = GetSubMenu(menu, 0);
    POINT pt;
    GetCursorPos(&pt);
    EnableMenuItem(popup, IDM_REDUCE, MF_BYCOMMAND | (CanReduce() ? MF_ENABLED : MF_GRAYED));
    EnableMenuItem(popup, IDM_CONVERT, MF_BYCOMMAND | (CanReduce() ? MF_ENABLED : MF_GRAYED));
    EnableMenuItem(popup, IDM_UNDO, MF_BYCOMMAND | (HasUndo() ? MF_ENABLED : MF_GRAYED));
    ReplaceClippingsSubmenu(popup);
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(hwnd);
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, hwnd, nullptr);
    PostMessageA(hwnd, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

} // namespace

BOOL MyTaskBarAddIcon(HWND hwnd, UINT id, HICON icon, const char *tip)
{
    return NotifyIcon(NIM_ADD, hwnd, id, icon, tip);
}

BOOL MyTaskBarChangeIcon(HWND hwnd, UINT id, HICON icon, const char *tip)
{
    return NotifyIcon(NIM_MODIFY, hwnd, id, icon, tip);
}

BOOL MyTaskBarDeleteIcon(HWND hwnd, UINT id)
{
    return NotifyIcon(NIM_DELETE, hwnd, id, nullptr, nullptr);
}

void OnTrayNotify(HWND hwnd, LPARAM mouseMsg)
{
    if (mouseMsg == WM_RBUTTONDOWN)
        ShowTrayMenu(hwnd);
    else if (mouseMsg == WM_LBUTTONDBLCLK)
        OnReduce(hwnd);
}
