// quillet_bench: the benchmarks that run under Wine, one per call
// ("quillet_bench convert"), and the child modes they start.
#include "bench.h"
#include <commctrl.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include "app/main.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"

namespace {

HANDLE m_uiThread;

DWORD WINAPI UiThread(void *)
{
    RunMainWindow(gvGlobals.hInstance);
    return 0;
}

// A benchmark's name, the arguments it needs and its function; the child
// modes ("--...") leave the state of the run alone.
struct Mode {
    const char *name;
    int args;
    int (*run)(int argc, char **argv);
};

const Mode MODES[] = {
    {"convert", 0, BenchConvert},
    {"--copy-formatted", 0, ChildCopyFormatted},
    {"--copy-twice", 0, ChildCopyTwice},
    {"undo", 0, BenchUndo},
    {"hexdump", 1, BenchHexDump},
    {"pictures", 3, BenchPictures},
    {"http", 2, BenchHttp},
    {"sync", 1, BenchSync},
    {"seal", 0, BenchSeal},
    {"startup", 1, BenchStartup},
    {"paste", 1, BenchPaste},
    {"--child-paste-target", 0, [](int, char **) { return RunPasteTarget(true); }},
    {"--child-ignore-paste", 0, [](int, char **) { return RunPasteTarget(false); }},
    {"memory", 2, BenchMemory},
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

bool StartMainWindow()
{
    m_uiThread = CreateThread(nullptr, 0, UiThread, nullptr, 0, nullptr);
    // The dialog manager shows the window once its queue first runs empty.
    for (int i = 0; i < 1000 && !(MainWindow() && IsWindowVisible(MainWindow())); i++)
        Sleep(10);
    WaitMainWindowIdle();
    return MainWindow() != nullptr;
}

void StopMainWindow()
{
    WriteSettingsInt(nullptr, "QuickExit", IDC_QUIT_EXIT);
    PostMessageA(MainWindow(), WM_COMMAND, IDM_EXIT, 0);
    WaitForSingleObject(m_uiThread, 10000);
    CloseHandle(m_uiThread);
}

void WaitMainWindowIdle()
{
    // A message sent now can be handled while the window itself waits on a
    // message it sent to another thread (the tray icon's), that is before it
    // has finished the pause or even handled a change notified earlier.
    Sleep(300);
    SendMessageTimeoutA(MainWindow(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, nullptr);
}

int main(int argc, char **argv)
{
    // As the program's start-up does: common controls and Rich Edit 2.0.
    gvGlobals.hInstance = GetModuleHandle(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    LoadLibraryA("riched20.dll");
    for (const Mode &mode : MODES) {
        if (argc < 2 + mode.args || strcmp(argv[1], mode.name) != 0)
            continue;
        if (mode.name[0] != '-')
            ResetProgramState();
        return mode.run(argc - 2, argv + 2);
    }
    fprintf(stderr,
            "usage: quillet_bench convert|undo|hexdump|pictures|http|sync|seal|startup|paste|memory ...\n");
    return 2;
}
