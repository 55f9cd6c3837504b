#include "messages.h"

#include <shellapi.h>

#include "util/globals.h"

namespace {

// The Win32 error behind a failed launch. Wine reports a missing association
// as a bad executable; the shell's own result code says what happened.
DWORD LaunchError(const SHELLEXECUTEINFOA &sei, DWORD lastError)
{
    INT_PTR code = reinterpret_cast<INT_PTR>(sei.hInstApp);
    return code == SE_ERR_NOASSOC || code == SE_ERR_ASSOCINCOMPLETE ? ERROR_NO_ASSOCIATION : lastError;
}

} // namespace

int SystemMessage(HWND owner, DWORD error, UINT icon)
{
    char text[256] = "";
    // System texts may hold %1-style inserts; there are no arguments for them.
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    return MessageBoxA(owner, text, APP_NAME, icon);
}

int ShowStringMessage(HWND owner, UINT id, UINT flags)
{
    char text[256];
    if (!LoadStringA(gvGlobals.hInstance, id, text, sizeof text))
        text[0] = '\0';
    return MessageBoxA(owner, text, APP_NAME, flags);
}

int DoLaunch(HWND owner, const char *target)
{
    SHELLEXECUTEINFOA sei = {};
    sei.cbSize = sizeof sei;
    // The shell's own error box would duplicate ours, and without an owner.
    sei.fMask = SEE_MASK_FLAG_NO_UI;
    sei.hwnd = GetDesktopWindow();
    sei.lpVerb = "open";
    sei.lpFile = target;
    sei.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExA(&sei) && reinterpret_cast<INT_PTR>(sei.hInstApp) > 32)
        return 1;
    SystemMessage(owner, LaunchError(sei, GetLastError()), MB_ICONHAND);
    return 0;
}
