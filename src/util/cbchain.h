#pragma once
// A window's place among the clipboard's watchers. Changes are told by the
// format listener, one WM_CLIPBOARDUPDATE each: a viewer ahead in the old
// chain that drops WM_DRAWCLIPBOARD cannot silence it. The window stays in
// the chain only to pass its messages on to the next viewer.
#include <windows.h>

class ClipboardChain {
public:
    // Nothing is asked of the window for the clipboard as it is at the join.
    void Join(HWND hwnd);
    void Leave(HWND hwnd);
    // Handles WM_DRAWCLIPBOARD and WM_CHANGECBCHAIN. True for a
    // WM_DRAWCLIPBOARD that the window must act on itself: where the
    // listener could not be had, the chain is the only news of a change.
    bool OnChainMessage(UINT msg, WPARAM wParam, LPARAM lParam);

private:
    HWND m_next = nullptr;
    bool m_listening = false;
    bool m_joining = false;
};
