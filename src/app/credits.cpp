#include "credits.h"
#include "resources/resource.h"
#include "util/globals.h"
#include "viewer/jpeg.h"
#include "viewer/png.h"
#include <cstdio>

namespace {

void InitCredits(HWND hwnd)
{
    char text[1024];
    snprintf(text, sizeof text, "%s%s\n%s", JPGVersion(), PNGVersion(), ZLIBVersion());
    SetDlgItemTextA(hwnd, IDC_CREDITSTEXT, text);
    SetDlgItemTextA(hwnd, IDC_PRODUCT, APP_NAME " - " ABOUT_DESCRIPTION);
    SetDlgItemTextA(hwnd, IDC_VERSION, "Version " APP_VERSION " (" APP_RELEASE_DATE ")");
    SetDlgItemTextA(hwnd, IDC_COPYRIGHT, ABOUT_COPYRIGHT);
}

INT_PTR CALLBACK CreditsDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM)
{
    if (msg == WM_INITDIALOG) {
        InitCredits(hwnd);
        return TRUE; // focus on OK, the only control that takes it
    }
    if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(hwnd, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

} // namespace

INT_PTR CreditsDialog(HWND owner)
{
    return DialogBoxParamA(gvGlobals.hInstance, MAKEINTRESOURCEA(IDD_CREDITS), owner, CreditsDlgProc, 0);
}
