#include "titlesplash.h"
#include "util/artscale.h"
#include "credits.h"
#include "resources/resource.h"
#include "util/globals.h"
#include "util/messages.h"

namespace {

const UINT_PTR SPLASH_TIMER = 1;

// The splash has no button row: the window ends where that row begins.
void DropButtonRow(HWND hwnd)
{
    HWND close = GetDlgItem(hwnd, IDOK);
    RECT window, button, client;
    GetWindowRect(hwnd, &window);
    GetWindowRect(close, &button);
    GetClientRect(hwnd, &client);
    POINT bottom = {0, client.bottom};
    ClientToScreen(hwnd, &bottom);
    int height = button.top - window.top + (window.bottom - bottom.y);
    SetWindowPos(hwnd, nullptr, 0, 0, window.right - window.left, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// `timeout` in ms; 0 is the about box.
void SplashInit(HWND hwnd, UINT timeout)
{
    SetDlgItemTextA(hwnd, IDC_PRODUCT, APP_NAME " - " ABOUT_DESCRIPTION);
    SetDlgItemTextA(hwnd, IDC_VERSION, "Version " APP_VERSION " (" APP_RELEASE_DATE ")");
    SetDlgItemTextA(hwnd, IDC_COPYRIGHT, ABOUT_COPYRIGHT);
    if (timeout) {
        SetTimer(hwnd, SPLASH_TIMER, timeout, nullptr);
        ShowWindow(GetDlgItem(hwnd, IDOK), SW_HIDE);
        ShowWindow(GetDlgItem(hwnd, IDC_CREDITS), SW_HIDE);
        DropButtonRow(hwnd);
        // The dialog manager would give the focus to the web link, and Enter
        // would then open the page. Without a tab stop it stays off the link.
        HWND link = GetDlgItem(hwnd, IDC_WEBLINK);
        SetWindowLongPtrA(link, GWL_STYLE, GetWindowLongPtrA(link, GWL_STYLE) & ~WS_TABSTOP);
    } else {
        // Not the web link, which would take Enter.
        SetFocus(GetDlgItem(hwnd, IDOK));
    }
}

void EndSplash(HWND hwnd)
{
    KillTimer(hwnd, SPLASH_TIMER);
    EndDialog(hwnd, 0);
}

INT_PTR CALLBACK SplashDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        ScaleStaticBitmap(hwnd, IDC_SPLASHART, IDB_SPLASH);
        SplashInit(hwnd, (UINT)lParam);
        return FALSE;
    case WM_DESTROY:
        FreeStaticBitmap(hwnd, IDC_SPLASHART);
        return FALSE;
    case WM_TIMER:
        if (wParam != SPLASH_TIMER)
            return FALSE;
        EndSplash(hwnd);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            EndSplash(hwnd);
            return TRUE;
        case IDC_WEBLINK: {
            char address[192] = "";
            GetDlgItemTextA(hwnd, IDC_WEBLINK, address, sizeof address);
            DoLaunch(hwnd, address);
            return TRUE;
        }
        case IDC_CREDITS:
            CreditsDialog(hwnd);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR RunSplashDialog(UINT timeout)
{
    return DialogBoxParamA(gvGlobals.hInstance, MAKEINTRESOURCEA(IDD_SPLASH), GetDesktopWindow(),
                           SplashDlgProc, (LPARAM)timeout);
}

} // namespace

void ShowTitleSplash(UINT timeout)
{
    // 0 is the about box's mode, which waits for the user: no time, no splash.
    if (timeout)
        RunSplashDialog(timeout);
}

void ShowAboutBox()
{
    RunSplashDialog(0);
}
