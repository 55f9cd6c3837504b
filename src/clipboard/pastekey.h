#pragma once
// The paste key: a key that works in every program, pasting the clipboard's
// text as a reduction would leave it into the window in front, and then
// giving the clipboard back as it was.
#include <windows.h>
#include <commctrl.h>
#include <string>

// Ctrl+Alt+Shift+V, in the hot-key control's form (virtual key in the low
// byte, HOTKEYF_ flags in the high one). Windows and the common programs
// leave it free, unlike Win+V and Ctrl+Alt+V.
#define DEFAULT_PASTE_KEY MAKEWORD('V', HOTKEYF_CONTROL | HOTKEYF_ALT | HOTKEYF_SHIFT)

// A stored value that can be a paste key: 0 (none) or a key with flags that
// the hot-key control knows.
bool IsPasteKeyValue(DWORD value);
// Makes `key` (0 for none) the paste key in place of the last one. False
// when another program holds it; there is no paste key then.
bool SetPasteKey(WORD key);
// The key as the user reads it, "Ctrl+Alt+Shift+V".
std::string PasteKeyName(WORD key);
// A paste has lent the clipboard and not yet given it back: the clipboard's
// changes meanwhile are the paste's own.
bool PasteUnderway();
// Gives back a clipboard still lent to a paste and gives up the key.
void ClosePasteKey();
