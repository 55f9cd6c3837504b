#pragma once
// Text files to and from the clipboard's CF_TEXT.
#include <windows.h>

void OnFileOpen(HWND hwndMain);
void OnFileSaveas(HWND hwndMain);

// The work after the file dialogs. hwndMain owns the message boxes and has
// its format list refreshed.
void LoadTextFile(HWND hwndMain, const char *path);
void SaveClipboardText(HWND hwndMain, const char *path);

// The save dialog of text files (filter, TXT extension, no overwrite
// question); false when cancelled.
bool AskSaveFileName(HWND owner, char (&path)[MAX_PATH]);
// Writes len bytes to the file, replacing it; the system's code on failure.
DWORD WriteTextFile(const char *path, const char *text, DWORD len);
