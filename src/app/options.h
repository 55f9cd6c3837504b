#pragma once
#include <windows.h>

// Reads every option from the settings store into gvGlobals; a value that
// is not a paste key gives the default key.
void ReadOptions();
// The options dialog; returns 1 after OK, 2 after Cancel or closing.
INT_PTR OptionsDialog(HWND owner);
