#include "rowlist.h"
#include "util/guards.h"
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t ROW_CHARS = 256;

// One list at a time: the viewer's.
HWND m_hwndRows;
HGLOBAL m_hText;
const char *m_Text;
size_t m_Length;
size_t *m_RowStart;
size_t m_Rows;

const DWORD ROWLIST_STYLE = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA |
                            LVS_NOCOLUMNHEADER | LVS_SINGLESEL | LVS_SHOWSELALWAYS;

// Where the row starting at pos ends, its line feed included.
size_t RowEnd(const char *text, size_t length, size_t pos)
{
    const size_t limit = length - pos < ROW_CHARS ? length - pos : ROW_CHARS;
    const void *lf = memchr(text + pos, '\n', limit);
    return lf ? static_cast<size_t>(static_cast<const char *>(lf) - text) + 1 : pos + limit;
}

// Row `row` of the text without its line end.
void RowBounds(size_t row, size_t *start, size_t *end)
{
    *start = m_RowStart[row];
    *end = row + 1 < m_Rows ? m_RowStart[row + 1] : m_Length;
    while (*end > *start && (m_Text[*end - 1] == '\n' || m_Text[*end - 1] == '\r'))
        --*end;
}

int ColumnWidth(HWND list, HFONT font, size_t chars)
{
    WindowDC dc(list);
    SelectedObject selected(dc.get(), font);
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc.get(), &metrics);
    // Two characters more for the list's margins around the text.
    return static_cast<int>(chars + 2) * metrics.tmAveCharWidth;
}

} // namespace

size_t CountRows(const char *text, size_t length)
{
    size_t rows = 0;
    for (size_t pos = 0; pos < length; pos = RowEnd(text, length, pos))
        rows++;
    return rows;
}

bool ShowRowList(HWND parent, int id, HWND over, HGLOBAL block, size_t length, size_t rows)
{
    FreeRowList();
    m_hText = block;
    m_Text = static_cast<const char *>(GlobalLock(block));
    m_RowStart = static_cast<size_t *>(malloc(rows * sizeof *m_RowStart));
    if (!m_Text || !m_RowStart || rows > INT_MAX) {
        FreeRowList();
        return false;
    }
    m_Length = length;
    m_Rows = rows;
    size_t widest = 0;
    for (size_t row = 0, pos = 0; row < rows; row++) {
        m_RowStart[row] = pos;
        const size_t end = RowEnd(m_Text, length, pos);
        if (end - pos > widest)
            widest = end - pos;
        pos = end;
    }
    RECT r;
    GetWindowRect(over, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT *>(&r), 2);
    m_hwndRows =
        CreateWindowExA(0, WC_LISTVIEWA, "", ROWLIST_STYLE, r.left, r.top, r.right - r.left, r.bottom - r.top,
                        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    if (!m_hwndRows) {
        FreeRowList();
        return false;
    }
    HFONT font = static_cast<HFONT>(GetStockObject(ANSI_FIXED_FONT));
    SendMessageA(m_hwndRows, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    LVCOLUMNA column = {};
    column.mask = LVCF_WIDTH;
    column.cx = ColumnWidth(m_hwndRows, font, widest);
    SendMessageA(m_hwndRows, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    SendMessageA(m_hwndRows, LVM_SETITEMCOUNT, rows, 0);
    ShowWindow(over, SW_HIDE);
    return true;
}

const char *RowListText(size_t *length)
{
    *length = m_Length;
    return m_hwndRows ? m_Text : nullptr;
}

void OnRowListDispInfo(NMLVDISPINFOA *info)
{
    LVITEMA &item = info->item;
    if (!(item.mask & LVIF_TEXT) || item.iItem < 0 || static_cast<size_t>(item.iItem) >= m_Rows ||
        item.cchTextMax <= 0)
        return;
    size_t start, end;
    RowBounds(static_cast<size_t>(item.iItem), &start, &end);
    const size_t n = end - start < static_cast<size_t>(item.cchTextMax) ? end - start : item.cchTextMax - 1;
    memcpy(item.pszText, m_Text + start, n);
    item.pszText[n] = '\0';
}

void FreeRowList()
{
    if (m_hwndRows)
        DestroyWindow(m_hwndRows);
    if (m_Text)
        GlobalUnlock(m_hText);
    if (m_hText)
        GlobalFree(m_hText);
    free(m_RowStart);
    m_hwndRows = nullptr;
    m_hText = nullptr;
    m_Text = nullptr;
    m_RowStart = nullptr;
    m_Length = m_Rows = 0;
}
