#pragma once
// The local clippings manager: renames, deletes and copies stored clippings.
#include <windows.h>

// Runs dialog 912 modally; 1 after Copy or Close, 2 after Escape or when
// there is nothing to manage.
INT_PTR ClipMgrDialog(HWND parent);

// The Synchronize button and the offer to fetch the cloud's clippings into
// an empty store run this, which the program gives; without it they do nothing.
void SetClippingsSyncCommand(void (*synchronise)(HWND dlg));
