#include "snapshot.h"
#include "clipboard.h"
#include "util/guards.h"
#include <iterator>
#include <utility>

namespace {

// The marks by which a source asks monitors not to record its copy. Such
// content is never auto-converted nor kept in the undo snapshot, and a change
// the user asks for puts the marks back.
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

void FreeCopy(UINT format, HGLOBAL block, bool wipe)
{
    if (format == CF_METAFILEPICT) {
        GlobalLockGuard<METAFILEPICT> p(block);
        if (p.get())
            DeleteMetaFile(p.get()->hMF);
    } else if (wipe) {
        GlobalLockGuard<char> p(block);
        if (p.get())
            SecureZeroMemory(p.get(), GlobalSize(block));
    }
    GlobalFree(block);
}

// A snapshot keeps the data's own size, so that it gives a format back as it
// was, not with the room for a hex dump a clipboard block has.
HGLOBAL CopyFormat(UINT format)
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

} // namespace

bool FormatSnapshot::Take()
{
    Clear();
    m_cut = false;
    for (UINT format = EnumClipboardFormats(0); format; format = EnumClipboardFormats(format)) {
        if (format == CF_OEMTEXT || format == CF_DIB)
            continue;
        if (full()) {
            m_cut = true;
            break;
        }
        HGLOBAL block = CopyFormat(format);
        if (block != INVALID_BLOCK) {
            Add(format, block);
        } else if (CopyFailed(format)) {
            Clear();
            return false;
        }
    }
    return true;
}

void FormatSnapshot::Clear(bool wipe)
{
    for (const Entry &entry : m_entries)
        FreeCopy(entry.format, entry.block, wipe);
    m_entries.clear();
}

void FormatSnapshot::Restore()
{
    for (const Entry &entry : m_entries)
        if (!SetClipboardData(entry.format, entry.block))
            FreeCopy(entry.format, entry.block, false);
    m_entries.clear();
}

void FormatSnapshot::Swap(FormatSnapshot &other)
{
    std::swap(m_entries, other.m_entries);
    std::swap(m_cut, other.m_cut);
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

PrivacyMarks::PrivacyMarks() : m_marks(std::size(PRIVACY_MARKS))
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
