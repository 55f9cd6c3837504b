#pragma once
#include <windows.h>

// The clipboard viewer; returns 1 after Close, 2 after the close box or a
// clipboard change.
INT_PTR ViewDialog(HWND owner);

// The add button keeps the clipboard's text as a clipping: the program
// gives the command that does it.
void SetViewerAddCommand(void (*add)(HWND owner));
