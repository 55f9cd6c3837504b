#pragma once
#include <windows.h>

BOOL MyTaskBarAddIcon(HWND hwnd, UINT id, HICON icon, const char *tip);
BOOL MyTaskBarChangeIcon(HWND hwnd, UINT id, HICON icon, const char *tip);
BOOL MyTaskBarDeleteIcon(HWND hwnd, UINT id);
// Mouse notification of the tray icon (command 990, mouse message in lParam).
void OnTrayNotify(HWND hwnd, LPARAM mouseMsg);
