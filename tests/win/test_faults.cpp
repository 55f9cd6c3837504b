// Faults from outside: a clipboard another program holds open, formats of
// every size and number, memory that runs out, a service that breaks off,
// settings of the wrong type or size, and a second running program.
#include "mainwindow.h"
#include "boxwatch.h"
#include "fakeservice.h"
#include "importpatch.h"
#include "quilletprocess.h"
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
            SendMessageA(Main(), WM_CLIPBOARDUPDATE, 0, 0);
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
        ImportPatch patch("kernel32.dll", "GlobalAlloc", reinterpret_cast<void *>(AllocBelow16MiB));
        ASSERT_TRUE(patch.ok());
        ExpectBox("Quillet", NoteText(&message));
        Command(IDM_REDUCE); // the large format's copy needs 16 MiB
    }
    EXPECT_EQ(LoadedString(IDS_ALLOCFAILED), message);
    EXPECT_TRUE(OnClipboard(RTF));
    {
        ImportPatch patch("kernel32.dll", "GlobalLock", reinterpret_cast<void *>(LockAllBut4321));
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
        {"setdata", Fault::Killed, {"Synchronize Clippings"}},
        {"list", Fault::Reset, {"Synchronize Clippings"}},
        {"getdata", Fault::Reset, {"Synchronize Clippings"}},
        {"list", Fault::Garbage, {"Synchronize Clippings"}},
        {"check", Fault::Garbage, {"Synchronize Clippings"}},
        {"getdata", Fault::Garbage, {"Synchronize Clippings"}},
        {"knock", Fault::Silent, {"Synchronize Clippings"}},
        {"getdata", Fault::Silent, {"Synchronize Clippings"}},
    };
    SetHttpTimeout(500);
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
    SetHttpTimeout(30000);
    FakeService service;
    const int32_t user = service.SignIn();
    ExpectBox("Synchronize Clippings", ClickButton(IDOK));
    EXPECT_EQ(1, SyncClips(nullptr));
    EXPECT_EQ(2u, service.Clips(user).size());
}

namespace {

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
            StoredClipping clipping;
            ClipboardGuard clip(nullptr);
            EXPECT_TRUE(ReadClipping(0, &clipping));
            EXPECT_EQ(kind == OVERSIZED ? 3u : 0u, RecallClipping(clipping)) << kind;
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
            QuilletProcess quillet;
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
    QuilletProcess first, second;
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
