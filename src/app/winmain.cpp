#include "main.h"
#include "settings/registry.h"
#include "util/globals.h"
#include <commctrl.h>
#include <cstring>

namespace {

void ReadOptions()
{
    gvGlobals.StartToTray = GetSettingsInt(nullptr, "StartToTray", 0);
    gvGlobals.AutoConvert = GetSettingsInt(nullptr, "AutoConvert", 0);
    gvGlobals.KeepUnicode = GetSettingsInt(nullptr, "KeepUnicode", 0);
}

int AnyInstance(HINSTANCE instance)
{
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_USEREX_CLASSES | ICC_COOL_CLASSES |
                                                ICC_NATIVEFNTCTL_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    memset(&gvGlobals, 0, sizeof gvGlobals);
    gvGlobals.hInstance = instance;
    ReadOptions();
    RunMainWindow(instance);
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    AnyInstance(instance);
    return 0;
}
