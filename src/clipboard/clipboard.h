#pragma once
// The one routine through which the program copies clipboard data into a
// block of its own. The clipboard must be open.
#include <windows.h>
#include "util/guards.h"

#define INVALID_BLOCK ((HGLOBAL)(LONG_PTR)-1)

enum CaseMode { CASE_NONE = 0, CASE_UPPER = 1, CASE_LOWER = 2 };

// How the viewer shows data: as a hexadecimal dump, or with each zero byte
// replaced by `nullChar` (none when 0).
struct ViewerModes {
    bool hexDump;
    char nullChar;
};

// Returns a movable block owned by the caller, or INVALID_BLOCK when the
// format has no global-memory data or the copy failed (then told by the
// session's close). Without a viewer window the block holds
// the data plus a zero byte (case-converted for CASE_UPPER/CASE_LOWER); with
// one it holds the viewer's rendering in `modes` (and the dump advances the
// viewer's progress bar).
HGLOBAL GetClipboardBlock(HWND viewer, UINT format, int caseMode, SIZE_T *outSize, ViewerModes modes = {});

// The format's data alone, in a movable block of its size (the undo
// snapshot's copy); INVALID_BLOCK as above, with the same messages.
HGLOBAL GetClipboardCopy(UINT format);

// Hands the block to the open clipboard; true when it took it. A refused
// block stays the GlobalBlock's, to be freed with it.
bool PlaceOnClipboard(UINT format, GlobalBlock &block);

// 1 and the data size if the clipboard has data in that format, else 0.
int GetClipboardBlockSize(UINT format, SIZE_T *outSize);

// Id of the viewer's progress bar, advanced during a hex dump.
#define IDC_VIEWPROGRESS 780

// The clipboard opened by one of the program's windows for one operation.
// Closing it, the session marks a change it made as the program's own and
// only then tells of a copy that failed meanwhile: no box is shown, and no
// other program kept from the clipboard, while it is held.
class ClipboardSession {
public:
    explicit ClipboardSession(HWND owner);
    ~ClipboardSession();
    ClipboardSession(const ClipboardSession &) = delete;
    ClipboardSession &operator=(const ClipboardSession &) = delete;
    bool ok() const { return m_clip.ok(); }

private:
    HWND m_owner;
    DWORD m_sequence;
    ClipboardGuard m_clip;
};

// Whether the clipboard still holds what the program's last change put
// there: its change notifications may come late, through other viewers.
bool IsOwnClipboardContent();
