#pragma once
// The local clippings manager: renames, deletes and copies stored clippings.
#include <windows.h>

// Runs dialog 912 modally; 1 after Copy or Close, 2 after Escape or when
// there is nothing to manage.
INT_PTR ClipMgrDialog(HWND parent);
