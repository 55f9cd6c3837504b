// Start-up to the main window, against Wine's notepad reaching its window.
#include "bench.h"
#include <string>
#include "resources/resource.h"
#include "settings/registry.h"

namespace {

struct Shown {
    DWORD process;
    HWND window;
};

BOOL CALLBACK FindShown(HWND hwnd, LPARAM param)
{
    auto *shown = reinterpret_cast<Shown *>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if (process != shown->process || !IsWindowVisible(hwnd))
        return TRUE;
    shown->window = hwnd;
    return FALSE;
}

// The time from the start of the process until it shows a window, which is
// then sent `close`; -1 when none was shown.
double TimeToWindow(std::string command, UINT close, WPARAM wParam)
{
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    const double start = Seconds();
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    const HWND window = ShownWindow(pi.dwProcessId, 20000);
    const double seconds = Seconds() - start;
    PostMessageA(window, close, wParam, 0);
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return window ? seconds : -1;
}

double BestToWindow(const std::string &command, UINT close, WPARAM wParam)
{
    double best = -1;
    for (int i = 0; i < RUNS; i++) {
        double seconds = TimeToWindow(command, close, wParam);
        if (seconds >= 0 && (best < 0 || seconds < best))
            best = seconds;
    }
    return best;
}

} // namespace

HWND ShownWindow(DWORD process, int tries)
{
    Shown shown = {process, nullptr};
    for (int i = 0; i < tries && !shown.window; i++) {
        EnumWindows(FindShown, reinterpret_cast<LPARAM>(&shown));
        if (!shown.window)
            Sleep(1);
    }
    return shown.window;
}

// argv[0]: the program (quillet.exe).
int BenchStartup(int, char **argv)
{
    WriteSettingsInt(nullptr, "HideSplash", 1);
    WriteSettingsInt(nullptr, "NoVerCheck", 1);
    WriteSettingsInt(nullptr, "QuickExit", IDC_QUIT_EXIT);
    Figure("startup", BestToWindow(std::string("\"") + argv[0] + "\"", WM_COMMAND, IDM_EXIT));
    Figure("startup.base", BestToWindow("notepad.exe", WM_CLOSE, 0));
    return 0;
}
