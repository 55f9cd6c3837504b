#pragma once
// Reduction to plain text, the one-level undo snapshot, case conversion and
// emptying. All run on the UI thread for the main window.
#include <windows.h>

#define UNDO_MAX 24

struct UndoEntry {
    UINT format;
    HGLOBAL block;
};

extern UndoEntry m_Undo[UNDO_MAX];
extern int m_UndoCount;
extern BOOL m_Active; // the main window itself is changing the clipboard

// Replaces the snapshot by a copy of the open clipboard. False, and no
// snapshot, when a format's data could not be copied (memory ran out; the
// user has been told): a change made then could not be undone whole.
bool PrepUndo(HWND hwnd, int recall);
void FreeUndo();

void OnReduce(HWND hwndMain);
void OnAutoConvert(HWND hwndMain);
void OnUndo(HWND hwndMain);
void OnChangeCase(HWND hwndMain, int caseMode);
void OnEmpty(HWND hwndMain);
