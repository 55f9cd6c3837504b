#include "guards.h"

namespace {

// Whether this thread has the clipboard open through a guard.
thread_local bool t_clipboardOpen;

} // namespace

BOOL OpenClipboardRetry(HWND owner)
{
    if (t_clipboardOpen)
        return FALSE;
    for (int attempt = 0; attempt < 10; attempt++) {
        if (OpenClipboard(owner)) {
            t_clipboardOpen = true;
            return TRUE;
        }
        Sleep(10);
    }
    return FALSE;
}

void ClipboardGuard::Close()
{
    if (!m_open)
        return;
    CloseClipboard();
    t_clipboardOpen = false;
    m_open = FALSE;
}
