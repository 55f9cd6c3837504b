#include "clipmenu.h"
#include "store.h"
#include "clipboard/clipboard.h"
#include "clipboard/reduce.h"
#include "resources/resource.h"
#include "util/globals.h"
#include "util/guards.h"
#include "util/messages.h"
#include "util/safefns.h"
#include <cstdio>
#include <cstring>

namespace {

// The clippings as the last menu built listed them, by table index.
ClippingEntry m_Clippings[MAX_CLIPPINGS];
uint32_t m_ClipSort[MAX_CLIPPINGS];
uint32_t m_NumClippings;

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

// The clipboard text and its variants as the store command found them.
struct ClipboardText {
    GlobalBlock text, rtf, html;
    SIZE_T ansiSize = 0; // bytes of CF_TEXT, terminator included
    DWORD sequence = 0;  // the clipboard's number once they were read
};

bool CopyClipboardText(HWND owner, ClipboardText *copy)
{
    {
        ClipboardSession clip(owner);
        if (!clip.ok())
            return false;
        copy->text.Reset(PlainCopy(CF_UNICODETEXT));
        copy->rtf.Reset(PlainCopy(RegisterClipboardFormatA("Rich Text Format")));
        copy->html.Reset(PlainCopy(RegisterClipboardFormatA("HTML Format")));
        GetClipboardBlockSize(CF_TEXT, &copy->ansiSize);
    }
    copy->sequence = GetClipboardSequenceNumber();
    return copy->text.get() != nullptr;
}

void StoreText(HWND owner, const char *name, const ClipboardText &copy)
{
    GlobalLockGuard<const wchar_t> textData(copy.text.get());
    GlobalLockGuard<const char> rtfData(copy.rtf.get());
    GlobalLockGuard<const char> htmlData(copy.html.get());
    if (textData.get() && !StoreClipping(name, FALSE, textData.get(), rtfData.get(), htmlData.get()))
        MessageBoxA(owner, BUSY_STORE, APP_NAME, MB_OK | MB_ICONINFORMATION);
}

void FillClippingsMenu(HMENU menu)
{
    while (GetMenuItemCount(menu) > 0)
        DeleteMenu(menu, 0, MF_BYPOSITION);
    m_NumClippings = LoadClippingNames(m_Clippings, MAX_CLIPPINGS, m_ClipSort);
    if (m_NumClippings == 0) {
        AppendMenuA(menu, MF_STRING | MF_GRAYED, IDM_CLIPFIRST, "(Empty)");
        return;
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
}

} // namespace

HMENU ClippingsPopupMenu()
{
    HMENU menu = CreatePopupMenu();
    FillClippingsMenu(menu);
    return menu;
}

// Filled in place: the submenu may be the very one the system is about to
// show, and a menu destroyed then could be shown all the same.
void ReplaceClippingsSubmenu(HMENU parent)
{
    int count = GetMenuItemCount(parent);
    for (int pos = 0; pos < count; pos++) {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_SUBMENU;
        if (!GetMenuItemInfoA(parent, pos, TRUE, &info) || info.wID != IDM_CLIPPINGS)
            continue;
        if (info.hSubMenu) {
            FillClippingsMenu(info.hSubMenu);
        } else {
            info.fMask = MIIM_SUBMENU;
            info.hSubMenu = ClippingsPopupMenu();
            SetMenuItemInfoA(parent, pos, TRUE, &info);
        }
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

// The clipping is read before the clipboard is opened, so that a box about
// memory keeps no other program from the clipboard. The recalled clipping
// is the program's own change: left as stored, not reduced by the automatic
// conversion, which would also replace the undo snapshot taken here.
UINT OnRecallClipping(HWND owner, uint32_t slot)
{
    StoredClipping clipping;
    if (!ReadClipping(slot, &clipping)) {
        ShowStringMessage(owner, IDS_ALLOCFAILED, MB_ICONEXCLAMATION);
        return 0;
    }
    UINT placed = 0;
    OwnChange(owner, [&] {
        if (PrepUndo(owner, 1))
            placed = RecallClipping(clipping);
    });
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

// The text is measured and copied when the command starts, and stored only
// if the clipboard still holds it once the user has named it: a copy made
// meanwhile (a password, say) must not end up in the clipping.
void OnBtnClipAdd(HWND owner)
{
    if (!MayStoreClipping()) {
        ShowLimitMessage(owner, IDS_CLIPLIMIT, MAX_CLIPPINGS);
        return;
    }
    ClipboardText copy;
    if (!CopyClipboardText(owner, &copy))
        return;
    if (copy.ansiSize > MAX_CLIP_TEXT) {
        ShowLimitMessage(owner, IDS_CLIPTOOLONG, MAX_CLIP_TEXT);
        return;
    }
    char name[CLIPNAME_MAX + 1] = "New Clipping";
    if (!ClipAddNameDlg(name, sizeof name, CLIPNAME_STORE))
        return;
    if (GetClipboardSequenceNumber() != copy.sequence) {
        MessageBoxA(owner, "The clipboard changed while the clipping was being named, so nothing was stored.",
                    APP_NAME, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    StoreText(owner, name, copy);
}
