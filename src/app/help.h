#pragma once
// HTML Help, loaded at run time so that the program also starts where the
// control is missing.
#include <windows.h>

// Opens help (command 0: the default topic); nothing without a help file.
void CallHtmlHelp(HWND hwnd, UINT command, DWORD_PTR data);
// Closes every help window and uninitialises HTML Help; once, at the end.
void TerminateHtmlHelp();

// The loader's entry points, with the signatures of the system's; 0 when the
// control cannot be loaded (then never tried again).
HWND HtmlHelpA(HWND caller, LPCSTR file, UINT command, DWORD_PTR data);
HWND HtmlHelpW(HWND caller, LPCWSTR file, UINT command, DWORD_PTR data);
// The registered path of the HTML Help control (260 bytes); 1 if found.
int GetRegisteredLocation(char *path);
