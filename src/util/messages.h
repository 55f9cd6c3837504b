#pragma once
// Telling the user: boxes with the program's own strings or the system's
// text for an error, and opening documents and web pages with the shell.
#include <windows.h>

// Shows the system's text for a Win32 error code; returns the box's result.
int SystemMessage(HWND owner, DWORD error, UINT icon = MB_ICONEXCLAMATION);

// Shows string `id` of the program's string table; returns the box's result.
int ShowStringMessage(HWND owner, UINT id, UINT flags);

// Opens a target (a web address, a document) with the shell; 1 on success,
// else 0 after showing the system's message for the error.
int DoLaunch(HWND owner, const char *target);
