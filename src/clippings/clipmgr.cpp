#include "clipmgr.h"
#include "clipmenu.h"
#include "store.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include <cstdio>

namespace {

// Each picture button's images: [0] the disabled look, [1] the enabled look.
HBITMAP m_btnRename[2];
HBITMAP m_btnDelete[2];
HBITMAP m_btnCopy[2];
HBITMAP m_btnSync[2];

struct PictureButton {
    int id;
    HBITMAP *images;
    int enabledImage;
    int disabledImage;
};

// The buttons that act on the selected clipping.
const PictureButton kItemButtons[] = {
    {IDC_CM_RENAME, m_btnRename, IDB_CM_RENAME, IDB_CM_RENAMEGREY},
    {IDC_CM_DELETE, m_btnDelete, IDB_CM_DELETE, IDB_CM_DELETEGREY},
    {IDC_CM_COPY, m_btnCopy, IDB_CM_COPY, IDB_CM_COPYGREY},
};
const PictureButton kSyncButton = {IDC_CM_SYNC, m_btnSync, IDB_CM_SYNC, IDB_CM_SYNCGREY};

// The ground of the enabled images, drawn as the classic 3-D grey.
const BYTE FACE_GREY = 192;

// LR_LOADMAP3DCOLORS works only on a colour table: the enabled images' ground
// becomes the button face of the current colours here. The disabled ones keep
// their white ground, which the embossing of a disabled button leaves out.
HBITMAP LoadPicture(int id, bool onFace)
{
    auto bitmap = static_cast<HBITMAP>(
        LoadImageA(gvGlobals.hInstance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    DIBSECTION dib;
    if (!bitmap || !onFace || GetObjectA(bitmap, sizeof dib, &dib) != sizeof dib ||
        dib.dsBm.bmBitsPixel != 24)
        return bitmap;
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    auto *row = static_cast<BYTE *>(dib.dsBm.bmBits);
    for (LONG y = 0; y < dib.dsBm.bmHeight; y++, row += dib.dsBm.bmWidthBytes)
        for (BYTE *p = row; p < row + 3 * dib.dsBm.bmWidth; p += 3)
            if (p[0] == FACE_GREY && p[1] == FACE_GREY && p[2] == FACE_GREY) {
                p[0] = GetBValue(face);
                p[1] = GetGValue(face);
                p[2] = GetRValue(face);
            }
    return bitmap;
}

void LoadPictures(const PictureButton &button)
{
    button.images[0] = LoadPicture(button.disabledImage, false);
    button.images[1] = LoadPicture(button.enabledImage, true);
}

void FreePictures(HWND dlg, const PictureButton &button)
{
    SendDlgItemMessageA(dlg, button.id, BM_SETIMAGE, IMAGE_BITMAP, 0);
    for (int i = 0; i < 2; i++) {
        if (button.images[i])
            DeleteObject(button.images[i]);
        button.images[i] = nullptr;
    }
}

void ShowButton(HWND dlg, const PictureButton &button, bool enabled)
{
    HWND hwnd = GetDlgItem(dlg, button.id);
    SendMessageA(hwnd, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(button.images[enabled]));
    EnableWindow(hwnd, enabled);
    InvalidateRect(hwnd, nullptr, TRUE);
    UpdateWindow(hwnd);
}

void FillList(HWND dlg)
{
    m_NumClippings = LoadClippingNames(m_Clippings, MAX_CLIPPINGS, m_ClipSort);
    HWND list = GetDlgItem(dlg, IDC_CM_LIST);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (uint32_t k = 0; k < m_NumClippings; k++) {
        const ClippingEntry &entry = m_Clippings[m_ClipSort[k]];
        LRESULT item = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.name));
        if (item >= 0)
            SendMessageA(list, LB_SETITEMDATA, item, entry.slot);
    }
}

bool HasClippings(HWND dlg)
{
    FillList(dlg);
    return m_NumClippings != 0;
}

// The selected clipping's slot and name; false without a selection.
bool GetSelection(HWND dlg, uint32_t *slot, char (&name)[CLIPNAME_MAX + 1])
{
    HWND list = GetDlgItem(dlg, IDC_CM_LIST);
    LRESULT item = SendMessageA(list, LB_GETCURSEL, 0, 0);
    // LB_GETTEXT takes no size: the length is checked first.
    LRESULT length = item == LB_ERR ? LB_ERR : SendMessageA(list, LB_GETTEXTLEN, item, 0);
    if (length == LB_ERR || length > CLIPNAME_MAX)
        return false;
    SendMessageA(list, LB_GETTEXT, item, reinterpret_cast<LPARAM>(name));
    *slot = static_cast<uint32_t>(SendMessageA(list, LB_GETITEMDATA, item, 0));
    return true;
}

void CloseManager(HWND dlg, INT_PTR result)
{
    const bool renames = IsDlgButtonChecked(dlg, IDC_CM_DCRENAME) == BST_CHECKED;
    WriteSettingsInt(nullptr, "DCActLC", renames ? IDC_CM_DCRENAME : IDC_CM_DCCOPY);
    EndDialog(dlg, result);
}

// The name is kept as typed: neither cleaned nor made unique, and the
// clipping's "LastUpdate" stays.
void CMDoRename(HWND dlg)
{
    uint32_t slot;
    char name[CLIPNAME_MAX + 1];
    if (!GetSelection(dlg, &slot, name))
        return;
    // The name dialog belongs to the desktop and would leave this one
    // working: a Delete meanwhile would let the rename revive the slot.
    EnableWindow(dlg, FALSE);
    const UINT length = ClipAddNameDlg(name, sizeof name, CLIPNAME_RENAME);
    EnableWindow(dlg, TRUE);
    SetForegroundWindow(dlg);
    if (!length)
        return;
    char section[16];
    FmtRegApp(section, sizeof section, slot);
    WriteSettingsStringA(section, "Name", name);
    FillList(dlg);
}

void CMDoDelete(HWND dlg)
{
    uint32_t slot;
    char name[CLIPNAME_MAX + 1];
    if (!GetSelection(dlg, &slot, name))
        return;
    char format[128], question[196];
    if (!LoadStringA(gvGlobals.hInstance, IDS_CONFIRMDELETE, format, sizeof format))
        return;
    snprintf(question, sizeof question, format, name);
    if (MessageBoxA(dlg, question, "Confirm Delete", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;
    DeleteLocalClip(slot);
    FillList(dlg);
}

// Closes the manager even when the clipboard cannot be opened; returns the
// number of formats placed.
UINT CMDoCopy(HWND dlg)
{
    uint32_t slot;
    char name[CLIPNAME_MAX + 1];
    if (!GetSelection(dlg, &slot, name))
        return 0;
    UINT placed = OnRecallClipping(dlg, slot);
    CloseManager(dlg, 1);
    return placed;
}

// Only a change between "something selected" and "nothing selected" redraws.
void OnSelChange(HWND dlg)
{
    const bool selected = SendDlgItemMessageA(dlg, IDC_CM_LIST, LB_GETCURSEL, 0, 0) != LB_ERR;
    if (selected == (IsWindowEnabled(GetDlgItem(dlg, IDC_CM_RENAME)) != FALSE))
        return;
    for (const PictureButton &button : kItemButtons)
        ShowButton(dlg, button, selected);
}

void OnListNotify(HWND dlg, WORD code)
{
    switch (code) {
    case LBN_SELCHANGE:
    case LBN_SELCANCEL:
        OnSelChange(dlg);
        break;
    case LBN_DBLCLK:
        if (IsDlgButtonChecked(dlg, IDC_CM_DCRENAME) == BST_CHECKED)
            CMDoRename(dlg);
        else
            CMDoCopy(dlg);
        break;
    default:
        break;
    }
}

void OnInitDialog(HWND dlg)
{
    if (!HasClippings(dlg)) {
        EndDialog(dlg, 2);
        return;
    }
    const bool renames = GetSettingsInt(nullptr, "DCActLC", IDC_CM_DCRENAME) == IDC_CM_DCRENAME;
    CheckDlgButton(dlg, renames ? IDC_CM_DCRENAME : IDC_CM_DCCOPY, BST_CHECKED);
    for (const PictureButton &button : kItemButtons) {
        LoadPictures(button);
        ShowButton(dlg, button, true);
    }
    LoadPictures(kSyncButton);
    // Shown for its place in the dialog: there is no cloud service to
    // synchronise with in this version.
    ShowButton(dlg, kSyncButton, false);
    SendDlgItemMessageA(dlg, IDC_CM_LIST, LB_SETCURSEL, 0, 0);
}

void OnCommand(HWND dlg, WPARAM wParam)
{
    if (LOWORD(wParam) == IDC_CM_LIST) {
        OnListNotify(dlg, HIWORD(wParam));
        return;
    }
    if (HIWORD(wParam) != BN_CLICKED)
        return;
    switch (LOWORD(wParam)) {
    case IDOK:
        CloseManager(dlg, 1);
        break;
    case IDCANCEL:
        CloseManager(dlg, 2);
        break;
    case IDC_CM_RENAME:
        CMDoRename(dlg);
        break;
    case IDC_CM_DELETE:
        CMDoDelete(dlg);
        break;
    case IDC_CM_COPY:
        CMDoCopy(dlg);
        break;
    default:
        break;
    }
}

// Also when the dialog goes down with its owner: no bitmap is left behind.
void OnDestroy(HWND dlg)
{
    for (const PictureButton &button : kItemButtons)
        FreePictures(dlg, button);
    FreePictures(dlg, kSyncButton);
}

INT_PTR CALLBACK CMDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        OnInitDialog(dlg);
        return TRUE;
    case WM_COMMAND:
        OnCommand(dlg, wParam);
        return TRUE;
    case WM_DESTROY:
        OnDestroy(dlg);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

INT_PTR ClipMgrDialog(HWND parent)
{
    return DialogBoxParamA(gvGlobals.hInstance, MAKEINTRESOURCEA(IDD_CLIPMGR), parent, CMDlgProc, 0);
}
