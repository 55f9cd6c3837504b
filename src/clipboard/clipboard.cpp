#include "clipboard.h"

#include <commctrl.h>
#include <cstring>

#include "clipboard/blockcalc.h"
#include "clipboard/formats.h"
#include "resources/resource.h"
#include "util/globals.h"
#include "util/guards.h"

namespace {

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
void FillBlock(HWND viewer, const BYTE *src, SIZE_T n, char *dst, int caseMode)
{
    if (viewer && gvGlobals.HexView) {
        WriteHexDump(viewer, src, n, dst);
    } else if (viewer && gvGlobals.NullChar) {
        for (SIZE_T i = 0; i < n; i++)
            dst[i] = src[i] ? static_cast<char>(src[i]) : gvGlobals.NullChar;
    } else {
        memcpy(dst, src, n);
        if (!viewer && (caseMode == CASE_UPPER || caseMode == CASE_LOWER))
            ConvertCase(dst, caseMode);
    }
}

// `size` is at least n; a larger block is zero-filled, so that no stale heap
// bytes reach the clipboard with it.
CopyResult CopyData(HWND viewer, HANDLE data, SIZE_T n, SIZE_T size, int caseMode, HGLOBAL *out)
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
        FillBlock(viewer, src.get(), n, dst.get(), caseMode);
    }
    *out = block.Detach();
    return COPY_OK;
}

// A block of `blockSize(n)` bytes, or of none when that size overflows.
HGLOBAL CopyClipboardFormat(HWND viewer, UINT format, int caseMode, SIZE_T *outSize,
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
    // Reported only once both blocks are unlocked and the new one is freed.
    switch (blockSize(n, &size) ? CopyData(viewer, data, n, size, caseMode, &block) : COPY_NOMEM) {
    case COPY_OK:
        return block;
    case COPY_NOMEM:
        ShowStringMessage(GetDesktopWindow(), IDS_ALLOCFAILED, MB_ICONINFORMATION);
        break;
    case COPY_NOLOCK:
        ShowStringMessage(GetDesktopWindow(), IDS_LOCKFAILED, MB_ICONINFORMATION);
        break;
    }
    return INVALID_BLOCK;
}

bool ExactSize(size_t n, size_t *size)
{
    *size = n;
    return true;
}

} // namespace

HGLOBAL GetClipboardBlock(HWND viewer, UINT format, int caseMode, SIZE_T *outSize)
{
    return CopyClipboardFormat(viewer, format, caseMode, outSize, ClipboardBlockSize);
}

HGLOBAL GetClipboardCopy(UINT format)
{
    return CopyClipboardFormat(nullptr, format, CASE_NONE, nullptr, ExactSize);
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
