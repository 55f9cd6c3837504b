#pragma once
#include <windows.h>

extern HWND m_hwndMain;
extern BOOL m_Visible;

// Gives the lower modules the commands of the higher ones that they offer
// (the viewer's add button, the local manager's synchronisation).
void ConnectModules();
int RunMainWindow(HINSTANCE instance);
INT_PTR CALLBACK MainDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);
// Shows or hides the main window and keeps m_Visible in step.
void ShowMainWindow(HWND hwnd, BOOL show);
