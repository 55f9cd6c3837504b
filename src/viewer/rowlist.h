#pragma once
// A read-only list that shows a long text row by row, asking for the rows in
// view only. An edit control lays out every line of its text at once, which
// under Wine takes about 40 seconds for the million lines of a 16 MB dump.
#include <windows.h>
#include <commctrl.h>

// Number of rows of text[0..length): a row ends after a line feed or after
// 256 characters.
size_t CountRows(const char *text, size_t length);

// Shows the zero-terminated text of `block` (length bytes, `rows` rows) in a
// list created as child `id` of `parent` in place of the hidden window
// `over`. The list owns the block from then on; false, with the block freed,
// when the list cannot be made.
bool ShowRowList(HWND parent, int id, HWND over, HGLOBAL block, size_t length, size_t rows);
// The text the list shows (null without a list).
const char *RowListText(size_t *length);
// Fills in a row for the list's LVN_GETDISPINFOA.
void OnRowListDispInfo(NMLVDISPINFOA *info);
// Destroys the list and frees its text.
void FreeRowList();
