#pragma once
// Reduction to plain text, the one-level undo snapshot, case conversion and
// emptying. All run on the UI thread for the main window.
#include <windows.h>
#include "clipboard/clipboard.h"

#define UNDO_MAX 24

class FormatSnapshot;

// The clean-up conversions, as flags.
enum CleanUp { CLEAN_TRIM = 1, CLEAN_JOIN = 2, CLEAN_STRAIGHT = 4 };

// Marks an operation of the program as changing the clipboard for as long
// as it lives: automatic conversion leaves the clipboard alone meanwhile.
class OwnChangeScope {
public:
    OwnChangeScope();
    ~OwnChangeScope();
    OwnChangeScope(const OwnChangeScope &) = delete;
    OwnChangeScope &operator=(const OwnChangeScope &) = delete;

private:
    bool m_outer;
};

// Runs `change` on the clipboard opened for `hwnd` (a window of the program).
// Its change is recognised as the program's own however late the
// notification comes, and no other operation starts while it holds the
// clipboard; nothing runs when the clipboard cannot be opened.
template <typename Change> void OwnChange(HWND hwnd, Change change)
{
    OwnChangeScope own;
    ClipboardSession clip(hwnd);
    if (clip.ok())
        change();
}

// Replaces the snapshot by a copy of the open clipboard. False, and no
// snapshot, when a format's data could not be copied (memory ran out; the
// user has been told): a change made then could not be undone whole.
bool PrepUndo(HWND hwnd, int recall);
void FreeUndo();
// Whether Undo has a snapshot to give back.
bool HasUndo();

// The format a reduction leaves: Unicode text when the option asks for it.
UINT PlainTextFormat();
// The clean-ups the options ask of automatic conversion and the paste key.
DWORD CleanUpOptions();
// The open clipboard's text as a reduction leaves it, with `cleanUps`
// applied, in a block of PlainTextFormat(); INVALID_BLOCK without text.
HGLOBAL PlainTextBlock(DWORD cleanUps);
// The snapshot becomes the undo snapshot; `snapshot` is left empty.
void KeepAsUndo(FormatSnapshot &snapshot);

void OnReduce(HWND hwndMain);
// Converts another program's copy; `converted` is called after each one
// that was seen (not private), to show it.
void OnAutoConvert(HWND hwndMain, void (*converted)(HWND hwndMain));
void OnUndo(HWND hwndMain);
void OnChangeCase(HWND hwndMain, int caseMode);
// Replaces the clipboard by its text with one clean-up applied.
void OnCleanUp(HWND hwndMain, DWORD cleanUp);
void OnEmpty(HWND hwndMain);
