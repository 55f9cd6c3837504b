#include "quitdlg.h"
#include "main.h"
#include "taskbar.h"
#include "clipboard/reduce.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"

namespace {

INT_PTR CALLBACK QuitDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM)
{
    if (msg == WM_INITDIALOG) {
        CheckDlgButton(hwnd, IDC_QUIT_TRAY, BST_CHECKED);
        SetFocus(GetDlgItem(hwnd, IDC_QUIT_TRAY));
        return FALSE;
    }
    if (msg != WM_COMMAND)
        return FALSE;
    if (LOWORD(wParam) == IDOK) {
        INT_PTR result = IsDlgButtonChecked(hwnd, IDC_QUIT_EXIT) ? IDC_QUIT_EXIT : IDC_QUIT_TRAY;
        if (IsDlgButtonChecked(hwnd, IDC_QUIT_DONTASK))
            WriteSettingsInt(nullptr, "QuickExit", (DWORD)result);
        EndDialog(hwnd, result);
    } else if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(hwnd, IDCANCEL);
    }
    return TRUE;
}

void EndProgram(HWND hwndMain)
{
    MyTaskBarDeleteIcon(hwndMain, IDM_TRAYICON);
    FreeUndo();
    EndDialog(hwndMain, IDCANCEL);
}

} // namespace

INT_PTR QuitDialog(HWND owner)
{
    return DialogBoxParamA(gvGlobals.hInstance, MAKEINTRESOURCEA(IDD_QUIT), owner, QuitDlgProc, 0);
}

void OnCancel(HWND hwndMain)
{
    if (MainWindowShown()) {
        DWORD quickExit = GetSettingsInt(nullptr, "QuickExit", 0);
        INT_PTR choice = quickExit == 0               ? QuitDialog(hwndMain)
                         : quickExit == IDC_QUIT_TRAY ? IDC_QUIT_TRAY
                                                      : IDC_QUIT_EXIT;
        // A dialog that could not be shown asked nothing: nothing ends.
        if (choice == IDCANCEL || choice == -1)
            return;
        if (choice == IDC_QUIT_TRAY) {
            ShowMainWindow(hwndMain, FALSE);
            return;
        }
    }
    EndProgram(hwndMain);
}
