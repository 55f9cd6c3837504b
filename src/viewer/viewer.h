#pragma once
#include <windows.h>

// The clipboard viewer; returns 1 after Close, 2 after the close box or a
// clipboard change.
INT_PTR ViewDialog(HWND owner);

// Byte size of the clipboard's CF_TEXT (terminator included) as the viewer's
// last refresh measured it; 0 after a picture or without CF_TEXT. Kept from
// one viewer to the next.
extern DWORD m_TextSize;
