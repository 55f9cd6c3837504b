#include "clipboard.h"

#include <commctrl.h>
#include <cstring>

#include "clipboard/blockcalc.h"
#include "resources/resource.h"
#include "util/globals.h"
#include "util/guards.h"
#include "util/messages.h"

namespace {

// A copy that failed while the clipboard was open, told once it is closed.
UINT m_CopyFailure;
// The sequence number of the clipboard after the program's last change.
DWORD m_OwnSequence;
bool m_OwnKnown;

enum CopyResult { COPY_OK, COPY_NOMEM, COPY_NOLOCK };

// The bar advances one step per 1024 bytes but is only told about every
// 1/256 of its range: each message repaints it, and 16 MB of data would
// otherwise send 16384 of them.
struct Progress {
    HWND bar;
    SIZE_T steps;
    SIZE_T stride;
};

void StepProgress(void *context)
{
    auto *progress = static_cast<Progress *>(context);
    if (++progress->steps % progress->stride == 0)
        SendMessageA(progress->bar, PBM_SETPOS, static_cast<WPARAM>(progress->steps), 0);
}

void WriteHexDump(HWND viewer, const BYTE *src, SIZE_T n, char *dst)
{
    HWND bar = GetDlgItem(viewer, IDC_VIEWPROGRESS);
    SIZE_T range = n / 1024 + 1;
    ShowWindow(bar, SW_SHOW);
    SendMessageA(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(range));
    SendMessageA(bar, PBM_SETSTEP, 1, 0);
    SendMessageA(bar, PBM_SETPOS, 0, 0);
    UpdateWindow(bar);
    Progress progress = {bar, 0, range / 256 + 1};
    HexDump(src, n, dst, StepProgress, &progress);
    SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(progress.steps), 0);
    ShowWindow(bar, SW_HIDE);
}

void ConvertCase(char *text, int caseMode)
{
    bool upper = caseMode == CASE_UPPER;
    if (gvGlobals.KeepUnicode) {
        LPWSTR wide = reinterpret_cast<LPWSTR>(text);
        upper ? CharUpperW(wide) : CharLowerW(wide);
    } else {
        upper ? CharUpperA(text) : CharLowerA(text);
    }
}

// A clipboard block reserves at least 64 bytes beyond the data and is
// zero-filled, so every copy below is already terminated, as a wide text
// too. The undo snapshot's exact copy needs no terminator.
void FillBlock(HWND viewer, ViewerModes modes, const BYTE *src, SIZE_T n, char *dst, int caseMode)
{
    if (viewer && modes.hexDump) {
        WriteHexDump(viewer, src, n, dst);
    } else if (viewer && modes.nullChar) {
        for (SIZE_T i = 0; i < n; i++)
            dst[i] = src[i] ? static_cast<char>(src[i]) : modes.nullChar;
    } else {
        memcpy(dst, src, n);
        if (!viewer && (caseMode == CASE_UPPER || caseMode == CASE_LOWER))
            ConvertCase(dst, caseMode);
    }
}

// `size` is at least n; a larger block is zero-filled, so that no stale heap
// bytes reach the clipboard with it.
CopyResult CopyData(HWND viewer, ViewerModes modes, HANDLE data, SIZE_T n, SIZE_T size, int caseMode,
                    HGLOBAL *out)
{
    GlobalLockGuard<const BYTE> src(data);
    if (!src.get())
        return COPY_NOLOCK;
    GlobalBlock block(GlobalAlloc(size > n ? GHND : GMEM_MOVEABLE, size));
    if (!block.get())
        return COPY_NOMEM;
    {
        GlobalLockGuard<char> dst(block.get());
        if (!dst.get())
            return COPY_NOLOCK;
        FillBlock(viewer, modes, src.get(), n, dst.get(), caseMode);
    }
    *out = block.Detach();
    return COPY_OK;
}

// A block of `blockSize(n)` bytes, or of none when that size overflows.
HGLOBAL CopyClipboardFormat(HWND viewer, ViewerModes modes, UINT format, int caseMode, SIZE_T *outSize,
                            bool (*blockSize)(size_t n, size_t *size))
{
    HANDLE data = GetClipboardData(format);
    if (!data)
        return INVALID_BLOCK;
    SIZE_T n = GlobalSize(data);
    if (outSize)
        *outSize = n;
    if (n == 0)
        return INVALID_BLOCK;
    HGLOBAL block = nullptr;
    size_t size = 0;
    // Told once the clipboard is closed again (ClipboardSession).
    switch (blockSize(n, &size) ? CopyData(viewer, modes, data, n, size, caseMode, &block) : COPY_NOMEM) {
    case COPY_OK:
        return block;
    case COPY_NOMEM:
        m_CopyFailure = IDS_ALLOCFAILED;
        break;
    case COPY_NOLOCK:
        m_CopyFailure = IDS_LOCKFAILED;
        break;
    }
    return INVALID_BLOCK;
}

// Shows the message of a copy that failed, if any (strings 1210, 1240).
void TellCopyFailure()
{
    const UINT id = m_CopyFailure;
    m_CopyFailure = 0;
    if (id)
        ShowStringMessage(GetDesktopWindow(), id, MB_ICONINFORMATION);
}

bool ExactSize(size_t n, size_t *size)
{
    *size = n;
    return true;
}

} // namespace

HGLOBAL GetClipboardBlock(HWND viewer, UINT format, int caseMode, SIZE_T *outSize, ViewerModes modes)
{
    return CopyClipboardFormat(viewer, modes, format, caseMode, outSize, ClipboardBlockSize);
}

HGLOBAL GetClipboardCopy(UINT format)
{
    return CopyClipboardFormat(nullptr, {}, format, CASE_NONE, nullptr, ExactSize);
}

int GetClipboardBlockSize(UINT format, SIZE_T *outSize)
{
    HANDLE data = GetClipboardData(format);
    if (!data)
        return 0;
    if (outSize)
        *outSize = GlobalSize(data);
    return 1;
}

ClipboardSession::ClipboardSession(HWND owner)
    : m_owner(owner), m_sequence(GetClipboardSequenceNumber()), m_clip(owner)
{
}

ClipboardSession::~ClipboardSession()
{
    if (!m_clip.ok())
        return;
    const bool changed = GetClipboardSequenceNumber() != m_sequence;
    m_clip.Close();
    // Closing adds the formats the system derives, which counts as a change
    // too, so the number is read after it. A program that copied in the
    // moment since owns the clipboard, and its copy is not taken for ours.
    if (changed && GetClipboardOwner() == m_owner) {
        m_OwnSequence = GetClipboardSequenceNumber();
        m_OwnKnown = true;
    }
    TellCopyFailure();
}

bool PlaceOnClipboard(UINT format, GlobalBlock &block)
{
    if (!block.get() || !SetClipboardData(format, block.get()))
        return false;
    block.Detach();
    return true;
}

bool IsOwnClipboardContent()
{
    return m_OwnKnown && GetClipboardSequenceNumber() == m_OwnSequence;
}
