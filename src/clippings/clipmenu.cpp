#include "clipmenu.h"
#include "store.h"
#include "clipboard/clipboard.h"
#include "clipboard/reduce.h"
#include "resources/resource.h"
#include "util/globals.h"
#include "util/guards.h"
#include "util/safefns.h"
#include "viewer/viewer.h"
#include <cstdio>
#include <cstring>

namespace {

const DWORD MAX_CLIP_TEXT = 2000; // bytes of CF_TEXT, terminator included

// Carries the name into and out of the name dialog.
char szClipName[CLIPNAME_MAX + 1];

INT_PTR CALLBACK ClipAddDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowTextA(dlg, lParam ? "Rename Clipping" : "Store Clipping");
        SendDlgItemMessageA(dlg, IDC_CLIPNAME, EM_LIMITTEXT, CLIPNAME_MAX, 0);
        SetDlgItemTextA(dlg, IDC_CLIPNAME, szClipName);
        return FALSE;
    case WM_COMMAND:
        if (wParam == IDOK) {
            GetDlgItemTextA(dlg, IDC_CLIPNAME, szClipName, sizeof szClipName);
            EndDialog(dlg, IDOK);
        } else if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dlg, IDCANCEL);
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void ShowLimitMessage(HWND owner, UINT id, unsigned limit)
{
    char format[256], text[512];
    if (!LoadStringA(gvGlobals.hInstance, id, format, sizeof format))
        format[0] = '\0';
    snprintf(text, sizeof text, format, limit);
    MessageBoxA(owner, text, APP_NAME, MB_OK | MB_ICONEXCLAMATION);
}

// A plain copy of one clipboard format, or null.
HGLOBAL PlainCopy(UINT format)
{
    HGLOBAL block = format ? GetClipboardBlock(nullptr, format, CASE_NONE, nullptr) : INVALID_BLOCK;
    return block == INVALID_BLOCK ? nullptr : block;
}

void StoreOpenClipboard(const char *name)
{
    GlobalBlock text(PlainCopy(CF_UNICODETEXT));
    if (!text.get())
        return;
    GlobalBlock rtf(PlainCopy(RegisterClipboardFormatA("Rich Text Format")));
    GlobalBlock html(PlainCopy(RegisterClipboardFormatA("HTML Format")));
    GlobalLockGuard<const wchar_t> textData(text.get());
    GlobalLockGuard<const char> rtfData(rtf.get());
    GlobalLockGuard<const char> htmlData(html.get());
    if (textData.get())
        StoreClipping(name, FALSE, textData.get(), rtfData.get(), htmlData.get());
}

} // namespace

HMENU ClippingsPopupMenu()
{
    HMENU menu = CreatePopupMenu();
    m_NumClippings = LoadClippingNames(m_Clippings, MAX_CLIPPINGS, m_ClipSort);
    if (m_NumClippings == 0) {
        AppendMenuA(menu, MF_STRING | MF_GRAYED, IDM_CLIPFIRST, "(Empty)");
        return menu;
    }
    for (uint32_t k = 0; k < m_NumClippings; k++) {
        uint32_t i = m_ClipSort[k];
        AppendMenuA(menu, MF_STRING, IDM_CLIPFIRST + i, m_Clippings[i].name);
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_DATA;
        info.dwItemData = m_Clippings[i].slot;
        SetMenuItemInfoA(menu, IDM_CLIPFIRST + i, FALSE, &info);
    }
    return menu;
}

void ReplaceClippingsSubmenu(HMENU parent)
{
    int count = GetMenuItemCount(parent);
    for (int pos = 0; pos < count; pos++) {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_SUBMENU;
        if (!GetMenuItemInfoA(parent, pos, TRUE, &info) || info.wID != IDM_CLIPPINGS)
            continue;
        HMENU old = info.hSubMenu;
        info.fMask = MIIM_SUBMENU;
        info.hSubMenu = ClippingsPopupMenu();
        SetMenuItemInfoA(parent, pos, TRUE, &info);
        if (old)
            DestroyMenu(old);
        return;
    }
}

BOOL ClippingSlotOfCommand(HMENU parent, UINT id, uint32_t *slot)
{
    HMENU submenu = parent ? GetSubMenu(parent, 0) : nullptr;
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_DATA;
    if (!submenu || !GetMenuItemInfoA(submenu, id, FALSE, &info))
        return FALSE;
    *slot = (uint32_t)info.dwItemData;
    return TRUE;
}

UINT OnRecallClipping(HWND owner, uint32_t slot)
{
    UINT placed = 0;
    // The recalled clipping is left as stored, not reduced by the automatic
    // conversion, which would also replace the undo snapshot taken here.
    m_Active = TRUE;
    {
        ClipboardGuard clip(owner);
        if (clip.ok() && PrepUndo(owner, 1))
            placed = RecallClipping(owner, slot);
    }
    m_Active = FALSE;
    return placed;
}

UINT ClipAddNameDlg(char *name, size_t size, int mode)
{
    safe_strncpy(szClipName, sizeof szClipName, name, CLIPNAME_MAX);
    INT_PTR result = DialogBoxParamA(gvGlobals.hInstance, MAKEINTRESOURCEA(IDD_CLIPNAME), GetDesktopWindow(),
                                     ClipAddDlgProc, mode);
    if (result != IDOK || !szClipName[0] || size == 0)
        return 0;
    safe_strncpy(name, size, szClipName, size - 1);
    return (UINT)strlen(name);
}

void OnBtnClipAdd(HWND owner)
{
    if (!MayStoreClipping()) {
        ShowLimitMessage(owner, IDS_CLIPLIMIT, MAX_CLIPPINGS);
        return;
    }
    if (m_TextSize > MAX_CLIP_TEXT) {
        ShowLimitMessage(owner, IDS_CLIPTOOLONG, MAX_CLIP_TEXT);
        return;
    }
    char name[CLIPNAME_MAX + 1] = "New Clipping";
    if (!ClipAddNameDlg(name, sizeof name, CLIPNAME_STORE))
        return;
    ClipboardGuard clip(owner);
    if (clip.ok())
        StoreOpenClipboard(name);
}
