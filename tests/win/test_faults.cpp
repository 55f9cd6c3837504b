// Faults from outside: a clipboard another program holds open, formats of
// every size and number, memory that runs out, a service that breaks off,
// settings of the wrong type or size, and a second running program.
#include "mainwindow.h"
#include "boxwatch.h"
#include "fakeservice.h"
#include "testutil.h"
#include "clipboard/reduce.h"
#include "clippings/store.h"
#include "cloud/sync.h"
#include "net/http.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include "util/guards.h"
#include <cstring>
#include <algorithm>
#include <functional>
#include <thread>

namespace {

UINT Registered(const std::string &name)
{
    return RegisterClipboardFormatA(name.c_str());
}

const UINT RTF = Registered("Rich Text Format");

bool OnClipboard(UINT format)
{
    std::vector<UINT> formats = ClipboardFormats();
    return std::find(formats.begin(), formats.end(), format) != formats.end();
}

std::vector<ClipFormat> FormattedText()
{
    return {{CF_TEXT, std::string("Hello World", 12)},
            {RTF, std::string("{\\rtf1 Hello {\\b World}}", 25)},
            {Registered("HTML Format"), std::string("<b>Hello</b> World", 19)}};
}

// Another program (a child of this test) holding the clipboard open.
class ClipboardHolder {
public:
    ClipboardHolder()
        : m_held(CreateEventA(nullptr, TRUE, FALSE, "QuilletTestHeld")),
          m_release(CreateEventA(nullptr, TRUE, FALSE, "QuilletTestRelease")),
          m_child([] { RunChild("--child-hold-clipboard"); })
    {
    }
    ~ClipboardHolder()
    {
        SetEvent(m_release);
        m_child.join();
        CloseHandle(m_held);
        CloseHandle(m_release);
    }
    bool Holding() const { return WaitForSingleObject(m_held, 10000) == WAIT_OBJECT_0; }

private:
    HANDLE m_held, m_release;
    std::thread m_child;
};

// The slot of this program's import of a kernel32 function.
void **ImportSlot(const char *name)
{
    auto *base = reinterpret_cast<BYTE *>(GetModuleHandleA(nullptr));
    auto *nt =
        reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto *dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports); dll->Name; dll++) {
        if (_stricmp(reinterpret_cast<char *>(base + dll->Name), "kernel32.dll") != 0)
            continue;
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + dll->OriginalFirstThunk);
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + dll->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++)
            if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
                strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData)->Name,
                       name) == 0)
                return reinterpret_cast<void **>(&slots->u1.Function);
    }
    return nullptr;
}

// While it lives, this program's calls of a kernel32 function go to a
// replacement: Wine neither runs out of memory nor fails a lock on demand.
class ImportPatch {
public:
    ImportPatch(const char *name, void *replacement) : m_slot(ImportSlot(name)), m_real(Swap(replacement)) {}
    ~ImportPatch() { Swap(m_real); }
    bool ok() const { return m_real != nullptr; }

private:
    void *Swap(void *fn)
    {
        DWORD old;
        if (!m_slot || !VirtualProtect(m_slot, sizeof *m_slot, PAGE_READWRITE, &old))
            return nullptr;
        return InterlockedExchangePointer(m_slot, fn);
    }
    void **m_slot;
    void *m_real;
};

template <typename Fn> Fn Kernel32(Fn, const char *name)
{
    return reinterpret_cast<Fn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

// No block of 16 MiB or more can be had.
HGLOBAL WINAPI AllocBelow16MiB(UINT flags, SIZE_T size)
{
    return size < (16 << 20) ? Kernel32(&GlobalAlloc, "GlobalAlloc")(flags, size) : nullptr;
}

// Blocks of 4321 bytes cannot be locked.
LPVOID WINAPI LockAllBut4321(HGLOBAL block)
{
    return GlobalSize(block) != 4321 ? Kernel32(&GlobalLock, "GlobalLock")(block) : nullptr;
}

} // namespace

// Every command meets the held clipboard, gives up at once and leaves the
// clipboard and the snapshot as they were.
TEST_F(MainWindowTest, AClipboardHeldByAnotherProgramStaysAsItWas)
{
    SeedClipping('A', "Kept", L"kept");
    ASSERT_TRUE(SetClipboardFormats(FormattedText()));
    Settle();
    Command(IDM_REDUCE);
    const std::vector<UINT> reduced = ClipboardFormats();
    const int snapshot = m_UndoCount;
    ASSERT_GT(snapshot, 0);
    LRESULT viewerFormats = -1;
    const std::function<void()> commands[] = {
        [this] { Command(IDM_REDUCE); },
        [this] { Command(IDM_UPPER); },
        [this] { Command(IDM_LOWER); },
        [this] { Command(IDM_EMPTY); },
        [this] { Command(IDM_UNDO); },
        [this] {
            MenuState(IDM_CLIPFIRST); // fills the clippings submenu
            Command(IDM_CLIPFIRST);
        },
        [this] {
            gvGlobals.AutoConvert = 1;
            SendMessageA(Main(), WM_DRAWCLIPBOARD, 0, 0);
            gvGlobals.AutoConvert = 0;
        },
        [this, &viewerFormats] {
            ExpectBox("Clipboard Viewer", [&viewerFormats](HWND dlg) {
                viewerFormats = SendDlgItemMessageA(dlg, IDC_VIEWFORMATS, CB_GETCOUNT, 0, 0);
                PostMessageA(dlg, WM_COMMAND, IDOK, 0);
            });
            Command(IDM_VIEW);
        },
    };
    {
        ClipboardHolder holder;
        ASSERT_TRUE(holder.Holding());
        for (size_t i = 0; i < std::size(commands); i++) {
            DWORD start = GetTickCount();
            commands[i]();
            EXPECT_LT(GetTickCount() - start, 2000u) << "command " << i;
        }
    }
    EXPECT_EQ(0, viewerFormats);
    EXPECT_EQ(reduced, ClipboardFormats());
    EXPECT_EQ("Hello World", std::string(ClipboardData(CF_TEXT).c_str()));
    EXPECT_EQ(snapshot, m_UndoCount);
    Command(IDM_UNDO);
    EXPECT_TRUE(OnClipboard(RTF));
}

// Reduce and Undo give back the first 24 formats byte for byte, hundreds of
// megabytes included; a format of 0 bytes has nothing to keep.
TEST_F(MainWindowTest, FormatsOfEverySizeAndNumberComeBackWhole)
{
    std::string big(200 << 20, 'b');
    big.front() = big.back() = 'e';
    std::vector<ClipFormat> formats = {{CF_TEXT, std::string("Hello", 6)},
                                       {Registered("Quillet big"), std::move(big)},
                                       {Registered("Quillet empty"), ""}};
    for (int i = 0; i < 30; i++)
        formats.push_back(
            {Registered("Quillet " + std::to_string(i)), std::string(i + 1, char('a' + i % 26))});
    ASSERT_TRUE(SetClipboardFormats(formats));
    formats[2].data = ClipboardData(formats[2].format); // Wine hands out one zero byte
    Command(IDM_REDUCE);
    EXPECT_EQ("Hello", std::string(ClipboardData(CF_TEXT).c_str()));
    EXPECT_FALSE(OnClipboard(formats[1].format));
    Command(IDM_UNDO);
    int kept = 0;
    for (const ClipFormat &f : formats) {
        const bool back = !f.data.empty() && kept++ < UNDO_MAX;
        const std::string data = ClipboardData(f.format);
        EXPECT_EQ(back ? f.data.size() : 0u, data.size()) << f.format;
        EXPECT_TRUE(!back || data == f.data) << f.format;
    }
}

// A copy that cannot be allocated (string 1210) or locked (string 1240) is
// told, and the reduction leaves the clipboard as it was.
TEST_F(MainWindowTest, MemoryThatRunsOutIsToldAndChangesNothing)
{
    std::vector<ClipFormat> formats = FormattedText();
    formats.push_back({Registered("Quillet large"), std::string(16 << 20, 'x')});
    formats.push_back({Registered("Quillet odd"), std::string(4321, 'y')});
    ASSERT_TRUE(SetClipboardFormats(formats));
    Settle();
    std::string message;
    {
        ImportPatch patch("GlobalAlloc", reinterpret_cast<void *>(AllocBelow16MiB));
        ASSERT_TRUE(patch.ok());
        ExpectBox("Quillet", NoteText(&message));
        Command(IDM_REDUCE); // the large format's copy needs 16 MiB
    }
    EXPECT_EQ(LoadedString(IDS_ALLOCFAILED), message);
    EXPECT_TRUE(OnClipboard(RTF));
    {
        ImportPatch patch("GlobalLock", reinterpret_cast<void *>(LockAllBut4321));
        ASSERT_TRUE(patch.ok());
        ExpectBox("Quillet", NoteText(&message));
        Command(IDM_REDUCE);
    }
    EXPECT_EQ(LoadedString(IDS_LOCKFAILED), message);
    EXPECT_TRUE(OnClipboard(RTF));
    EXPECT_EQ(0, m_UndoCount);
    Command(IDM_REDUCE);
    EXPECT_FALSE(OnClipboard(RTF));
}

// Whatever way the service breaks off, the run ends, every local clipping
// keeps its text, no half-read list passes for a whole one, and the next run
// against a sound service works.
TEST(Faults, ABrokenServiceLeavesTheLocalClippings)
{
    const struct {
        const char *act;
        Fault fault;
        std::vector<const char *> boxes;
    } cases[] = {
        {"setdata", Fault::Killed, {"Quillet", "Synchronize Clippings"}},
        {"list", Fault::Reset, {"Synchronize Clippings"}},
        {"getdata", Fault::Reset, {"Synchronize Clippings"}},
        {"list", Fault::Garbage, {"Synchronize Clippings"}},
        {"check", Fault::Garbage, {"Synchronize Clippings"}},
        {"getdata", Fault::Garbage, {"Synchronize Clippings"}},
        {"knock", Fault::Silent, {"Error"}},
        {"getdata", Fault::Silent, {"Synchronize Clippings"}},
    };
    m_HttpTimeoutMs = 500;
    for (const auto &c : cases) {
        const std::string name = std::string(c.act) + " " + std::to_string(int(c.fault));
        ResetProgramState();
        SeedClipping('A', "Mine", L"mine\r\n$1");
        SeedClipping('B', "Both", L"old");
        WriteSettingsInt(nullptr, "ClipCount", 2);
        FakeService service;
        const int32_t user = service.SignIn();
        service.AddClip(user, 5, "Both", "2018-03-01 00:00:00", 'A', "new");
        service.Break(c.act, c.fault);
        for (const char *caption : c.boxes)
            ExpectBox(caption, ClickButton(IDOK));
        DWORD start = GetTickCount();
        SyncClips(nullptr);
        EXPECT_LT(GetTickCount() - start, 10000u) << name;
        EXPECT_EQ(0, TakePendingBoxes()) << name;
        EXPECT_EQ(L"mine\r\n$1", StoredWideSetting("Clip A", "UTF")) << name;
        EXPECT_EQ(L"old", StoredWideSetting("Clip B", "UTF")) << name;
        EXPECT_TRUE(strcmp(c.act, "list") != 0 || service.Clips(user).size() == 1) << name;
    }
    m_HttpTimeoutMs = 30000;
    FakeService service;
    const int32_t user = service.SignIn();
    ExpectBox("Synchronize Clippings", ClickButton(IDOK));
    EXPECT_EQ(1, SyncClips(nullptr));
    EXPECT_EQ(2u, service.Clips(user).size());
}

namespace {

// quillet.exe started as a process of its own, ended with the object.
class Quillet {
public:
    Quillet()
    {
        std::string cmd = "\"" + BesideTestProgram("quillet.exe") + "\"";
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &m_pi);
    }
    ~Quillet()
    {
        if (!m_pi.hProcess)
            return;
        TerminateProcess(m_pi.hProcess, 1);
        WaitForSingleObject(m_pi.hProcess, 5000);
        CloseHandle(m_pi.hThread);
        CloseHandle(m_pi.hProcess);
    }
    Quillet(const Quillet &) = delete;
    Quillet &operator=(const Quillet &) = delete;
    // Its main window once shown, or null after 15 s.
    HWND Window()
    {
        WaitFor([this] { return EnumWindows(Find, reinterpret_cast<LPARAM>(this)) && m_window; }, 15000);
        return m_window;
    }
    // The window handles a message within a second.
    bool Answers() const
    {
        DWORD_PTR result;
        return m_window && SendMessageTimeoutA(m_window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result);
    }

private:
    static BOOL CALLBACK Find(HWND hwnd, LPARAM self)
    {
        auto *program = reinterpret_cast<Quillet *>(self);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid == program->m_pi.dwProcessId && WindowText(hwnd) == "Quillet 6.0.200")
            program->m_window = hwnd;
        return TRUE;
    }
    PROCESS_INFORMATION m_pi = {};
    HWND m_window = nullptr;
};

void StoreRaw(const char *section, const char *name, DWORD type, const std::string &data)
{
    const std::string path = std::string(SETTINGS_ROOT) + (section ? std::string("\\") + section : "");
    RegKey key;
    RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                    nullptr);
    if (name)
        RegSetValueExA(key.get(), name, 0, type, reinterpret_cast<const BYTE *>(data.data()),
                       (DWORD)data.size());
}

} // namespace

// Each of the program's settings stored with a wrong type, too large for
// its reader, or missing with its section: the program starts, the defaults
// hold, the store still takes a clipping and a synchronisation asks for the
// account.
TEST(Faults, SettingsOfTheWrongTypeOrSizeOrMissing)
{
    const char *const numbers[] = {"StartToTray", "AutoConvert", "KeepUnicode", "HideSplash", "NoVerCheck",
                                   "QuickExit",   "ClipCount",   "DCActLC",     "DCActCC"};
    const std::pair<const char *, const char *> texts[] = {
        {nullptr, "DisplayNullAs"}, {nullptr, "LastSync"},   {nullptr, "AccountName"},
        {nullptr, "AccountKey"},    {nullptr, "ServerHost"}, {"Clip A", "Name"},
        {"Clip A", "UTF"},          {"Clip A", "RTF"},       {"Clip A", "HTML"},
        {"Clip A", "LastUpdate"}};
    const std::string huge(100000, 'x');
    enum { WRONG_TYPE, OVERSIZED, MISSING };
    for (int kind : {WRONG_TYPE, OVERSIZED, MISSING}) {
        ResetProgramState();
        for (const char *name : numbers)
            if (kind != MISSING)
                StoreRaw(nullptr, name, kind == WRONG_TYPE ? REG_SZ : REG_DWORD,
                         kind == WRONG_TYPE ? std::string("1", 2) : std::string("\1\0\0\0\1\0\0\0", 8));
        for (const auto &text : texts)
            if (kind != MISSING)
                StoreRaw(text.first, text.second, kind == WRONG_TYPE ? REG_DWORD : REG_SZ,
                         kind == WRONG_TYPE ? std::string("\1\0\0\0", 4) : huge + '\0');
        if (kind == MISSING) {
            StoreRaw("Clip A", nullptr, 0, "");
            WriteSettingsInt(nullptr, "ClipCount", 2);
        }
        for (const char *name : numbers)
            EXPECT_EQ(kind == MISSING && !strcmp(name, "ClipCount") ? 2u : 7u,
                      GetSettingsInt(nullptr, name, 7))
                << name << " " << kind;
        ClippingEntry table[MAX_CLIPPINGS];
        uint32_t order[MAX_CLIPPINGS];
        EXPECT_EQ(0u, LoadClippingNames(table, MAX_CLIPPINGS, order)) << kind;
        {
            ClipboardGuard clip(nullptr);
            EXPECT_EQ(kind == OVERSIZED ? 3u : 0u, RecallClipping(nullptr, 0)) << kind;
        }
        const std::string text = ClipboardData(CF_UNICODETEXT);
        EXPECT_EQ(kind == OVERSIZED ? huge.size() : 0u,
                  wcsnlen((const wchar_t *)text.data(), text.size() / 2));
        EXPECT_TRUE(MayStoreClipping()) << kind;
        StoreClipping("New", FALSE, L"new", nullptr, nullptr);
        ASSERT_EQ(1u, LoadClippingNames(table, MAX_CLIPPINGS, order)) << kind;
        EXPECT_STREQ("New", table[order[0]].name);
        ExpectBox("Cloud Account", ClickButton(IDCANCEL)); // no account to be read
        EXPECT_EQ(0, SyncClips(nullptr));
        if (kind == WRONG_TYPE) {
            // Started with the defaults: splash, update check, no conversion.
            Quillet quillet;
            ASSERT_NE(nullptr, quillet.Window());
            EXPECT_TRUE(quillet.Answers());
            ASSERT_TRUE(SetClipboardFormats(FormattedText()));
            Settle(1000);
            EXPECT_TRUE(OnClipboard(RTF));
        }
    }
}

// Two programs that convert every copy: each conversion is a change that
// the other is told of, and neither may answer it with one of its own.
TEST(Faults, TwoProgramsConvertingAtOnceDoNotLoop)
{
    WriteSettingsInt(nullptr, "AutoConvert", 1);
    WriteSettingsInt(nullptr, "HideSplash", 1);
    WriteSettingsInt(nullptr, "NoVerCheck", 1);
    Quillet first, second;
    ASSERT_TRUE(first.Window() && second.Window());
    for (int copy = 0; copy < 2; copy++) {
        ASSERT_TRUE(SetClipboardFormats(FormattedText()));
        EXPECT_TRUE(WaitFor([] { return !OnClipboard(RTF); }));
        Settle(1000);
        const DWORD changes = GetClipboardSequenceNumber();
        Settle(1500);
        EXPECT_EQ(changes, GetClipboardSequenceNumber()) << copy;
        EXPECT_EQ("Hello World", std::string(ClipboardData(CF_TEXT).c_str()));
        EXPECT_TRUE(first.Answers() && second.Answers()) << copy;
    }
}
