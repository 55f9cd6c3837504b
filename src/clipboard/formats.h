#pragma once
// Readable names of clipboard formats and the main window's format list.
#include <windows.h>

enum FormatCategory { FMT_TEXT = 1, FMT_OTHER = 2, FMT_PICTURE = 3, FMT_UNICODE = 4 };

// Writes the name of `format` into buf (bounded) and its category; returns buf.
char *FmtName(UINT format, char *buf, int size, int *category);

// Rebuilds list 760 of the main window, m_CanReduce, the Reduce button and the
// system menu item. With clipboardOpen 0 it opens and closes the clipboard;
// when it cannot, everything stays as it was.
void RefreshList(HWND hwndMain, int clipboardOpen);

// Whether the last RefreshList found a text format (1, 7, 13 or 129).
extern BOOL m_CanReduce;
