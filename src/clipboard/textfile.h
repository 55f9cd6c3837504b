#pragma once
// Text files to and from the clipboard's CF_TEXT.
#include <windows.h>

void OnFileOpen(HWND hwndMain);
void OnFileSaveas(HWND hwndMain);

// The work after the file dialogs. hwndMain owns the message boxes and has
// its format list refreshed.
void LoadTextFile(HWND hwndMain, const char *path);
void SaveClipboardText(HWND hwndMain, const char *path);
