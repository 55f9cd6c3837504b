#include "app/help.h"

#include <shellapi.h>

#include "app/helploader.h"
#include "util/globals.h"
#include "util/guards.h"

namespace {

// <htmlhelp.h> declares HtmlHelpA/W with the system's linkage, which would
// clash with the loader's own definitions; the commands we send:
constexpr UINT HH_CLOSE_ALL = 0x0012;
constexpr UINT HH_INITIALIZE = 0x001C;
constexpr UINT HH_UNINITIALIZE = 0x001D;

using HtmlHelpProcA = HWND(WINAPI *)(HWND, LPCSTR, UINT, DWORD_PTR);
using HtmlHelpProcW = HWND(WINAPI *)(HWND, LPCWSTR, UINT, DWORD_PTR);

HelpEntryLoader m_LoaderA = {GetRegisteredLocation, "hhctrl.ocx", 14, nullptr, FALSE, nullptr};
HelpEntryLoader m_LoaderW = {GetRegisteredLocation, "hhctrl.ocx", 15, nullptr, FALSE, nullptr};

template <typename Proc> Proc EntryOf(HelpEntryLoader &loader)
{
    // Through void (*)() so that the compiler accepts the change of signature.
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(ResolveHelpEntry(loader)));
}

} // namespace

FARPROC ResolveHelpEntry(HelpEntryLoader &loader)
{
    if (loader.failed)
        return nullptr;
    if (!loader.module) {
        char path[MAX_PATH];
        if (loader.locate && loader.locate(path))
            loader.module = LoadLibraryA(path);
        if (!loader.module)
            loader.module = LoadLibraryA(loader.fallback);
        if (!loader.module) {
            loader.failed = TRUE;
            return nullptr;
        }
    }
    if (!loader.entry) {
        loader.entry = GetProcAddress(loader.module, MAKEINTRESOURCEA(loader.ordinal));
        if (!loader.entry) {
            loader.failed = TRUE;
            return nullptr;
        }
    }
    return loader.entry;
}

HWND HtmlHelpA(HWND caller, LPCSTR file, UINT command, DWORD_PTR data)
{
    HtmlHelpProcA entry = EntryOf<HtmlHelpProcA>(m_LoaderA);
    return entry ? entry(caller, file, command, data) : nullptr;
}

HWND HtmlHelpW(HWND caller, LPCWSTR file, UINT command, DWORD_PTR data)
{
    HtmlHelpProcW entry = EntryOf<HtmlHelpProcW>(m_LoaderW);
    return entry ? entry(caller, file, command, data) : nullptr;
}

int GetRegisteredLocation(char *path)
{
    RegKey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32", 0,
                      KEY_READ, key.put()) != ERROR_SUCCESS)
        return 0;
    char value[MAX_PATH];
    DWORD type = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE *>(value), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return 0;
    // A value may be stored without its terminator.
    if (size < sizeof value)
        value[size] = '\0';
    else if (value[sizeof value - 1] != '\0')
        return 0;
    if (type == REG_SZ) {
        lstrcpyA(path, value);
        return 1;
    }
    // Windows registers the control as "%SystemRoot%\System32\hhctrl.ocx".
    DWORD needed = ExpandEnvironmentStringsA(value, path, MAX_PATH);
    return needed > 0 && needed <= MAX_PATH;
}

void CallHtmlHelp(HWND hwnd, UINT command, DWORD_PTR data)
{
    if (!gvGlobals.HelpFile)
        return;
    // Initialise once, on the first help command. The cookie alone cannot tell:
    // a control may initialise without giving one (Wine's leaves it 0).
    if (!gvGlobals.HelpOwner && !gvGlobals.HelpCookie) {
        HtmlHelpA(nullptr, nullptr, HH_INITIALIZE, reinterpret_cast<DWORD_PTR>(&gvGlobals.HelpCookie));
        gvGlobals.HelpOwner = hwnd;
    }
    HtmlHelpA(hwnd, gvGlobals.HelpFile, command, data);
}

void TerminateHtmlHelp()
{
    // Help never opened has no windows to close: the control is not loaded for that.
    if (gvGlobals.HelpFile && gvGlobals.HelpOwner)
        HtmlHelpA(gvGlobals.HelpOwner, gvGlobals.HelpFile, HH_CLOSE_ALL, 0);
    if (gvGlobals.HelpCookie)
        HtmlHelpA(nullptr, nullptr, HH_UNINITIALIZE, gvGlobals.HelpCookie);
    gvGlobals.HelpCookie = 0;
    gvGlobals.HelpOwner = nullptr;
}
