#include "cbchain.h"

void ClipboardChain::Join(HWND hwnd)
{
    // Joining sends a first WM_DRAWCLIPBOARD, which finds no next window yet
    // and asks nothing of the window.
    m_joining = true;
    m_next = nullptr;
    m_next = SetClipboardViewer(hwnd);
    m_joining = false;
    m_listening = AddClipboardFormatListener(hwnd) != FALSE;
}

void ClipboardChain::Leave(HWND hwnd)
{
    if (m_listening)
        RemoveClipboardFormatListener(hwnd);
    m_listening = false;
    ChangeClipboardChain(hwnd, m_next);
    m_next = nullptr;
}

bool ClipboardChain::OnChainMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_DRAWCLIPBOARD) {
        if (m_next)
            SendMessageA(m_next, WM_DRAWCLIPBOARD, wParam, lParam);
        return !m_listening && !m_joining;
    }
    const HWND leaving = reinterpret_cast<HWND>(wParam);
    if (leaving == m_next)
        m_next = reinterpret_cast<HWND>(lParam);
    else if (m_next)
        SendMessageA(m_next, WM_CHANGECBCHAIN, wParam, lParam);
    return false;
}
