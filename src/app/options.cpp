#include "options.h"
#include "clipboard/pastekey.h"
#include "cloud/account.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include <commctrl.h>
#include <cstdio>
#include <cstring>

namespace {

const char RUN_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const DWORD MAX_MODULE_PATH = 250;

// The options kept in the settings store and in gvGlobals, in saving order.
struct Option {
    int id;
    const char *name;
    DWORD Globals::*flag;
};

const Option OPTIONS[] = {
    {IDC_OPT_STARTTOTRAY, "StartToTray", &Globals::StartToTray},
    {IDC_OPT_AUTOCONVERT, "AutoConvert", &Globals::AutoConvert},
    {IDC_OPT_KEEPUNICODE, "KeepUnicode", &Globals::KeepUnicode},
    {IDC_OPT_HIDESPLASH, "HideSplash", &Globals::HideSplash},
    {IDC_OPT_NOVERCHECK, "NoVerCheck", &Globals::NoVerCheck},
    {IDC_OPT_TRIM, "TrimLineEnds", &Globals::TrimLineEnds},
    {IDC_OPT_JOIN, "JoinLines", &Globals::JoinLines},
    {IDC_OPT_STRAIGHT, "StraightQuotes", &Globals::StraightQuotes},
    {IDC_OPT_KEEPPLAIN, "KeepPlainText", &Globals::KeepPlainText},
};

// This module's path and the stored run entry. The entry is written quoted,
// so that a path with spaces cannot start another program
// ("C:\Program.exe"); older entries were written without quotes.
struct RunEntry {
    char module[MAX_MODULE_PATH + 1];
    char stored[MAX_MODULE_PATH + 3];
    bool known; // the module path fits; a cut one must never be written
    bool ours;
};

bool NamesModule(const char *entry, const char *module)
{
    size_t len = strlen(entry);
    if (len >= 2 && entry[0] == '"' && entry[len - 1] == '"') {
        entry++;
        len -= 2;
    }
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, entry, static_cast<int>(len), module, -1) ==
           CSTR_EQUAL;
}

void ReadRunEntry(RunEntry &run)
{
    DWORD len = GetModuleFileNameA(nullptr, run.module, sizeof run.module);
    run.known = len > 0 && len < sizeof run.module;
    // A longer entry comes back as the empty default: it cannot be ours.
    GetRegStringA(RUN_KEY, APP_NAME, "", run.stored, sizeof run.stored);
    run.ours = run.known && NamesModule(run.stored, run.module);
}

void SaveRunEntry(bool wanted)
{
    RunEntry run;
    ReadRunEntry(run);
    if (!run.known)
        return;
    if (!wanted) {
        // An entry of another copy of the program is not ours to remove.
        if (run.ours)
            WriteRegStringA(RUN_KEY, APP_NAME, nullptr);
        return;
    }
    char quoted[sizeof run.stored];
    snprintf(quoted, sizeof quoted, "\"%s\"", run.module);
    if (strcmp(run.stored, quoted) != 0)
        WriteRegStringA(RUN_KEY, APP_NAME, quoted);
}

void SaveSetting(const char *name, DWORD value)
{
    if (GetSettingsInt(nullptr, name, 0) != value)
        WriteSettingsInt(nullptr, name, value);
}

DWORD Checked(HWND hwnd, int id)
{
    return IsDlgButtonChecked(hwnd, id) == BST_CHECKED ? 1 : 0;
}

BOOL OptionsInit(HWND hwnd)
{
    RunEntry run;
    ReadRunEntry(run);
    CheckDlgButton(hwnd, IDC_OPT_RUNATLOGON, run.ours ? BST_CHECKED : BST_UNCHECKED);
    for (const Option &option : OPTIONS)
        CheckDlgButton(hwnd, option.id, gvGlobals.*option.flag ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hwnd, IDC_OPT_QUICKEXIT,
                   GetSettingsInt(nullptr, "QuickExit", 0) ? BST_CHECKED : BST_UNCHECKED);
    // A paste key needs Ctrl or Alt: a plain or shifted key would be lost
    // for typing in every program.
    SendDlgItemMessageA(hwnd, IDC_OPT_PASTEKEY, HKM_SETRULES, HKCOMB_NONE | HKCOMB_S,
                        HOTKEYF_CONTROL | HOTKEYF_ALT);
    SendDlgItemMessageA(hwnd, IDC_OPT_PASTEKEY, HKM_SETHOTKEY, gvGlobals.PasteKey, 0);
    SendDlgItemMessageW(hwnd, IDC_OPT_LEFTALONE, EM_LIMITTEXT, LEFT_ALONE_CHARS - 1, 0);
    SetDlgItemTextW(hwnd, IDC_OPT_LEFTALONE, gvGlobals.LeftAlone);
    return FALSE;
}

// Failed writes are not reported: the options in memory change regardless.
void OnOK(HWND hwnd)
{
    for (const Option &option : OPTIONS)
        gvGlobals.*option.flag = Checked(hwnd, option.id);
    SaveRunEntry(Checked(hwnd, IDC_OPT_RUNATLOGON));
    for (const Option &option : OPTIONS)
        SaveSetting(option.name, gvGlobals.*option.flag);
    SaveSetting("QuickExit", Checked(hwnd, IDC_OPT_QUICKEXIT));
    // Written only when changed: a missing paste key means the default one.
    const DWORD key = LOWORD(SendDlgItemMessageA(hwnd, IDC_OPT_PASTEKEY, HKM_GETHOTKEY, 0, 0));
    if (key != gvGlobals.PasteKey) {
        gvGlobals.PasteKey = key;
        WriteSettingsInt(nullptr, "PasteKey", key);
    }
    wchar_t programs[LEFT_ALONE_CHARS];
    GetDlgItemTextW(hwnd, IDC_OPT_LEFTALONE, programs, LEFT_ALONE_CHARS);
    if (wcscmp(programs, gvGlobals.LeftAlone) != 0) {
        wcscpy(gvGlobals.LeftAlone, programs);
        WriteSettingsStringW(nullptr, "LeftAlone", programs);
    }
    EndDialog(hwnd, IDOK);
}

INT_PTR CALLBACK OptionsDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM)
{
    if (msg == WM_INITDIALOG)
        return OptionsInit(hwnd);
    if (msg != WM_COMMAND)
        return FALSE;
    if (LOWORD(wParam) == IDOK)
        OnOK(hwnd);
    else if (LOWORD(wParam) == IDCANCEL)
        EndDialog(hwnd, IDCANCEL);
    else if (LOWORD(wParam) == IDC_OPT_ACCOUNT)
        CloudAccountDialog(hwnd);
    return TRUE;
}

} // namespace

void ReadOptions()
{
    for (const Option &option : OPTIONS)
        gvGlobals.*option.flag = GetSettingsInt(nullptr, option.name, 0);
    gvGlobals.PasteKey = GetSettingsInt(nullptr, "PasteKey", DEFAULT_PASTE_KEY);
    if (!IsPasteKeyValue(gvGlobals.PasteKey))
        gvGlobals.PasteKey = DEFAULT_PASTE_KEY;
    GetSettingsStringW(nullptr, "LeftAlone", "", gvGlobals.LeftAlone, sizeof gvGlobals.LeftAlone);
}

INT_PTR OptionsDialog(HWND owner)
{
    return DialogBoxParamA(gvGlobals.hInstance, MAKEINTRESOURCEA(IDD_OPTIONS), owner, OptionsDlgProc, 0);
}
