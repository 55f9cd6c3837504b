#pragma once
// The one routine through which the program copies clipboard data into a
// block of its own. The clipboard must be open.
#include <windows.h>

#define INVALID_BLOCK ((HGLOBAL)(LONG_PTR)-1)

enum CaseMode { CASE_NONE = 0, CASE_UPPER = 1, CASE_LOWER = 2 };

// Returns a movable block owned by the caller, or INVALID_BLOCK when the
// format has no global-memory data. Without a viewer window the block holds
// the data plus a zero byte (case-converted for CASE_UPPER/CASE_LOWER); with
// one it holds the viewer's rendering (hex dump or zero-byte replacement).
HGLOBAL GetClipboardBlock(HWND viewer, UINT format, int caseMode, SIZE_T *outSize);

// The format's data alone, in a movable block of its size (the undo
// snapshot's copy); INVALID_BLOCK as above, with the same messages.
HGLOBAL GetClipboardCopy(UINT format);

// 1 and the data size if the clipboard has data in that format, else 0.
int GetClipboardBlockSize(UINT format, SIZE_T *outSize);

// Id of the viewer's progress bar, advanced during a hex dump.
#define IDC_VIEWPROGRESS 780
