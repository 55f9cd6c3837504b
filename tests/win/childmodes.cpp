#include <windows.h>
#include <cstring>
#include "childmodes.h"
#include "testutil.h"

namespace {
// Holds the clipboard open, as a busy program would, from the moment the
// event "QuilletTestHeld" is set until "QuilletTestRelease" is (or 30 s).
int HoldClipboard()
{
    HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, "QuilletTestHeld");
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, "QuilletTestRelease");
    if (!held || !release || !OpenClipboard(nullptr))
        return 1;
    SetEvent(held);
    WaitForSingleObject(release, 30000);
    CloseClipboard();
    return 0;
}
} // namespace

int RunChildMode(int, char **argv)
{
    if (strcmp(argv[0], "--child-copy-formatted") == 0)
        return SetClipboardFormats(FormattedText()) ? 0 : 1;
    if (strcmp(argv[0], "--child-hold-clipboard") == 0)
        return HoldClipboard();
    return 2;
}
