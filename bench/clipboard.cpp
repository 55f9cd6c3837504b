// The clipboard core: the automatic conversion of a copy made by another
// process, the undo snapshot with Undo, and the viewer's hexadecimal dump.
#include "bench.h"
#include <commctrl.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include "app/main.h"
#include "clipboard/clipboard.h"
#include "clipboard/reduce.h"
#include "resources/resource.h"
#include "util/globals.h"
#include "util/guards.h"

namespace {

// n bytes: `unit` repeated between head and tail, the last byte a zero.
std::string Filled(const std::string &head, const std::string &unit, const std::string &tail, size_t n)
{
    std::string s = head;
    while (s.size() + unit.size() + tail.size() < n)
        s += unit;
    s += tail;
    s.resize(n, ' ');
    s.back() = '\0';
    return s;
}

// The tests' formatted text (harness.h), each format repeated to n bytes.
std::vector<ClipFormat> FormattedCopy(size_t n)
{
    std::vector<ClipFormat> formats = FormattedText();
    for (ClipFormat &f : formats)
        f.data = Filled("", f.data.c_str(), "", n);
    return formats;
}

bool OnlyText()
{
    return !GetOpenClipboardWindow() && IsClipboardFormatAvailable(CF_TEXT) &&
           !IsClipboardFormatAvailable(RegisterClipboardFormatA("Rich Text Format")) &&
           !IsClipboardFormatAvailable(RegisterClipboardFormatA("HTML Format"));
}

// Checks after every clipboard change that a listener window is told of,
// and every 20 ms: the main window reads the clipboard again after its own
// change, and a check made then finds it open with no change left to come.
bool WaitForOnlyText(DWORD ms)
{
    DWORD start = GetTickCount();
    while (!OnlyText()) {
        DWORD spent = GetTickCount() - start;
        if (spent >= ms)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(20, ms - spent), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    return true;
}

// Child processes report their time in microseconds as their exit code.
int Micros(double seconds)
{
    return int(seconds * 1e6);
}

// The copies take milliseconds: many runs.
double BestChild(const char *mode)
{
    double best = -1;
    for (int i = 0; i < 2 * RUNS; i++) {
        const int micros = RunChild(mode);
        WaitMainWindowIdle();
        if (micros >= 0 && (best < 0 || micros * 1e-6 < best))
            best = micros * 1e-6;
    }
    return best;
}

} // namespace

// argv: the size of each format (1 MB) and the number of copies (1), each
// left to be converted before the next; the time of the first.
int ChildCopyFormatted(int argc, char **argv)
{
    const std::vector<ClipFormat> formats = FormattedCopy(argc > 0 ? strtoul(argv[0], nullptr, 10) : MB);
    const int copies = argc > 1 ? atoi(argv[1]) : 1;
    HWND listener = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    AddClipboardFormatListener(listener);
    double first = 0;
    for (int i = 0; i < copies; i++) {
        const double start = Seconds();
        if (!SetClipboardFormats(formats) || !WaitForOnlyText(10000))
            return -1;
        if (i == 0)
            first = Seconds() - start;
    }
    return Micros(first);
}

int ChildCopyTwice(int, char **)
{
    const std::vector<ClipFormat> formats = FormattedCopy(MB);
    const double start = Seconds();
    if (!SetClipboardFormats(formats) || !SetClipboardFormats(formats))
        return -1;
    return Micros(Seconds() - start);
}

int BenchConvert(int, char **)
{
    const double copyTwice = BestChild("--copy-twice");
    ResetProgramState();
    gvGlobals.AutoConvert = 1;
    if (!StartMainWindow())
        return 1;
    const double converted = BestChild("--copy-formatted");
    StopMainWindow();
    Figure("convert", converted);
    Figure("convert.base", copyTwice);
    return 0;
}

int BenchUndo(int, char **)
{
    std::vector<ClipFormat> formats;
    for (int i = 0; i < UNDO_MAX; i++) {
        std::string data(4 * MB, '\0');
        for (size_t k = 0; k < data.size(); k++)
            data[k] = char(k * 7 + i);
        const std::string name = "Quillet bench " + std::to_string(i);
        formats.push_back({RegisterClipboardFormatA(name.c_str()), std::move(data)});
    }
    if (!StartMainWindow())
        return 1;
    // Put there without an owner window, the data is read back from the
    // wineserver, as another program's copy would be.
    SetClipboardFormats(formats);
    WaitMainWindowIdle();
    // Between runs: Undo has put all the formats back; then a new copy.
    const auto checkAndCopy = [&] {
        if (CountClipboardFormats() != UNDO_MAX)
            fprintf(stderr, "undo: %d formats back instead of %d\n", CountClipboardFormats(), UNDO_MAX);
        SetClipboardFormats(formats);
        WaitMainWindowIdle();
    };
    const double undo = Best(
        RUNS,
        [] {
            SendMessageA(MainWindow(), WM_COMMAND, IDM_REDUCE, 0);
            SendMessageA(MainWindow(), WM_COMMAND, IDM_UNDO, 0);
        },
        checkAndCopy);
    StopMainWindow();

    std::vector<std::unique_ptr<char[]>> copies(formats.size());
    const double copy = Best(
        RUNS,
        [&] {
            for (size_t i = 0; i < formats.size(); i++) {
                copies[i].reset(new char[formats[i].data.size()]);
                memcpy(copies[i].get(), formats[i].data.data(), formats[i].data.size());
            }
        },
        [&] {
            for (auto &c : copies)
                c.reset();
        });
    // What any program pays here for the same work: the formats read into
    // blocks of its own, then put back with plain clipboard calls.
    std::vector<HGLOBAL> blocks(formats.size());
    const double plain = Best(
        RUNS,
        [&] {
            ClipboardGuard clip(nullptr);
            for (size_t i = 0; i < formats.size(); i++) {
                const HANDLE handle = GetClipboardData(formats[i].format);
                GlobalLockGuard<const char> data(handle);
                const SIZE_T n = GlobalSize(handle);
                blocks[i] = GlobalAlloc(GMEM_MOVEABLE, n);
                GlobalLockGuard<char> block(blocks[i]);
                memcpy(block.get(), data.get(), n);
            }
            EmptyClipboard();
            for (size_t i = 0; i < formats.size(); i++)
                SetClipboardData(formats[i].format, blocks[i]);
        },
        checkAndCopy);
    Figure("undo", undo);
    Figure("undo.base", copy);
    Figure("undo.win32", plain);
    return 0;
}

// argv[0]: the file to dump, which xxd dumps too.
int BenchHexDump(int, char **argv)
{
    const UINT format = RegisterClipboardFormatA("Quillet bench data");
    if (!SetClipboardFormats({{format, ReadFileBytes(argv[0])}}))
        return 1;
    // The viewer's progress bar, which the dump advances.
    HWND viewer = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 400, 100, nullptr, nullptr, nullptr, nullptr);
    CreateWindowA(PROGRESS_CLASSA, "", WS_CHILD, 0, 0, 400, 20, viewer,
                  reinterpret_cast<HMENU>(IDC_VIEWPROGRESS), nullptr, nullptr);
    ClipboardGuard clip(viewer);
    HGLOBAL dump = INVALID_BLOCK;
    const double seconds = Best(
        3,
        [&] {
            dump = GetClipboardBlock(viewer, format, CASE_NONE, nullptr, {true, 0});
        },
        [&] {
            if (dump != INVALID_BLOCK)
                GlobalFree(dump);
        });
    Figure("hexdump.wine", seconds);
    DestroyWindow(viewer);
    return 0;
}
