#include "reduce.h"
#include "clipboard.h"
#include "resources/resource.h"
#include "util/globals.h"
#include "util/guards.h"

namespace {

struct FormatCopy {
    UINT format;
    HGLOBAL block;
};

void FreeEntry(const FormatCopy &entry);

// Copies of clipboard formats, owned until they are handed back to the
// clipboard; whatever is left is freed with them.
class FormatSnapshot {
public:
    FormatSnapshot() = default;
    ~FormatSnapshot() { Clear(); }
    FormatSnapshot(const FormatSnapshot &) = delete;
    FormatSnapshot &operator=(const FormatSnapshot &) = delete;

    bool empty() const { return m_count == 0; }
    bool full() const { return m_count == UNDO_MAX; }
    // The snapshot owns `block` from now on; it must not be full.
    void Add(UINT format, HGLOBAL block) { m_entries[m_count++] = {format, block}; }
    void Clear()
    {
        for (int i = 0; i < m_count; i++)
            FreeEntry(m_entries[i]);
        m_count = 0;
    }
    // Puts every copy on the open clipboard; those it refuses are freed.
    void Restore()
    {
        for (int i = 0; i < m_count; i++)
            if (!SetClipboardData(m_entries[i].format, m_entries[i].block))
                FreeEntry(m_entries[i]);
        m_count = 0;
    }

private:
    FormatCopy m_entries[UNDO_MAX] = {};
    int m_count = 0;
};

// The one level of undo: the clipboard as it was before the last change.
FormatSnapshot m_Undo;
// An operation of the program is changing the clipboard.
bool m_Active;

// Set from the start of an automatic conversion to the end of its flash.
BOOL m_Converting;
// A change was notified meanwhile: convert again once this one has ended.
BOOL m_ConvertAgain;

UINT TextFormat()
{
    return gvGlobals.KeepUnicode ? CF_UNICODETEXT : CF_TEXT;
}

// Hands a block to the open clipboard, or frees it when refused.
void PutBlock(UINT format, HGLOBAL block)
{
    GlobalBlock owned(block);
    PlaceOnClipboard(format, owned);
}

// The marks by which a source (a password manager, say) asks clipboard
// monitors not to record its copy. Such content is never auto-converted nor
// kept in the snapshot, and a manual reduction puts the marks back.
const char *const PRIVACY_MARKS[] = {
    "ExcludeClipboardContentFromMonitorProcessing",
    "Clipboard Viewer Ignore",
    "CanIncludeInClipboardHistory",
};

bool IsHistoryDenied(UINT format)
{
    HANDLE h = GetClipboardData(format);
    if (!h || GlobalSize(h) < sizeof(DWORD))
        return false;
    GlobalLockGuard<DWORD> p(h);
    return p.get() && *p.get() == 0;
}

bool IsPrivateClipboard()
{
    for (const char *name : PRIVACY_MARKS) {
        UINT format = RegisterClipboardFormatA(name);
        if (!IsClipboardFormatAvailable(format))
            continue;
        if (format != RegisterClipboardFormatA("CanIncludeInClipboardHistory") || IsHistoryDenied(format))
            return true;
    }
    return false;
}

// Copies of the privacy marks on the open clipboard, put back after a change.
class PrivacyMarks {
public:
    PrivacyMarks()
    {
        for (const char *name : PRIVACY_MARKS) {
            UINT format = RegisterClipboardFormatA(name);
            if (!IsClipboardFormatAvailable(format))
                continue;
            HGLOBAL copy = GetClipboardBlock(nullptr, format, CASE_NONE, nullptr);
            if (copy == INVALID_BLOCK)
                copy = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DWORD));
            if (copy)
                m_marks.Add(format, copy);
        }
    }
    void Restore() { m_marks.Restore(); }

private:
    FormatSnapshot m_marks;
};

// Empties the open clipboard and puts `text` on it as the one format.
void ReplaceWithText(HGLOBAL text)
{
    PrivacyMarks marks;
    EmptyClipboard();
    PutBlock(TextFormat(), text);
    marks.Restore();
}

// A metafile picture refers to a metafile that emptying the clipboard
// deletes, so the snapshot keeps a copy of the metafile itself.
HGLOBAL CopyMetafilePict()
{
    HANDLE h = GetClipboardData(CF_METAFILEPICT);
    if (!h || GlobalSize(h) < sizeof(METAFILEPICT))
        return INVALID_BLOCK;
    GlobalLockGuard<METAFILEPICT> src(h);
    if (!src.get())
        return INVALID_BLOCK;
    HMETAFILE mf = CopyMetaFileA(src.get()->hMF, nullptr);
    if (!mf)
        return INVALID_BLOCK;
    GlobalBlock copy(GlobalAlloc(GMEM_MOVEABLE, sizeof(METAFILEPICT)));
    GlobalLockGuard<METAFILEPICT> dst(copy.get());
    if (!dst.get()) {
        DeleteMetaFile(mf);
        return INVALID_BLOCK;
    }
    *dst.get() = *src.get();
    dst.get()->hMF = mf;
    return copy.Detach();
}

void FreeEntry(const FormatCopy &entry)
{
    if (entry.format == CF_METAFILEPICT) {
        GlobalLockGuard<METAFILEPICT> p(entry.block);
        if (p.get())
            DeleteMetaFile(p.get()->hMF);
    }
    GlobalFree(entry.block);
}

// The snapshot keeps the data's own size, so that Undo gives a format back
// as it was, not with the room for a hex dump a clipboard block has.
HGLOBAL CopyForUndo(UINT format)
{
    if (format == CF_METAFILEPICT)
        return CopyMetafilePict();
    return GetClipboardCopy(format);
}

// Data there was to copy, so the copy failed for want of memory.
bool CopyFailed(UINT format)
{
    SIZE_T size = 0;
    return format != CF_METAFILEPICT && GetClipboardBlockSize(format, &size) && size > 0;
}

// Case conversion and emptying keep an existing snapshot, so that Undo
// returns to the state before the first of several such changes. Once
// another program has copied, the snapshot is stale: Undo must bring back
// that copy, not what was there before it.
bool EnsureUndo(HWND hwnd)
{
    return (!m_Undo.empty() && IsOwnClipboardContent()) || PrepUndo(hwnd, 0);
}

// Replaces the open clipboard by its text (case-converted if asked);
// without text the clipboard stays as it is.
void ReduceOpenClipboard(int caseMode)
{
    HGLOBAL text = GetClipboardBlock(nullptr, TextFormat(), caseMode, nullptr);
    if (text != INVALID_BLOCK)
        ReplaceWithText(text);
}

// Text alone, with what the system derives from it: reducing it again would
// change nothing, yet tell every viewer of a change. A second program that
// converts automatically would answer with a change of its own, and the two
// would convert each other's results for ever.
bool HoldsOnlyText()
{
    for (UINT format = EnumClipboardFormats(0); format; format = EnumClipboardFormats(format))
        if (format != CF_TEXT && format != CF_OEMTEXT && format != CF_UNICODETEXT && format != CF_LOCALE)
            return false;
    return true;
}

// Converts another program's copy. True when it was read and not private,
// so that the flash shows it was seen.
bool ConvertForeignCopy(HWND hwndMain)
{
    bool seen = false;
    OwnChange(hwndMain, [&] {
        if (IsPrivateClipboard() || !PrepUndo(hwndMain, 0))
            return;
        seen = true;
        if (!HoldsOnlyText())
            ReduceOpenClipboard(CASE_NONE);
    });
    return seen;
}

} // namespace

void FreeUndo()
{
    m_Undo.Clear();
}

bool PrepUndo(HWND, int)
{
    FreeUndo();
    if (IsPrivateClipboard())
        return true;
    for (UINT format = EnumClipboardFormats(0); format && !m_Undo.full();
         format = EnumClipboardFormats(format)) {
        if (format == CF_OEMTEXT || format == CF_DIB)
            continue;
        HGLOBAL block = CopyForUndo(format);
        if (block != INVALID_BLOCK) {
            m_Undo.Add(format, block);
        } else if (CopyFailed(format)) {
            FreeUndo();
            return false;
        }
    }
    return true;
}

void OnReduce(HWND hwndMain)
{
    OwnChange(hwndMain, [hwndMain] {
        if (PrepUndo(hwndMain, 0))
            ReduceOpenClipboard(CASE_NONE);
    });
}

// Showing a conversion (the tray icon's flash) waits on the taskbar's
// process, and a change notified meanwhile is handled inside that wait. A
// copy made then is therefore converted once this conversion has ended, not
// in it: every such copy would otherwise nest one conversion deeper, and
// Wine drops a window's messages nested 64 deep. `converted` runs after the
// conversion, so that the clipboard is not held while the taskbar answers.
void OnAutoConvert(HWND hwndMain, void (*converted)(HWND hwndMain))
{
    if (m_Active || IsOwnClipboardContent())
        return;
    if (m_Converting) {
        m_ConvertAgain = TRUE;
        return;
    }
    m_Converting = TRUE;
    do {
        m_ConvertAgain = FALSE;
        if (ConvertForeignCopy(hwndMain))
            converted(hwndMain);
    } while (m_ConvertAgain);
    m_Converting = FALSE;
}

void OnUndo(HWND hwndMain)
{
    if (m_Undo.empty())
        return;
    OwnChange(hwndMain, [] {
        EmptyClipboard();
        m_Undo.Restore();
    });
}

void OnChangeCase(HWND hwndMain, int caseMode)
{
    OwnChange(hwndMain, [hwndMain, caseMode] {
        if (EnsureUndo(hwndMain))
            ReduceOpenClipboard(caseMode);
    });
}

void OnEmpty(HWND hwndMain)
{
    OwnChange(hwndMain, [hwndMain] {
        if (EnsureUndo(hwndMain))
            EmptyClipboard();
    });
}

bool HasUndo()
{
    return !m_Undo.empty();
}

OwnChangeScope::OwnChangeScope() : m_outer(m_Active)
{
    m_Active = true;
}

OwnChangeScope::~OwnChangeScope()
{
    m_Active = m_outer;
}
