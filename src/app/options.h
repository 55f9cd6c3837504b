#pragma once
#include <windows.h>

// The options dialog; returns 1 after OK, 2 after Cancel or closing.
INT_PTR OptionsDialog(HWND owner);
