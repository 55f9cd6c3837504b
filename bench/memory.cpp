// Memory and GDI and USER objects over long use of the main window and the
// viewer: idle, once warmed up, after a 100 MB snapshot with Undo, after
// many automatic conversions and after many viewer refreshes of a picture.
#include "bench.h"
#include <psapi.h>
#include <winternl.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include "app/main.h"
#include "clipboard/reduce.h"
#include "resources/resource.h"
#include "util/globals.h"

namespace {

// Wine's GetGuiResources counts nothing. GDI objects are the used entries
// of the process's handle table, which the PEB points at as on Windows.
int CountGdiObjects()
{
    struct Entry {
        uint64_t object;
        uint32_t owner;
        uint16_t unique;
        uint8_t type;
        uint8_t flags;
        uint64_t user;
    };
    const size_t tableOffset = sizeof(void *) == 8 ? 0xF8 : 0x94;
    PROCESS_BASIC_INFORMATION info = {};
    if (NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof info, nullptr))
        return -1;
    const auto *peb = reinterpret_cast<const char *>(info.PebBaseAddress);
    const Entry *table = *reinterpret_cast<const Entry *const *>(peb + tableOffset);
    int n = 0;
    for (int i = 0; table && i < 0x10000; i++)
        n += table[i].type != 0;
    return n;
}

// USER handles are the even numbers from 0x20 to 0xFFEF, with a generation
// in the high word that Wine lets a caller leave out.
int CountUserObjects()
{
    int n = 0;
    for (UINT_PTR h = 0x20; h <= 0xFFEF; h += 2) {
        DWORD process = 0;
        ICONINFO icon;
        if (IsWindow(HWND(h))) {
            GetWindowThreadProcessId(HWND(h), &process);
            n += process == GetCurrentProcessId();
        } else if (IsMenu(HMENU(h)) || CopyAcceleratorTableA(HACCEL(h), nullptr, 0) > 0) {
            n++;
        } else if (GetIconInfo(HICON(h), &icon)) {
            n++;
            DeleteObject(icon.hbmMask);
            DeleteObject(icon.hbmColor);
        }
    }
    return n;
}

void Measure(const char *when)
{
    WaitMainWindowIdle();
    Sleep(500);
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    const std::string name = std::string("memory.") + when;
    Figure((name + ".ws").c_str(), counters.WorkingSetSize / 1024.0);
    Figure((name + ".gdi").c_str(), CountGdiObjects());
    Figure((name + ".user").c_str(), CountUserObjects());
}

void SnapshotAndUndo()
{
    {
        std::vector<ClipFormat> formats;
        for (int i = 0; i < 20; i++) {
            const std::string name = "Quillet bench " + std::to_string(i);
            formats.push_back({RegisterClipboardFormatA(name.c_str()), std::string(5 * MB, char('a' + i))});
        }
        // The automatic conversion takes the snapshot; there is no text.
        SetClipboardFormats(formats);
    }
    for (int i = 0; i < 1000 && !HasUndo(); i++)
        Sleep(10);
    WaitMainWindowIdle();
    SendMessageA(MainWindow(), WM_COMMAND, IDM_UNDO, 0);
    // Freeing 100 MB holds the clipboard for longer than the conversion that
    // follows waits for it, and a copy made meanwhile would not be converted.
    SetClipboardFormats({});
    WaitMainWindowIdle();
}

// Copies of formatted text made by another process, each converted.
void Conversions(int count)
{
    if (RunChild("--copy-formatted 4000 " + std::to_string(count), 1000 * count + 60000) < 0)
        fprintf(stderr, "memory: the copies were not all converted\n");
    WaitMainWindowIdle();
}

void ViewerRefreshes(const std::string &picture, int count)
{
    SetClipboardFormats({{RegisterClipboardFormatA("PNG"), picture}});
    WaitMainWindowIdle();
    PostMessageA(MainWindow(), WM_COMMAND, IDM_VIEW, 0);
    HWND viewer = nullptr;
    for (int i = 0; i < 1000 && !viewer; i++) {
        Sleep(10);
        viewer = FindWindowA("#32770", "Clipboard Viewer");
    }
    for (int i = 0; viewer && i < count; i++)
        SendMessageA(viewer, WM_COMMAND, IDC_VIEWREFRESH, 0);
    SendMessageA(viewer, WM_COMMAND, IDOK, 0);
    SetClipboardFormats({});
}

} // namespace

// argv: a PNG picture and the number of conversions and of refreshes.
int BenchMemory(int, char **argv)
{
    const std::string picture = ReadFileBytes(argv[0]);
    const int count = atoi(argv[1]);
    gvGlobals.AutoConvert = 1;
    if (!StartMainWindow())
        return 1;
    Measure("idle");
    // Once round first: the first use of each part fills caches of Wine's
    // and of the heap that stay.
    SnapshotAndUndo();
    Conversions(10);
    ViewerRefreshes(picture, 10);
    Measure("warm");
    SnapshotAndUndo();
    Measure("undo");
    Conversions(count);
    Measure("convert");
    ViewerRefreshes(picture, count);
    Measure("view");
    StopMainWindow();
    return 0;
}
