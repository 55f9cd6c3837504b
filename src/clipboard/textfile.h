#pragma once
// Text files to and from the clipboard's CF_TEXT.
#include <windows.h>

void OnFileOpen(HWND hwndMain);
void OnFileSaveas(HWND hwndMain);
