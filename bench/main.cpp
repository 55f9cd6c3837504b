// quillet_bench: the benchmarks that run under Wine, one per call
// ("quillet_bench convert"), and the child modes they start.
#include "bench.h"
#include <commctrl.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include "app/main.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include "util/guards.h"

namespace {

HANDLE m_uiThread;

DWORD WINAPI UiThread(void *)
{
    RunMainWindow(gvGlobals.hInstance);
    return 0;
}

// Empties the open clipboard and puts the formats on it.
bool PutFormats(const std::vector<ClipFormat> &formats)
{
    if (!EmptyClipboard())
        return false;
    for (const ClipFormat &f : formats) {
        GlobalBlock block(GlobalAlloc(GMEM_MOVEABLE, f.data.size()));
        {
            GlobalLockGuard<char> p(block.get());
            if (!p.get())
                return false;
            memcpy(p.get(), f.data.data(), f.data.size());
        }
        if (!SetClipboardData(f.format, block.get()))
            return false;
        block.Detach();
    }
    return true;
}

struct Mode {
    const char *name;
    int (*run)(int argc, char **argv);
};

const Mode MODES[] = {
    {"convert", BenchConvert}, {"--copy-formatted", ChildCopyFormatted},
    {"--copy-twice", ChildCopyTwice}, {"undo", BenchUndo},
    {"hexdump", BenchHexDump}, {"pictures", BenchPictures},
    {"http", BenchHttp}, {"sync", BenchSync},
    {"startup", BenchStartup}, {"memory", BenchMemory},
};

} // namespace

double Seconds()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

double Best(int runs, const std::function<void()> &work, const std::function<void()> &after)
{
    double best = 1e30;
    for (int i = 0; i < runs; i++) {
        double start = Seconds();
        work();
        best = std::min(best, Seconds() - start);
        if (after)
            after();
    }
    return best;
}

void Figure(const char *name, double value)
{
    printf("%s %.6f\n", name, value);
    fflush(stdout);
}

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
        if (clip.ok())
            return PutFormats(formats);
    }
    return false;
}

std::string ReadFileBytes(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

DWORD RunChild(const std::string &args, DWORD timeoutMs)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string cmd = std::string("\"") + exe + "\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return DWORD(-1);
    DWORD code = DWORD(-1);
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, DWORD(-1));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

bool StartMainWindow()
{
    m_hwndMain = nullptr;
    m_uiThread = CreateThread(nullptr, 0, UiThread, nullptr, 0, nullptr);
    // The dialog manager shows the window once its queue first runs empty.
    for (int i = 0; i < 1000 && !(m_hwndMain && IsWindowVisible(m_hwndMain)); i++)
        Sleep(10);
    WaitMainWindowIdle();
    return m_hwndMain != nullptr;
}

void StopMainWindow()
{
    WriteSettingsInt(nullptr, "QuickExit", IDC_QUIT_EXIT);
    PostMessageA(m_hwndMain, WM_COMMAND, IDM_EXIT, 0);
    WaitForSingleObject(m_uiThread, 10000);
    CloseHandle(m_uiThread);
}

void WaitMainWindowIdle()
{
    // A message sent now can be handled while the window itself waits on a
    // message it sent to another thread (the tray icon's), that is before it
    // has finished the pause or even handled a change notified earlier.
    Sleep(300);
    SendMessageTimeoutA(m_hwndMain, WM_NULL, 0, 0, SMTO_NORMAL, 10000, nullptr);
}

int main(int argc, char **argv)
{
    // As the program's start-up does: common controls and Rich Edit 2.0.
    gvGlobals.hInstance = GetModuleHandle(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    LoadLibraryA("riched20.dll");
    for (const Mode &mode : MODES) {
        if (argc >= 2 && strcmp(argv[1], mode.name) == 0)
            return mode.run(argc - 2, argv + 2);
    }
    fprintf(stderr, "usage: quillet_bench convert|undo|hexdump|pictures|http|sync|startup|memory ...\n");
    return 2;
}
