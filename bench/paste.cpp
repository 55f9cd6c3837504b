// The paste key, pressed in another program as a user does, against
// quillet.exe running as a process of its own: from the key to the plain
// text in that program, and to the formatted copy given back whole; against
// Ctrl+V of the same plain text into the same program.
#include "bench.h"
#include <cstdio>
#include <map>
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/guards.h"

namespace {

using Contents = std::map<UINT, std::string>;

// The default paste key is these with V.
const UINT PASTE_KEY = MOD_CONTROL | MOD_ALT | MOD_SHIFT;
const wchar_t PASTED[] = L"Hello World";
// The program gives an unread paste back after 2 s.
const double LIMIT = 3;
// The program's main window reads every new copy.
const DWORD SETTLE_MS = 300;

struct Times {
    double text = -1;
    double restored = -1;
};

// Every format on the clipboard with its bytes.
Contents ClipboardContents()
{
    Contents contents;
    ClipboardGuard clip(nullptr);
    for (UINT format = clip.ok() ? EnumClipboardFormats(0) : 0; format;
         format = EnumClipboardFormats(format)) {
        const HANDLE handle = GetClipboardData(format);
        GlobalLockGuard<const char> data(handle);
        contents[format] = data.get() ? std::string(data.get(), GlobalSize(handle)) : std::string();
    }
    return contents;
}

// Whether the clipboard changed since `lent` and holds every format of
// `copy` again, closed. Asked without opening it, which would keep the
// program waiting.
bool GivenBack(const Contents &copy, DWORD lent)
{
    if (GetClipboardSequenceNumber() == lent || GetOpenClipboardWindow())
        return false;
    for (const auto &format : copy)
        if (!IsClipboardFormatAvailable(format.first))
            return false;
    return true;
}

// Seconds from `start` until `done` holds, polled every millisecond; -1
// when it has not after LIMIT.
double Until(double start, const std::function<bool()> &done)
{
    while (!done()) {
        if (Seconds() - start > LIMIT)
            return -1;
        Sleep(1);
    }
    return Seconds() - start;
}

// Empties the target and puts `copy` on the clipboard; what the clipboard
// then holds.
Contents Prepare(PasteTarget &target, const std::vector<ClipFormat> &copy)
{
    SendMessageW(FindWindowExA(target.Window(), nullptr, "Edit", nullptr), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(L""));
    if (!SetClipboardFormats(copy))
        return {};
    Sleep(SETTLE_MS);
    return ClipboardContents();
}

// Seconds from Ctrl+V to the text in the target; -1, with a note, when it
// did not arrive.
double PlainPaste(PasteTarget &target, const std::vector<ClipFormat> &text)
{
    Prepare(target, text);
    const double start = Seconds();
    PressKey(MOD_CONTROL, 'V');
    const double seconds = Until(start, [&] { return target.Text() == PASTED; });
    if (seconds < 0)
        fprintf(stderr, "paste: Ctrl+V pasted nothing\n");
    return seconds;
}

// The copy comes back a moment after the text was read, so the text comes
// first. A press that pastes nothing still lends the copy, given back after
// the program's limit: such a run counts for neither figure.
Times PasteWithKey(PasteTarget &target, const std::vector<ClipFormat> &copy)
{
    const Contents before = Prepare(target, copy);
    const DWORD put = GetClipboardSequenceNumber();
    if (before.empty())
        return {};
    const double start = Seconds();
    PressKey(PASTE_KEY, 'V');
    Times times;
    times.text = Until(start, [&] { return target.Text() == PASTED; });
    times.restored = Until(start, [&] { return GivenBack(before, put); });
    if (times.text < 0) {
        fprintf(stderr, "paste: the paste key pasted nothing\n");
        return {};
    }
    if (times.restored < 0 || ClipboardContents() != before) {
        fprintf(stderr, "paste: the copy did not come back whole\n");
        times.restored = -1;
    }
    return times;
}

// The least of the times measured, -1 when none was.
double Least(double best, double seconds)
{
    return seconds >= 0 && (best < 0 || seconds < best) ? seconds : best;
}

// Whether a program other than this one holds the paste key.
bool PasteKeyHeld()
{
    if (!RegisterHotKey(nullptr, 1, PASTE_KEY, 'V'))
        return true;
    UnregisterHotKey(nullptr, 1);
    return false;
}

// False when the target did not come in front.
bool Measure()
{
    PasteTarget target(true);
    if (!target.Window())
        return false;
    const std::vector<ClipFormat> copy = FormattedText();
    const std::vector<ClipFormat> text = {copy.front()}; // its CF_TEXT alone
    double plain = -1;
    Times best;
    // Alternating, so that both see the same load.
    for (int i = 0; i < RUNS; i++) {
        plain = Least(plain, PlainPaste(target, text));
        const Times times = PasteWithKey(target, copy);
        best.text = Least(best.text, times.text);
        best.restored = Least(best.restored, times.restored);
    }
    Figure("paste.text", best.text);
    Figure("paste.restored", best.restored);
    Figure("paste.base", plain);
    return true;
}

void Quit(const PROCESS_INFORMATION &quillet, HWND window)
{
    if (!quillet.hProcess)
        return;
    PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    if (WaitForSingleObject(quillet.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(quillet.hProcess, 1);
    CloseHandle(quillet.hThread);
    CloseHandle(quillet.hProcess);
}

} // namespace

// argv[0]: the program (quillet.exe), started once with the default paste
// key and without automatic conversion, which would change the copy itself.
int BenchPaste(int, char **argv)
{
    WriteSettingsInt(nullptr, "HideSplash", 1);
    WriteSettingsInt(nullptr, "NoVerCheck", 1);
    WriteSettingsInt(nullptr, "AutoConvert", 0);
    WriteSettingsInt(nullptr, "QuickExit", IDC_QUIT_EXIT);
    const PROCESS_INFORMATION quillet = Launch(argv[0]);
    // It shows its window after taking the paste key.
    const HWND window = quillet.hProcess ? ShownWindow(quillet.dwProcessId, 20000) : nullptr;
    const bool measured = window && PasteKeyHeld() && Measure();
    if (!measured)
        fprintf(stderr, "paste: quillet.exe took no paste key, or the target did not come in front\n");
    Quit(quillet, window);
    return measured ? 0 : 1;
}
