#include "reduce.h"
#include "cleanup.h"
#include "clipboard.h"
#include "programlist.h"
#include "snapshot.h"
#include "resources/resource.h"
#include "util/globals.h"
#include "util/guards.h"
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

namespace {

// The one level of undo: the clipboard as it was before the last change.
FormatSnapshot m_Undo(UNDO_MAX);
// An operation of the program is changing the clipboard.
bool m_Active;

// Set from the start of an automatic conversion to the end of its flash.
BOOL m_Converting;
// A change was notified meanwhile: convert again once this one has ended.
BOOL m_ConvertAgain;

// Hands a block to the open clipboard, or frees it when refused.
void PutBlock(UINT format, HGLOBAL block)
{
    GlobalBlock owned(block);
    PlaceOnClipboard(format, owned);
}

// Empties the open clipboard and puts `text` on it as the one format.
void ReplaceWithText(HGLOBAL text)
{
    PrivacyMarks marks;
    EmptyClipboard();
    PutBlock(PlainTextFormat(), text);
    marks.Restore();
}

// Case conversion, clean-ups and emptying keep an existing snapshot, so that Undo
// returns to the state before the first of several such changes. Once
// another program has copied, the snapshot is stale: Undo must bring back
// that copy, not what was there before it.
bool EnsureUndo(HWND hwnd)
{
    return (!m_Undo.empty() && IsOwnClipboardContent()) || PrepUndo(hwnd, 0);
}

// The open clipboard's Unicode text; false without one.
bool ReadUnicodeText(std::u16string &text)
{
    SIZE_T size = 0;
    HGLOBAL copy = GetClipboardBlock(nullptr, CF_UNICODETEXT, CASE_NONE, &size);
    if (copy == INVALID_BLOCK)
        return false;
    GlobalBlock block(copy);
    GlobalLockGuard<char16_t> p(block.get());
    if (!p.get())
        return false;
    const size_t chars = size / sizeof(char16_t);
    text.assign(p.get(), std::find(p.get(), p.get() + chars, u'\0'));
    return true;
}

std::u16string CleanedUp(std::u16string text, DWORD cleanUps)
{
    if (cleanUps & CLEAN_TRIM)
        text = TrimLineEnds(text);
    if (cleanUps & CLEAN_JOIN)
        text = JoinWrappedLines(text);
    if (cleanUps & CLEAN_STRAIGHT)
        text = StraightenPunctuation(text);
    return text;
}

// A block of PlainTextFormat() holding `text`, or INVALID_BLOCK.
HGLOBAL TextBlock(const std::u16string &text)
{
    const auto *wide = reinterpret_cast<const wchar_t *>(text.c_str());
    const int chars = static_cast<int>(text.size()) + 1;
    const bool unicode = PlainTextFormat() == CF_UNICODETEXT;
    const int size = unicode ? chars * static_cast<int>(sizeof(wchar_t))
                             : WideCharToMultiByte(CP_ACP, 0, wide, chars, nullptr, 0, nullptr, nullptr);
    GlobalBlock block(size > 0 ? GlobalAlloc(GMEM_MOVEABLE, size) : nullptr);
    GlobalLockGuard<char> p(block.get());
    if (!p.get())
        return INVALID_BLOCK;
    if (unicode)
        memcpy(p.get(), wide, size);
    else
        WideCharToMultiByte(CP_ACP, 0, wide, chars, p.get(), size, nullptr, nullptr);
    return block.Detach();
}

// Whether the clean-ups would change the open clipboard's text.
bool CleanUpsChange(DWORD cleanUps)
{
    std::u16string text;
    return cleanUps && ReadUnicodeText(text) && CleanedUp(text, cleanUps) != text;
}

// Replaces the open clipboard by its text (case-converted or cleaned up if
// asked); without text the clipboard stays as it is.
void ReduceOpenClipboard(int caseMode, DWORD cleanUps = 0)
{
    HGLOBAL text = caseMode == CASE_NONE ? PlainTextBlock(cleanUps)
                                         : GetClipboardBlock(nullptr, PlainTextFormat(), caseMode, nullptr);
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

// The copy comes from a program the user wants left alone: the clipboard
// owner's, or the one in front when the copy has no owner window.
bool IsLeftAloneCopy()
{
    if (!gvGlobals.LeftAlone[0])
        return false;
    HWND source = GetClipboardOwner();
    DWORD pid = 0;
    if (!source)
        source = GetForegroundWindow();
    if (!source || !GetWindowThreadProcessId(source, &pid))
        return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return false;
    wchar_t path[MAX_PATH * 2];
    DWORD chars = static_cast<DWORD>(std::size(path));
    const bool known = QueryFullProcessImageNameW(process, 0, path, &chars);
    CloseHandle(process);
    return known && ListsProgram(reinterpret_cast<const char16_t *>(gvGlobals.LeftAlone),
                                 std::u16string_view(reinterpret_cast<const char16_t *>(path), chars));
}

// Converts another program's copy. True when it was read and not private,
// so that the flash shows it was seen.
bool ConvertForeignCopy(HWND hwndMain)
{
    bool seen = false;
    OwnChange(hwndMain, [&] {
        if (IsPrivateClipboard() || IsLeftAloneCopy() || !PrepUndo(hwndMain, 0))
            return;
        seen = true;
        const DWORD cleanUps = CleanUpOptions();
        if (!HoldsOnlyText() || CleanUpsChange(cleanUps))
            ReduceOpenClipboard(CASE_NONE, cleanUps);
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
    return IsPrivateClipboard() || m_Undo.Take();
}

UINT PlainTextFormat()
{
    return gvGlobals.KeepUnicode ? CF_UNICODETEXT : CF_TEXT;
}

DWORD CleanUpOptions()
{
    return (gvGlobals.TrimLineEnds ? CLEAN_TRIM : 0) | (gvGlobals.JoinLines ? CLEAN_JOIN : 0) |
           (gvGlobals.StraightQuotes ? CLEAN_STRAIGHT : 0);
}

HGLOBAL PlainTextBlock(DWORD cleanUps)
{
    if (!cleanUps)
        return GetClipboardBlock(nullptr, PlainTextFormat(), CASE_NONE, nullptr);
    std::u16string text;
    return ReadUnicodeText(text) ? TextBlock(CleanedUp(std::move(text), cleanUps)) : INVALID_BLOCK;
}

void KeepAsUndo(FormatSnapshot &snapshot)
{
    m_Undo.Swap(snapshot);
    snapshot.Clear();
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

void OnCleanUp(HWND hwndMain, DWORD cleanUp)
{
    OwnChange(hwndMain, [hwndMain, cleanUp] {
        if (EnsureUndo(hwndMain))
            ReduceOpenClipboard(CASE_NONE, cleanUp);
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
