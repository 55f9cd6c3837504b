#pragma once
#include <windows.h>

// The clipboard viewer; returns 1 after Close, 2 after the close box or a
// clipboard change.
INT_PTR ViewDialog(HWND owner);
