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
