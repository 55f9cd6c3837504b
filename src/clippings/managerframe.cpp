#include "managerframe.h"
#include "clipmenu.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/artscale.h"
#include "util/globals.h"
#include <cstdio>

namespace {

// The buttons that act on the selected item come first.
const int ITEM_BUTTONS = 3;
const int MANAGER_BUTTONS = 4;

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
    ShowPictureButton(GetDlgItem(dlg, button.id), button.images[enabled], enabled);
}

void OnSelChange(HWND dlg, const PictureButton *buttons)
{
    const bool selected = SendDlgItemMessageA(dlg, IDC_CM_LIST, LB_GETCURSEL, 0, 0) != LB_ERR;
    for (int i = 0; i < ITEM_BUTTONS; i++)
        ShowButton(dlg, buttons[i], selected);
}

void OnListNotify(HWND dlg, WORD code, const ManagerKind &kind)
{
    switch (code) {
    case LBN_SELCHANGE:
    case LBN_SELCANCEL:
        OnSelChange(dlg, kind.buttons);
        break;
    case LBN_DBLCLK:
        if (IsDlgButtonChecked(dlg, IDC_CM_DCRENAME) == BST_CHECKED)
            kind.rename(dlg);
        else
            kind.copy(dlg);
        break;
    default:
        break;
    }
}

void OnInitDialog(HWND dlg, const ManagerKind &kind)
{
    if (!kind.open(dlg)) {
        EndDialog(dlg, 2);
        return;
    }
    const bool renames = GetSettingsInt(nullptr, kind.choiceSetting, IDC_CM_DCRENAME) == IDC_CM_DCRENAME;
    CheckDlgButton(dlg, renames ? IDC_CM_DCRENAME : IDC_CM_DCCOPY, BST_CHECKED);
    for (int i = 0; i < MANAGER_BUTTONS; i++) {
        LoadPictures(kind.buttons[i]);
        ShowButton(dlg, kind.buttons[i], true);
    }
    SendDlgItemMessageA(dlg, IDC_CM_LIST, LB_SETCURSEL, 0, 0);
}

void OnCommand(HWND dlg, WPARAM wParam, const ManagerKind &kind)
{
    if (LOWORD(wParam) == IDC_CM_LIST) {
        OnListNotify(dlg, HIWORD(wParam), kind);
        return;
    }
    if (HIWORD(wParam) != BN_CLICKED)
        return;
    switch (LOWORD(wParam)) {
    case IDOK:
        CloseManager(dlg, 1, kind.choiceSetting);
        break;
    case IDCANCEL:
        CloseManager(dlg, 2, kind.choiceSetting);
        break;
    case IDC_CM_RENAME:
        kind.rename(dlg);
        break;
    case IDC_CM_DELETE:
        kind.remove(dlg);
        break;
    case IDC_CM_COPY:
        kind.copy(dlg);
        break;
    case IDC_CM_SYNC:
        kind.synchronise(dlg);
        break;
    default:
        break;
    }
}

} // namespace

INT_PTR ManagerDlgProc(HWND dlg, UINT msg, WPARAM wParam, const ManagerKind &kind)
{
    switch (msg) {
    case WM_INITDIALOG:
        OnInitDialog(dlg, kind);
        return TRUE;
    case WM_COMMAND:
        OnCommand(dlg, wParam, kind);
        return TRUE;
    case WM_DESTROY: // also when the dialog goes down with its owner
        for (int i = 0; i < MANAGER_BUTTONS; i++)
            FreePictures(dlg, kind.buttons[i]);
        return FALSE;
    default:
        return FALSE;
    }
}

void CloseManager(HWND dlg, INT_PTR result, const char *choiceSetting)
{
    const bool renames = IsDlgButtonChecked(dlg, IDC_CM_DCRENAME) == BST_CHECKED;
    WriteSettingsInt(nullptr, choiceSetting, renames ? IDC_CM_DCRENAME : IDC_CM_DCCOPY);
    EndDialog(dlg, result);
}

bool GetSelectedItem(HWND dlg, char (&name)[CLIPNAME_MAX + 1], LRESULT *data)
{
    HWND list = GetDlgItem(dlg, IDC_CM_LIST);
    LRESULT item = SendMessageA(list, LB_GETCURSEL, 0, 0);
    // LB_GETTEXT takes no size: the length is checked first.
    LRESULT length = item == LB_ERR ? LB_ERR : SendMessageA(list, LB_GETTEXTLEN, item, 0);
    if (length == LB_ERR || length > CLIPNAME_MAX)
        return false;
    SendMessageA(list, LB_GETTEXT, item, reinterpret_cast<LPARAM>(name));
    *data = SendMessageA(list, LB_GETITEMDATA, item, 0);
    return true;
}

// The name dialog belongs to the desktop and would leave the manager
// working: a Delete meanwhile would let the rename revive what it deleted.
UINT AskNewName(HWND dlg, char (&name)[CLIPNAME_MAX + 1])
{
    EnableWindow(dlg, FALSE);
    const UINT length = ClipAddNameDlg(name, sizeof name, CLIPNAME_RENAME);
    EnableWindow(dlg, TRUE);
    SetForegroundWindow(dlg);
    // Only a name the service takes can be synchronised.
    SanitiseClipName(name, name);
    return length;
}

bool ConfirmDelete(HWND dlg, const char *name)
{
    char format[128], question[196];
    if (!LoadStringA(gvGlobals.hInstance, IDS_CONFIRMDELETE, format, sizeof format))
        return false;
    snprintf(question, sizeof question, format, name);
    return MessageBoxA(dlg, question, "Confirm Delete", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}
