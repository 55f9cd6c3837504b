// Faults from outside: a clipboard another program holds open, formats of
// every size and number, memory that runs out, a service that breaks off,
// settings of the wrong type or size, and a second running program.
#include "mainwindow.h"
#include "boxwatch.h"
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

static UINT Registered(const std::string &name)
{
    return RegisterClipboardFormatA(name.c_str());
}

// Every command meets a clipboard another program (a child of this test)
// holds open, gives up at once and leaves the clipboard and the snapshot as
// they were.
TEST_F(MainWindowTest, AClipboardHeldByAnotherProgramStaysAsItWas)
{
    SeedClipping('A', "Kept", L"kept");
    ASSERT_TRUE(SetClipboardFormats(FormattedText())) << GetLastError();
    Settle();
    Command(IDM_REDUCE);
    const std::vector<UINT> reduced = ClipboardFormats();
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, "QuilletTestHeld");
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, "QuilletTestRelease");
    PROCESS_INFORMATION child = Launch("", "--child-hold-clipboard");
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held, 10000)) << GetLastError();
    MenuState(IDM_CLIPFIRST); // fills the clippings submenu
    for (UINT id : {IDM_REDUCE, IDM_UPPER, IDM_LOWER, IDM_EMPTY, IDM_UNDO, IDM_CLIPFIRST})
        Command(id);
    gvGlobals.AutoConvert = 1;
    SendMessageA(Main(), WM_CLIPBOARDUPDATE, 0, 0);
    gvGlobals.AutoConvert = 0;
    ExpectBox("Clipboard Viewer", [](HWND dlg) {
        EXPECT_EQ(0, SendDlgItemMessageA(dlg, IDC_VIEWFORMATS, CB_GETCOUNT, 0, 0));
        PostMessageA(dlg, WM_COMMAND, IDOK, 0);
    });
    Command(IDM_VIEW);
    EXPECT_EQ(0, TakePendingBoxes());
    SetEvent(release);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.hProcess, 10000));
    for (HANDLE h : {held, release, child.hProcess, child.hThread})
        CloseHandle(h);
    EXPECT_EQ(reduced, ClipboardFormats());
    EXPECT_EQ("Hello World", std::string(ClipboardData(CF_TEXT).c_str()));
    Command(IDM_UNDO); // the snapshot of the first Reduce
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
    ASSERT_TRUE(SetClipboardFormats(formats)) << GetLastError();
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
    ASSERT_TRUE(SetClipboardFormats(formats)) << GetLastError();
    Settle();
    // The large format's copy needs 16 MiB; the odd one's block is 4321 bytes.
    const struct {
        const char *name;
        void *fault;
        UINT said;
    } faults[] = {{"GlobalAlloc", reinterpret_cast<void *>(AllocBelow16MiB), IDS_ALLOCFAILED},
                  {"GlobalLock", reinterpret_cast<void *>(LockAllBut4321), IDS_LOCKFAILED}};
    for (const auto &f : faults) {
        std::string message;
        {
            ImportPatch patch("kernel32.dll", f.name, f.fault);
            ASSERT_TRUE(patch.ok()) << GetLastError();
            ExpectBox("Quillet", NoteText(&message));
            Command(IDM_REDUCE);
        }
        EXPECT_EQ(LoadedString(f.said), message);
    }
    Command(IDM_UNDO); // no snapshot was kept: nothing to put back
    EXPECT_TRUE(OnClipboard(RTF) && OnClipboard(formats[3].format));
    Command(IDM_REDUCE);
    EXPECT_FALSE(OnClipboard(RTF));
}

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
            ASSERT_TRUE(SetClipboardFormats(FormattedText())) << GetLastError();
            Settle(1000);
            EXPECT_TRUE(OnClipboard(RTF));
        }
    }
}

// Two programs that convert every copy, one started to the tray: each
// conversion is a change that the other is told of, and neither may answer
// it with one of its own. Exit from the tray leaves no process.
TEST(Faults, TwoProgramsConvertingAtOnceDoNotLoop)
{
    SetQuietStartWithAutoConvert();
    WriteSettingsInt(nullptr, "StartToTray", 1);
    QuilletProcess first;
    ASSERT_NE(nullptr, first.Window()) << GetLastError();
    EXPECT_FALSE(IsWindowVisible(first.Window()));
    WriteSettingsInt(nullptr, "StartToTray", 0);
    QuilletProcess second;
    ASSERT_NE(nullptr, second.Window()) << GetLastError();
    for (int copy = 0; copy < 2; copy++) {
        ASSERT_EQ(0, RunChild("--child-copy-formatted"));
        EXPECT_TRUE(WaitFor([] { return !OnClipboard(RTF); }));
        Settle(1000);
        const DWORD changes = GetClipboardSequenceNumber();
        Settle(1500);
        EXPECT_EQ(changes, GetClipboardSequenceNumber()) << copy;
        EXPECT_EQ("Hello World", std::string(ClipboardData(CF_TEXT).c_str()));
        EXPECT_TRUE(first.Answers() && second.Answers()) << copy;
    }
    PostMessageA(first.Window(), WM_COMMAND, IDM_EXIT, 0); // hidden: ends without asking
    EXPECT_TRUE(first.Ended(10000));
}
