#pragma once
// The main window's list of the formats on the clipboard, and what follows
// from it: whether there is text to reduce.
#include <windows.h>

// Rebuilds list 760 of the main window, the Reduce button and the system
// menu item. When the clipboard cannot be opened (another program, or an
// operation further up this thread's stack, holds it), everything stays as
// it was.
void RefreshList(HWND hwndMain);

// Whether the last RefreshList found a text format (1, 7, 13 or 129).
bool CanReduce();
