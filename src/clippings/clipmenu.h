#pragma once
// The clippings submenu and the name dialog shared by store and rename.
#include <windows.h>
#include <cstdint>

enum ClipNameMode { CLIPNAME_STORE = 0, CLIPNAME_RENAME = 1 };

// A new popup menu listing the clippings in name order (ids 501 + table
// index, the slot as item data), or a greyed "(Empty)" item.
HMENU ClippingsPopupMenu();
// Gives item 500 of a menu a freshly built clippings submenu.
void ReplaceClippingsSubmenu(HMENU parent);
// The slot in the item data of a command of the submenu under parent's first
// item; FALSE when the submenu has no such item.
BOOL ClippingSlotOfCommand(HMENU parent, UINT id, uint32_t *slot);
// Opens the clipboard, saves it for Undo and puts the slot's clipping on it;
// returns the number of formats placed.
UINT OnRecallClipping(HWND owner, uint32_t slot);
// Asks for a name (buffer in: proposal, out: choice); returns its length,
// 0 when cancelled or left empty.
UINT ClipAddNameDlg(char *name, size_t size, int mode);
// The store command: keeps the clipboard's text as a new clipping.
void OnBtnClipAdd(HWND owner);
