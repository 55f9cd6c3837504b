#include "main.h"
#include "formatlist.h"
#include "help.h"
#include "options.h"
#include "quitdlg.h"
#include "taskbar.h"
#include "titlesplash.h"
#include "clipboard/clipboard.h"
#include "clipboard/pastekey.h"
#include "clipboard/reduce.h"
#include "clipboard/textfile.h"
#include "clippings/clipmenu.h"
#include "clippings/clipmgr.h"
#include "cloud/clipcrypt.h"
#include "cloud/cloudmgr.h"
#include "cloud/sync.h"
#include "net/http.h"
#include "net/vercheck.h"
#include "resources/resource.h"
#include "util/artscale.h"
#include "util/cbchain.h"
#include "util/globals.h"
#include "viewer/render.h"
#include "viewer/viewer.h"
#include <algorithm>
#include <iterator>
#include <cstdio>

namespace {

HWND m_hwndMain;
BOOL m_Visible;

HHOOK m_hhookThis;
HACCEL m_hAccTable;

HICON m_hIcon;
HICON m_hFlashIcon;

// Sent to every top-level window when the taskbar (re)starts.
UINT m_uTaskbarCreated;
// The dialog manager shows a modal dialog when its queue first runs empty;
// this keeps that first show from happening when starting in the tray.
BOOL m_StartHidden;

ClipboardChain m_Chain;

// Posted by the start, so that a box about the paste key comes after the
// window.
const UINT WM_APPLYPASTEKEY = WM_APP + 1;

// Position of "&Clippings" in the menu bar.
const int CLIPPINGS_POPUP = 2;

HICON LoadSmallIcon(int id)
{
    int size = GetSystemMetrics(SM_CXSMICON);
    return (HICON)LoadImageA(gvGlobals.hInstance, MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, 0);
}

void SetFlash(HWND hwnd, BOOL on)
{
    FlashWindow(hwnd, on);
    MyTaskBarChangeIcon(hwnd, IDM_TRAYICON, on ? m_hFlashIcon : m_hIcon, "Quillet");
}

// A conversion is shown by a short flash of the window and the tray icon.
void FlashConversion(HWND hwnd)
{
    SetFlash(hwnd, TRUE);
    InvalidateRect(hwnd, nullptr, TRUE);
    Sleep(250);
    SetFlash(hwnd, FALSE);
}

// A change of the clipboard, told once by the format listener.
void OnClipboardUpdate(HWND hwnd)
{
    // A paste lends the clipboard and gives it back: neither is a copy.
    if (gvGlobals.AutoConvert && !PasteUnderway())
        OnAutoConvert(hwnd, FlashConversion);
    RefreshList(hwnd);
    UpdateWindow(hwnd);
}

void ExtendSystemMenu(HWND hwnd)
{
    HMENU sys = GetSystemMenu(hwnd, FALSE);
    char text[64];
    AppendMenuA(sys, MF_SEPARATOR, 0, nullptr);
    if (LoadStringA(gvGlobals.hInstance, IDS_ABOUT, text, sizeof text))
        AppendMenuA(sys, MF_STRING, IDM_ABOUT, text);
    if (LoadStringA(gvGlobals.hInstance, IDS_REDUCEONLY, text, sizeof text))
        AppendMenuA(sys, MF_STRING, IDM_REDUCE, text);
}

BOOL OnInitDialog(HWND hwnd)
{
    m_hIcon = LoadIconA(gvGlobals.hInstance, MAKEINTRESOURCEA(IDI_APP));
    m_hFlashIcon = LoadIconA(gvGlobals.hInstance, MAKEINTRESOURCEA(IDI_FLASH));
    FreeUndo();
    m_hAccTable = LoadAcceleratorsA(gvGlobals.hInstance, MAKEINTRESOURCEA(IDA_MAIN));
    m_hhookThis = SetWindowsHookExA(WH_GETMESSAGE, HookProc, nullptr, GetCurrentThreadId());
    m_hwndMain = hwnd;
    m_Chain.Join(hwnd);
    ExtendSystemMenu(hwnd);
    ScaleStaticBitmap(hwnd, IDC_MAINART, IDB_MAIN);
    SendMessageA(hwnd, WM_SETICON, ICON_BIG, (LPARAM)m_hIcon);
    SendMessageA(hwnd, WM_SETICON, ICON_SMALL, (LPARAM)LoadSmallIcon(IDI_APP));
    m_uTaskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    MyTaskBarAddIcon(hwnd, IDM_TRAYICON, m_hIcon, APP_NAME);
    char caption[128];
    snprintf(caption, sizeof caption, "%s %s", APP_NAME, APP_VERSION);
    SetWindowTextA(hwnd, caption);
    m_StartHidden = gvGlobals.StartToTray;
    m_Visible = !gvGlobals.StartToTray;
    // What is on the clipboard at the start is converted too.
    OnClipboardUpdate(hwnd);
    PostMessageA(hwnd, WM_APPLYPASTEKEY, 0, 0);
    return TRUE;
}

// Registers the paste key of the options, or tells why it cannot.
void ApplyPasteKey(HWND hwnd)
{
    const WORD key = static_cast<WORD>(gvGlobals.PasteKey);
    if (SetPasteKey(key))
        return;
    char format[256] = "", text[384];
    LoadStringA(gvGlobals.hInstance, IDS_PASTEKEYTAKEN, format, sizeof format);
    snprintf(text, sizeof text, format, PasteKeyName(key).c_str());
    MessageBoxA(hwnd, text, APP_NAME, MB_OK | MB_ICONEXCLAMATION);
}

void OnNcDestroy(HWND hwnd)
{
    ClosePasteKey();
    UnhookWindowsHookEx(m_hhookThis);
    m_hhookThis = nullptr;
    m_Chain.Leave(hwnd);
    m_hwndMain = nullptr;
}

void EnableCommand(HMENU menu, UINT id, BOOL enable)
{
    EnableMenuItem(menu, id, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
}

// Menu-bar state; also runs while the tray menu is tracked.
void OnInitMenu(HWND hwnd)
{
    HMENU menu = GetMenu(hwnd);
    EnableCommand(menu, IDM_REDUCE, CanReduce());
    EnableCommand(menu, IDM_CONVERT, CanReduce());
    EnableCommand(menu, IDM_UNDO, HasUndo());
    EnableCommand(menu, IDM_CLIPADD, IsClipboardFormatAvailable(CF_TEXT));
    EnableCommand(menu, IDM_CLOUDCLIPS, TRUE);
    ReplaceClippingsSubmenu(GetSubMenu(menu, CLIPPINGS_POPUP));
}

// The command id is the clipping's place in the loaded table; its slot is in
// the item data of the menu bar's submenu, rebuilt whenever a menu opens.
void OnClippingCommand(HWND hwnd, UINT id)
{
    uint32_t slot;
    if (ClippingSlotOfCommand(GetSubMenu(GetMenu(hwnd), CLIPPINGS_POPUP), id, &slot))
        OnRecallClipping(hwnd, slot);
}

// The list shows what such a command left at once, before the clipboard's
// notification of the change arrives.
bool ChangesClipboard(UINT id)
{
    static const UINT COMMANDS[] = {IDM_FILEOPEN, IDM_TRAYICON, IDM_LOWER,  IDM_UPPER, IDM_TRIM,
                                    IDM_JOIN,     IDM_STRAIGHT, IDM_REDUCE, IDM_UNDO,  IDM_EMPTY};
    return std::find(std::begin(COMMANDS), std::end(COMMANDS), id) != std::end(COMMANDS) ||
           (id >= IDM_CLIPFIRST && id <= IDM_CLIPLAST);
}

void OnCommand(HWND hwnd, UINT id, LPARAM lParam)
{
    switch (id) {
    case IDM_EXIT:
        OnCancel(hwnd);
        break;
    case IDM_FILEOPEN:
        OnFileOpen(hwnd);
        break;
    case IDM_FILESAVEAS:
        OnFileSaveas(hwnd);
        break;
    case IDM_ABOUT:
        ShowAboutBox();
        break;
    case IDM_HELP:
        CallHtmlHelp(hwnd, 0, 0);
        break;
    case IDM_OPTIONS:
        if (OptionsDialog(hwnd) == IDOK)
            ApplyPasteKey(hwnd);
        break;
    case IDM_TRAYTOGGLE:
        ShowMainWindow(hwnd, !m_Visible);
        break;
    case IDM_TRAYICON:
        OnTrayNotify(hwnd, lParam);
        break;
    case IDM_LOWER:
        OnChangeCase(hwnd, CASE_LOWER);
        break;
    case IDM_UPPER:
        OnChangeCase(hwnd, CASE_UPPER);
        break;
    case IDM_TRIM:
        OnCleanUp(hwnd, CLEAN_TRIM);
        break;
    case IDM_JOIN:
        OnCleanUp(hwnd, CLEAN_JOIN);
        break;
    case IDM_STRAIGHT:
        OnCleanUp(hwnd, CLEAN_STRAIGHT);
        break;
    case IDM_REDUCE:
        OnReduce(hwnd);
        break;
    case IDM_UNDO:
        OnUndo(hwnd);
        break;
    case IDM_EMPTY:
        OnEmpty(hwnd);
        break;
    case IDM_VIEW:
        ViewDialog(hwnd);
        break;
    case IDM_CLIPADD:
        OnBtnClipAdd(hwnd);
        break;
    case IDM_LOCALCLIPS:
        ClipMgrDialog(hwnd);
        break;
    case IDM_CLOUDCLIPS:
        CloudMgrDialog(hwnd);
        break;
    case IDM_UPDATECHECK:
        GetCurrentVersionInfo(hwnd, 1);
        break;
    default:
        if (id >= IDM_CLIPFIRST && id <= IDM_CLIPLAST)
            OnClippingCommand(hwnd, id);
        break;
    }
    if (ChangesClipboard(id))
        RefreshList(hwnd);
}

// Focus in editable text keeps its own keys (Ctrl+Z, Shift+Del...).
bool FocusIsEditable()
{
    HWND focus = GetFocus();
    if (!focus)
        return false;
    LRESULT code = SendMessageA(focus, WM_GETDLGCODE, 0, 0);
    return (code & DLGC_HASSETSEL) && !(GetWindowLongPtrA(focus, GWL_STYLE) & ES_READONLY);
}

} // namespace

void ShowMainWindow(HWND hwnd, BOOL show)
{
    ShowWindow(hwnd, show ? SW_SHOWNORMAL : SW_HIDE);
    m_Visible = show;
}

LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && wParam == PM_REMOVE && GetForegroundWindow() == m_hwndMain &&
        !FocusIsEditable()) {
        MSG *msg = reinterpret_cast<MSG *>(lParam);
        if (TranslateAcceleratorA(m_hwndMain, m_hAccTable, msg)) {
            msg->message = WM_NULL;
            return 0;
        }
    }
    return CallNextHookEx(m_hhookThis, code, wParam, lParam);
}

INT_PTR CALLBACK MainDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        return OnInitDialog(hwnd);
    case WM_WINDOWPOSCHANGING:
        if (m_StartHidden) {
            auto *pos = reinterpret_cast<WINDOWPOS *>(lParam);
            if (pos->flags & SWP_SHOWWINDOW) {
                pos->flags &= ~SWP_SHOWWINDOW;
                pos->flags |= SWP_NOACTIVATE | SWP_NOZORDER;
                m_StartHidden = FALSE;
            }
        }
        return FALSE;
    case WM_APPLYPASTEKEY:
        ApplyPasteKey(hwnd);
        return TRUE;
    case WM_CLIPBOARDUPDATE:
        OnClipboardUpdate(hwnd);
        return TRUE;
    case WM_DRAWCLIPBOARD:
    case WM_CHANGECBCHAIN:
        if (m_Chain.OnChainMessage(msg, wParam, lParam))
            OnClipboardUpdate(hwnd);
        return TRUE;
    case WM_SETFOCUS:
        RefreshList(hwnd);
        return FALSE;
    case WM_SHOWWINDOW:
        if (wParam)
            RefreshList(hwnd);
        return FALSE;
    case WM_ACTIVATEAPP:
        if (wParam)
            RefreshList(hwnd);
        return FALSE;
    case WM_INITMENU:
    case WM_INITMENUPOPUP:
        OnInitMenu(hwnd);
        return FALSE;
    case WM_COMMAND:
        OnCommand(hwnd, LOWORD(wParam), lParam);
        return TRUE;
    case WM_SYSCOMMAND:
        if (LOWORD(wParam) == IDM_REDUCE) {
            OnReduce(hwnd);
            return TRUE;
        }
        if (LOWORD(wParam) == IDM_ABOUT) {
            ShowAboutBox();
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        FreeStaticBitmap(hwnd, IDC_MAINART);
        return FALSE;
    case WM_NCDESTROY:
        OnNcDestroy(hwnd);
        return FALSE;
    default:
        if (msg == m_uTaskbarCreated && msg != 0) {
            MyTaskBarAddIcon(hwnd, IDM_TRAYICON, m_hIcon, APP_NAME);
            return TRUE;
        }
        return FALSE;
    }
}

void ConnectModules()
{
    gvGlobals.cfPNG = RegisterClipboardFormatA("PNG");
    gvGlobals.cfJFIF = RegisterClipboardFormatA("JFIF");
    gvGlobals.cfRTF = RegisterClipboardFormatA("Rich Text Format");
    gvGlobals.cfHTML = RegisterClipboardFormatA("HTML Format");
    SetViewerAddCommand(OnBtnClipAdd);
    SetClippingsSyncCommand([](HWND dlg) { SyncClips(dlg); });
}

void ResetModuleState()
{
    FreeUndo();
    FreePicture();
    ClosePasteKey();
    ForgetCloudKey();
    SetHttpTimeout(HTTP_TIMEOUT_MS);
    gvGlobals.StartToTray = gvGlobals.AutoConvert = gvGlobals.KeepUnicode = 0;
    gvGlobals.HideSplash = gvGlobals.NoVerCheck = 0;
    gvGlobals.TrimLineEnds = gvGlobals.JoinLines = gvGlobals.StraightQuotes = 0;
    gvGlobals.KeepPlainText = gvGlobals.PasteKey = 0;
    gvGlobals.LeftAlone[0] = L'\0';
}

int RunMainWindow(HINSTANCE instance)
{
    ConnectModules();
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), GetDesktopWindow(), MainDlgProc, 0);
    return 0;
}

HWND MainWindow()
{
    return m_hwndMain;
}

bool MainWindowShown()
{
    return m_Visible != FALSE;
}
