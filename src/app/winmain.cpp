#include "help.h"
#include "main.h"
#include "options.h"
#include "titlesplash.h"
#include "net/vercheck.h"
#include "util/globals.h"
#include "util/safefns.h"
#include <commctrl.h>
#include <cstdlib>
#include <cstring>

namespace {

const UINT SPLASH_TIMEOUT_MS = 3000;

// The help file is the module path with ".chm" for its extension; without
// a readable path or a '.' in its first 256 characters there is no help.
char *FormHelpPath()
{
    char path[MAX_PATH];
    DWORD len = GetModuleFileNameA(nullptr, path, sizeof path);
    if (len == 0 || len >= sizeof path)
        return nullptr;
    char *dot = strrchr(path, '.');
    if (!dot || dot - path >= 256)
        return nullptr;
    // The dot lies within the first 256 characters, so ".chm" always fits.
    safe_strcpy(dot, sizeof path - (dot - path), ".chm");
    return _strdup(path);
}

int AnyInstance(HINSTANCE instance)
{
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_USEREX_CLASSES | ICC_COOL_CLASSES |
                                                ICC_NATIVEFNTCTL_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    // The viewer's rich-text pane; the library stays loaded for the process.
    LoadLibraryA("riched20.dll");
    memset(&gvGlobals, 0, sizeof gvGlobals);
    gvGlobals.hInstance = instance;
    gvGlobals.HelpFile = FormHelpPath();
    ReadOptions();
    if (!gvGlobals.NoVerCheck)
        LaunchVersionCheck(GetDesktopWindow());
    if (!gvGlobals.HideSplash)
        ShowTitleSplash(SPLASH_TIMEOUT_MS);
    // The main window waits for the check for at most 2.5 s.
    TerminateVersionCheck();
    RunMainWindow(instance);
    TerminateHtmlHelp();
    free(gvGlobals.HelpFile);
    gvGlobals.HelpFile = nullptr;
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    AnyInstance(instance);
    return 0;
}
