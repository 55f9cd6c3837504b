#pragma once
#include <windows.h>

// Runs the exit dialog; returns 840 (tray), 670 (exit) or 2 (cancelled).
INT_PTR QuitDialog(HWND owner);
// The close decision for every close request of the main window.
void OnCancel(HWND hwndMain);
