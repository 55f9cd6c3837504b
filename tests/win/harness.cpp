#include "harness.h"
#include <cstring>
#include <fstream>
#include <iterator>
#include "settings/registry.h"
#include "util/guards.h"

void ResetProgramState()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, SETTINGS_ROOT);
    ClipboardGuard clip(nullptr);
    if (clip.ok())
        EmptyClipboard();
}

bool SetClipboardFormats(const std::vector<ClipFormat> &formats)
{
    // The main window holds the clipboard for longer than one retry of the
    // guard while it snapshots megabytes.
    for (int attempt = 0; attempt < 50; attempt++) {
        ClipboardGuard clip(nullptr);
        if (!clip.ok())
            continue;
        if (!EmptyClipboard())
            return false;
        for (const ClipFormat &f : formats) {
            // SetClipboardData refuses a movable block of 0 bytes, not a fixed one.
            GlobalBlock block(GlobalAlloc(f.data.empty() ? GMEM_FIXED : GMEM_MOVEABLE, f.data.size()));
            if (!block.get())
                return false;
            memcpy(GlobalLockGuard<char>(block.get()).get(), f.data.data(), f.data.size());
            if (!SetClipboardData(f.format, block.get()))
                return false;
            block.Detach();
        }
        return true;
    }
    return false;
}

std::vector<ClipFormat> FormattedText()
{
    return {{CF_TEXT, std::string("Hello World", 12)},
            {RegisterClipboardFormatA("Rich Text Format"), std::string("{\\rtf1 Hello {\\b World}}", 25)},
            {RegisterClipboardFormatA("HTML Format"), std::string("<b>Hello</b> World", 19)}};
}

PROCESS_INFORMATION Launch(const std::string &exe, const std::string &args)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string cmd = "\"" + (exe.empty() ? std::string(self) : exe) + "\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        pi = {};
    return pi;
}

int RunChild(const std::string &args, DWORD timeoutMs)
{
    PROCESS_INFORMATION pi = Launch("", args);
    DWORD code = (DWORD)-1;
    if (!pi.hProcess)
        return -1;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return (int)code;
}

std::string ReadFileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

namespace {

const char PASTE_TARGET_CLASS[] = "QuilletPasteTarget";

LRESULT CALLBACK PasteTargetProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

PasteTarget::PasteTarget(bool reads)
    : m_pi(Launch("", reads ? "--child-paste-target" : "--child-ignore-paste"))
{
}

PasteTarget::~PasteTarget()
{
    if (!m_pi.hProcess)
        return;
    if (m_window)
        PostMessageA(m_window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(m_pi.hProcess, 5000) != WAIT_OBJECT_0)
        TerminateProcess(m_pi.hProcess, 1);
    CloseHandle(m_pi.hThread);
    CloseHandle(m_pi.hProcess);
}

HWND PasteTarget::Window()
{
    for (int i = 0; i < 1000 && m_pi.hProcess && !m_window; i++) {
        HWND w = FindWindowA(PASTE_TARGET_CLASS, nullptr);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (w && pid == m_pi.dwProcessId && GetForegroundWindow() == w)
            m_window = w;
        else
            Sleep(10);
    }
    return m_window;
}

std::wstring PasteTarget::Text()
{
    wchar_t text[4096] = L"";
    SendMessageW(FindWindowExA(Window(), nullptr, "Edit", nullptr), WM_GETTEXT, 4096, (LPARAM)text);
    return text;
}

int RunPasteTarget(bool reads)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = PasteTargetProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = PASTE_TARGET_CLASS;
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, PASTE_TARGET_CLASS, "Paste target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                  0, 400, 300, nullptr, nullptr, wc.hInstance, nullptr);
    HWND edit = reads ? CreateWindowExA(0, "Edit", "", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 0, 0, 380, 260,
                                        window, nullptr, wc.hInstance, nullptr)
                      : nullptr;
    SetForegroundWindow(window);
    SetFocus(edit ? edit : window);
    // Ended by its owner, or after a minute when forgotten.
    SetTimer(window, 1, 60000, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == window)
            DestroyWindow(window);
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

void PressKey(UINT modifiers, UINT vk)
{
    std::vector<WORD> keys;
    if (modifiers & MOD_CONTROL)
        keys.push_back(VK_CONTROL);
    if (modifiers & MOD_ALT)
        keys.push_back(VK_MENU);
    if (modifiers & MOD_SHIFT)
        keys.push_back(VK_SHIFT);
    keys.push_back(static_cast<WORD>(vk));
    std::vector<INPUT> input(keys.size() * 2);
    for (size_t i = 0; i < keys.size(); i++) {
        input[i].type = input[input.size() - 1 - i].type = INPUT_KEYBOARD;
        input[i].ki.wVk = input[input.size() - 1 - i].ki.wVk = keys[i];
        input[input.size() - 1 - i].ki.dwFlags = KEYEVENTF_KEYUP;
    }
    SendInput(static_cast<UINT>(input.size()), input.data(), sizeof(INPUT));
}
