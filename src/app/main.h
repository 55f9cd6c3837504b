#pragma once
#include <windows.h>

// The main window while it exists, else null; whether the user has it shown
// (or in the tray).
HWND MainWindow();
bool MainWindowShown();

// Registers the clipboard formats every module names, and gives the lower
// modules the commands of the higher ones that they offer (the viewer's add
// button, the local manager's synchronisation).
void ConnectModules();
// Puts the modules' state back as at start-up with every option off: the
// undo snapshot, the viewer's picture, the HTTP time-out. Tests begin so.
void ResetModuleState();
int RunMainWindow(HINSTANCE instance);
INT_PTR CALLBACK MainDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);
// Shows or hides the main window and keeps MainWindowShown() in step.
void ShowMainWindow(HWND hwnd, BOOL show);
