#include "guards.h"

BOOL OpenClipboardRetry(HWND owner)
{
    for (int attempt = 0; attempt < 10; attempt++) {
        if (OpenClipboard(owner))
            return TRUE;
        Sleep(10);
    }
    return FALSE;
}
