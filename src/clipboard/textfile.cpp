#include "textfile.h"
#include "clipboard.h"
#include "reduce.h"
#include "resources/resource.h"
#include "util/globals.h"
#include "util/guards.h"
#include "util/messages.h"
#include <commdlg.h>
#include <cstring>

namespace {

const DWORD OPEN_FLAGS = OFN_READONLY | OFN_SHOWHELP | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
// No overwrite prompt: Save As replaces an existing file without a question.
const DWORD SAVE_FLAGS = OFN_SHOWHELP | OFN_PATHMUSTEXIST;

using FileDialogFn = BOOL(WINAPI *)(LPOPENFILENAMEA);

// Fills path with the user's choice; false when the dialog was cancelled.
bool AskFileName(HWND owner, DWORD flags, FileDialogFn show, char (&path)[MAX_PATH])
{
    // One byte is kept back so that even a cut-short filter ends in two zeros.
    char filter[256] = "";
    LoadStringA(gvGlobals.hInstance, IDS_FILEFILTER, filter, sizeof filter - 1);
    for (char &c : filter)
        if (c == '$')
            c = '\0';
    path[0] = '\0';
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.hInstance = gvGlobals.hInstance;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = path;
    ofn.nMaxFile = MAX_PATH;
    ofn.Flags = flags;
    ofn.lpstrDefExt = "TXT";
    return show(&ofn) != FALSE;
}

enum ReadResult { READ_OK, READ_SYSERROR, READ_NOMEM, READ_NOLOCK };

// Reads the whole file into a new block followed by a zero byte. On
// READ_SYSERROR, *error holds the system's code.
ReadResult ReadTextFile(const char *path, HGLOBAL *text, DWORD *error)
{
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size;
    if (!file.ok() || !GetFileSizeEx(file.get(), &size)) {
        *error = GetLastError();
        return READ_SYSERROR;
    }
    // ReadFile counts in 32 bits and the zero byte must fit as well: a larger
    // file is too big to load, never loaded cut short.
    if (size.QuadPart >= MAXDWORD)
        return READ_NOMEM;
    const DWORD fileSize = size.LowPart;
    GlobalBlock block(GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE | GMEM_ZEROINIT, fileSize + 1));
    if (!block.get())
        return READ_NOMEM;
    DWORD read = 0;
    {
        GlobalLockGuard<char> p(block.get());
        if (!p.get())
            return READ_NOLOCK;
        if (!ReadFile(file.get(), p.get(), fileSize, &read, nullptr)) {
            *error = GetLastError();
            return READ_SYSERROR;
        }
    }
    // The file shrank since its size was taken.
    if (read < fileSize) {
        HGLOBAL smaller = GlobalReAlloc(block.get(), read + 1, GMEM_MOVEABLE);
        if (smaller) {
            block.Detach();
            *text = smaller;
            return READ_OK;
        }
    }
    *text = block.Detach();
    return READ_OK;
}

} // namespace

DWORD WriteTextFile(const char *path, const char *text, DWORD len)
{
    FileHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    DWORD written = 0;
    if (!file.ok() || !WriteFile(file.get(), text, len, &written, nullptr))
        return GetLastError();
    return ERROR_SUCCESS;
}

bool AskSaveFileName(HWND owner, char (&path)[MAX_PATH])
{
    return AskFileName(owner, SAVE_FLAGS, GetSaveFileNameA, path);
}

void LoadTextFile(HWND hwndMain, const char *path)
{
    HGLOBAL text = nullptr;
    DWORD error = ERROR_SUCCESS;
    // A failed load leaves the clipboard as it was: Open takes no undo
    // snapshot, so an emptied clipboard could not be got back.
    switch (ReadTextFile(path, &text, &error)) {
    case READ_OK:
        break;
    case READ_SYSERROR:
        SystemMessage(hwndMain, error);
        return;
    case READ_NOMEM:
        ShowStringMessage(hwndMain, IDS_ALLOCFAILED, MB_ICONINFORMATION);
        return;
    case READ_NOLOCK:
        ShowStringMessage(hwndMain, IDS_LOCKFAILED, MB_ICONINFORMATION);
        return;
    }
    GlobalBlock block(text);
    OwnChange(hwndMain, [&] {
        EmptyClipboard();
        PlaceOnClipboard(CF_TEXT, block);
    });
}

void SaveClipboardText(HWND hwndMain, const char *path)
{
    SIZE_T size = 0;
    HGLOBAL text;
    {
        ClipboardSession clip(hwndMain);
        if (!clip.ok())
            return;
        // ANSI whatever KeepUnicode says; the system derives it from Unicode text.
        text = GetClipboardBlock(nullptr, CF_TEXT, CASE_NONE, &size);
    }
    // The file is written with the clipboard closed, so that an error box
    // does not keep other programs from the clipboard.
    if (text == INVALID_BLOCK)
        return;
    GlobalBlock copy(text);
    GlobalLockGuard<char> p(copy.get());
    if (!p.get()) {
        ShowStringMessage(hwndMain, IDS_LOCKFAILED, MB_ICONINFORMATION);
        return;
    }
    // The text ends at its zero byte; the block the system reports may be longer.
    DWORD error = WriteTextFile(path, p.get(), static_cast<DWORD>(strnlen(p.get(), size)));
    if (error != ERROR_SUCCESS)
        SystemMessage(hwndMain, error);
}

void OnFileOpen(HWND hwndMain)
{
    char path[MAX_PATH];
    if (AskFileName(hwndMain, OPEN_FLAGS, GetOpenFileNameA, path))
        LoadTextFile(hwndMain, path);
}

void OnFileSaveas(HWND hwndMain)
{
    char path[MAX_PATH];
    if (AskSaveFileName(hwndMain, path))
        SaveClipboardText(hwndMain, path);
}
