#include "pastekey.h"
#include "clipboard.h"
#include "reduce.h"
#include "snapshot.h"
#include "util/globals.h"
#include "util/guards.h"
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

const int HOT_KEY_ID = 1;
const UINT_PTR RELEASE_TIMER = 1;
const UINT_PTR GIVE_BACK_TIMER = 2;
const UINT_PTR SEND_TIMER = 3;
const UINT RELEASE_POLL_MS = 10;
// Clipboard viewers (the program's format list among them) open the
// clipboard when told of the lent text; the program in front tries to open
// it once on Ctrl+V, so the key goes only once they have let go, or after
// this.
const DWORD SEND_LIMIT_MS = 500;
const UINT SEND_POLL_MS = 5;
// Keys still held after this are not a paste the user meant.
const DWORD RELEASE_LIMIT_MS = 3000;
// A program that takes the text reads it at once; one that ignores Ctrl+V
// never does, and gets the clipboard back after this.
const UINT READ_LIMIT_MS = 2000;
// After the text was read, the reader may still hold the clipboard open.
const UINT AFTER_READ_MS = 250;
// Formats a paste keeps to give back: a copy it could not keep whole is
// not pasted at all.
const size_t SAVED_MAX = 256;

enum PasteState { IDLE, AWAITING_RELEASE, LENT };

HWND m_hwnd; // message-only window: holds the key, owns the lent clipboard
WORD m_Key;  // the registered key, 0 for none
PasteState m_State;
DWORD m_PressTime;
DWORD m_LentTime;
FormatSnapshot m_Saved(SAVED_MAX);
GlobalBlock m_Text; // the plain text offered by delayed rendering
UINT m_TextFormat;
bool m_Private; // the lent copy was marked private: nothing of it is kept
bool m_Rendered;
bool m_Sent;     // Ctrl+V has gone to the program in front
bool m_Replaced; // another copy replaced the text meanwhile: it stays
bool m_GivingBack;

UINT ModifiersOf(WORD key)
{
    const BYTE flags = HIBYTE(key);
    return (flags & HOTKEYF_CONTROL ? MOD_CONTROL : 0) | (flags & HOTKEYF_SHIFT ? MOD_SHIFT : 0) |
           (flags & HOTKEYF_ALT ? MOD_ALT : 0);
}

bool IsDown(int vk)
{
    return (GetAsyncKeyState(vk) & 0x8000) != 0;
}

// Waiting for the user's own key-ups, rather than sending some, leaves no
// modifier down in any program.
bool KeysReleased()
{
    static const int MODIFIERS[] = {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LWIN, VK_RWIN};
    for (int vk : MODIFIERS)
        if (IsDown(vk))
            return false;
    return !IsDown(LOBYTE(m_Key));
}

void SendPaste()
{
    const struct {
        WORD vk;
        DWORD flags;
    } KEYS[] = {{VK_CONTROL, 0}, {'V', 0}, {'V', KEYEVENTF_KEYUP}, {VK_CONTROL, KEYEVENTF_KEYUP}};
    INPUT input[std::size(KEYS)] = {};
    for (size_t i = 0; i < std::size(KEYS); i++) {
        input[i].type = INPUT_KEYBOARD;
        input[i].ki.wVk = KEYS[i].vk;
        input[i].ki.dwFlags = KEYS[i].flags;
    }
    SendInput(static_cast<UINT>(std::size(input)), input, sizeof(INPUT));
}

HGLOBAL CopyOfText()
{
    const SIZE_T size = GlobalSize(m_Text.get());
    GlobalBlock copy(GlobalAlloc(GMEM_MOVEABLE, size));
    GlobalLockGuard<char> dst(copy.get());
    GlobalLockGuard<char> src(m_Text.get());
    if (!dst.get() || !src.get())
        return nullptr;
    memcpy(dst.get(), src.get(), size);
    return copy.Detach();
}

void PutText()
{
    GlobalBlock copy(CopyOfText());
    if (copy.get() && PlaceOnClipboard(m_TextFormat, copy))
        m_Rendered = true;
}

// Keeps the open clipboard and offers its plain text in its place; false,
// with nothing changed, when it has no text or cannot be kept whole.
bool LendOpenClipboard()
{
    HGLOBAL text = PlainTextBlock(CleanUpOptions());
    if (text == INVALID_BLOCK)
        return false;
    m_Text.Reset(text);
    m_Private = IsPrivateClipboard();
    if (!m_Saved.Take() || m_Saved.cut()) {
        m_Saved.Clear(m_Private);
        MessageBeep(MB_ICONEXCLAMATION);
        return false;
    }
    PrivacyMarks marks;
    EmptyClipboard();
    m_TextFormat = PlainTextFormat();
    m_Rendered = m_Replaced = false;
    SetClipboardData(m_TextFormat, nullptr);
    marks.Restore();
    return true;
}

void WipeText()
{
    if (m_Private) {
        GlobalLockGuard<char> p(m_Text.get());
        if (p.get())
            SecureZeroMemory(p.get(), GlobalSize(m_Text.get()));
    }
    m_Text.Reset();
}

void Lend()
{
    bool lent = false;
    OwnChange(m_hwnd, [&lent] { lent = LendOpenClipboard(); });
    if (!lent) {
        WipeText();
        m_State = IDLE;
        return;
    }
    m_State = LENT;
    m_Sent = false;
    m_LentTime = GetTickCount();
    SetTimer(m_hwnd, SEND_TIMER, SEND_POLL_MS, nullptr);
}

bool ClipboardFree()
{
    if (!OpenClipboard(m_hwnd))
        return false;
    CloseClipboard();
    return true;
}

void OnSendTimer()
{
    if (m_State != LENT || (!ClipboardFree() && GetTickCount() - m_LentTime < SEND_LIMIT_MS))
        return;
    KillTimer(m_hwnd, SEND_TIMER);
    m_Sent = true;
    SendPaste();
    SetTimer(m_hwnd, GIVE_BACK_TIMER, READ_LIMIT_MS, nullptr);
}

void GiveBackOpenClipboard()
{
    if (gvGlobals.KeepPlainText) {
        // The text outlives the paste, so it is rendered now: a promise
        // would die with the program.
        if (!m_Rendered)
            PutText();
        if (!m_Private)
            KeepAsUndo(m_Saved);
        return;
    }
    m_GivingBack = true;
    EmptyClipboard();
    m_GivingBack = false;
    m_Saved.Restore();
}

// Gives the clipboard back, or tries again shortly while another program
// holds it; true once done.
bool GiveBack()
{
    KillTimer(m_hwnd, GIVE_BACK_TIMER);
    if (m_State != LENT)
        return true;
    bool done = m_Replaced;
    if (!done)
        OwnChange(m_hwnd, [&done] {
            GiveBackOpenClipboard();
            done = true;
        });
    if (!done) {
        SetTimer(m_hwnd, GIVE_BACK_TIMER, AFTER_READ_MS, nullptr);
        return false;
    }
    m_Saved.Clear(m_Private);
    WipeText();
    m_State = IDLE;
    return true;
}

void OnRenderFormat(UINT format)
{
    if (m_State != LENT || format != m_TextFormat || !m_Text.get())
        return;
    PutText();
    DWORD reader = 0;
    GetWindowThreadProcessId(GetOpenClipboardWindow(), &reader);
    // The program's own windows (the viewer) and a clipboard monitor before
    // the key was sent read it too; only the pasting program's read ends
    // the paste.
    if (m_Sent && reader != GetCurrentProcessId())
        SetTimer(m_hwnd, GIVE_BACK_TIMER, AFTER_READ_MS, nullptr);
}

void OnReleaseTimer()
{
    if (KeysReleased()) {
        KillTimer(m_hwnd, RELEASE_TIMER);
        Lend();
    } else if (GetTickCount() - m_PressTime > RELEASE_LIMIT_MS) {
        KillTimer(m_hwnd, RELEASE_TIMER);
        m_State = IDLE;
    }
}

void OnHotKey()
{
    if (m_State != IDLE)
        return;
    m_State = AWAITING_RELEASE;
    m_PressTime = GetTickCount();
    SetTimer(m_hwnd, RELEASE_TIMER, RELEASE_POLL_MS, nullptr);
}

LRESULT CALLBACK PasteWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_HOTKEY:
        OnHotKey();
        return 0;
    case WM_TIMER:
        if (wParam == RELEASE_TIMER)
            OnReleaseTimer();
        else if (wParam == GIVE_BACK_TIMER)
            GiveBack();
        else if (wParam == SEND_TIMER)
            OnSendTimer();
        return 0;
    case WM_RENDERFORMAT:
        OnRenderFormat(static_cast<UINT>(wParam));
        return 0;
    case WM_RENDERALLFORMATS: {
        ClipboardGuard clip(hwnd);
        if (clip.ok() && GetClipboardOwner() == hwnd && m_Text.get() && !m_Rendered)
            PutText();
        return 0;
    }
    case WM_DESTROYCLIPBOARD:
        if (m_State == LENT && !m_GivingBack)
            m_Replaced = true;
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

HWND PasteWindow()
{
    if (!m_hwnd) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = PasteWndProc;
        wc.hInstance = gvGlobals.hInstance;
        wc.lpszClassName = L"QuilletPasteKey";
        RegisterClassW(&wc);
        m_hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 gvGlobals.hInstance, nullptr);
    }
    return m_hwnd;
}

} // namespace

bool IsPasteKeyValue(DWORD value)
{
    const BYTE flags = HIBYTE(LOWORD(value));
    return value == 0 || (value <= 0xFFFF && LOBYTE(value) != 0 &&
                          (flags & ~(HOTKEYF_SHIFT | HOTKEYF_CONTROL | HOTKEYF_ALT | HOTKEYF_EXT)) == 0);
}

bool SetPasteKey(WORD key)
{
    if (m_Key && m_hwnd)
        UnregisterHotKey(m_hwnd, HOT_KEY_ID);
    m_Key = 0;
    if (!key)
        return true;
    if (!PasteWindow() || !RegisterHotKey(m_hwnd, HOT_KEY_ID, ModifiersOf(key) | MOD_NOREPEAT, LOBYTE(key)))
        return false;
    m_Key = key;
    return true;
}

std::string PasteKeyName(WORD key)
{
    std::string name;
    const BYTE flags = HIBYTE(key);
    if (flags & HOTKEYF_CONTROL)
        name += "Ctrl+";
    if (flags & HOTKEYF_ALT)
        name += "Alt+";
    if (flags & HOTKEYF_SHIFT)
        name += "Shift+";
    LONG scan = static_cast<LONG>(MapVirtualKeyA(LOBYTE(key), MAPVK_VK_TO_VSC)) << 16;
    if (flags & HOTKEYF_EXT)
        scan |= 1L << 24;
    char keyName[32] = "";
    if (GetKeyNameTextA(scan, keyName, sizeof keyName) <= 0)
        snprintf(keyName, sizeof keyName, "key %u", LOBYTE(key));
    return name + keyName;
}

bool PasteUnderway()
{
    return m_State == LENT;
}

void ClosePasteKey()
{
    if (!m_hwnd)
        return;
    KillTimer(m_hwnd, RELEASE_TIMER);
    KillTimer(m_hwnd, SEND_TIMER);
    if (m_State == AWAITING_RELEASE)
        m_State = IDLE;
    GiveBack();
    SetPasteKey(0);
    DestroyWindow(m_hwnd);
    m_hwnd = nullptr;
    m_Saved.Clear(m_Private);
    WipeText();
    m_State = IDLE;
}
