#pragma once
#include <windows.h>

extern HWND m_hwndMain;
extern BOOL m_Visible;
extern HICON m_hIcon;
extern HICON m_hFlashIcon;

int RunMainWindow(HINSTANCE instance);
INT_PTR CALLBACK MainDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);
// Shows or hides the main window and keeps m_Visible in step.
void ShowMainWindow(HWND hwnd, BOOL show);
