// The main window, its commands, reduction and undo, through the real
// window, the real clipboard and the real registry.
#include "mainwindow.h"
#include "boxwatch.h"
#include "testutil.h"
#include "clipboard/reduce.h"
#include "app/main.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include <algorithm>
#include <functional>

namespace {

UINT Registered(const char *name)
{
    return RegisterClipboardFormatA(name);
}

const UINT RTF = Registered("Rich Text Format"), HTML = Registered("HTML Format");

bool Has(const std::vector<UINT> &formats, UINT f)
{
    return std::find(formats.begin(), formats.end(), f) != formats.end();
}

bool OnClipboard(UINT f)
{
    return Has(ClipboardFormats(), f);
}

std::vector<UINT> UndoFormats()
{
    std::vector<UINT> formats;
    for (int i = 0; i < m_UndoCount; i++)
        formats.push_back(m_Undo[i].format);
    return formats;
}

std::string Text()
{
    return ClipboardData(CF_TEXT).c_str();
}

std::vector<ClipFormat> FormattedText()
{
    return {{CF_TEXT, std::string("Hello World", 12)},
            {RTF, std::string("{\\rtf1 Hello {\\b World}}", 25)},
            {HTML, std::string("<b>Hello</b> World", 19)}};
}

bool Grayed(HMENU menu, UINT id)
{
    return GetMenuState(menu, id, MF_BYCOMMAND) & MF_GRAYED;
}

} // namespace

// Reduce from the menu, the system menu and the tray icon, the case
// conversions and Empty: one undo gives back the state before the first.
TEST_F(MainWindowTest, EveryChangeUndoesToTheStateBefore)
{
    Command(IDM_TRAYICON, WM_LBUTTONDBLCLK); // empty clipboard: nothing to do
    EXPECT_TRUE(ClipboardFormats().empty());
    const struct {
        std::function<void()> change;
        const char *text;
    } cases[] = {
        {[this] { Command(IDM_REDUCE); }, "Hello World"},
        {[this] { SendMessageA(Main(), WM_SYSCOMMAND, IDM_REDUCE, 0); }, "Hello World"},
        {[this] { Command(IDM_TRAYICON, WM_LBUTTONDBLCLK); }, "Hello World"},
        {[this] {
             Command(IDM_UPPER);
             Command(IDM_LOWER);
         },
         "hello world"},
        {[this] { Command(IDM_EMPTY); }, ""},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(SetClipboardFormats(FormattedText()));
        Settle();
        c.change();
        EXPECT_EQ(c.text, Text());
        EXPECT_FALSE(OnClipboard(RTF) || OnClipboard(HTML)) << c.text;
        EXPECT_TRUE(*c.text || ClipboardFormats().empty());
        Command(IDM_UNDO);
        EXPECT_EQ("Hello World", Text());
        EXPECT_EQ(0u, ClipboardData(HTML).find("<b>Hello</b> World"));
        EXPECT_EQ(0, m_UndoCount);
    }
    // A second undo has nothing to restore and leaves the clipboard alone.
    Command(IDM_EMPTY);
    EXPECT_TRUE(WaitFor([this] { return ListedFormats().empty(); }));
    Command(IDM_UNDO);
    Command(IDM_UNDO);
    EXPECT_TRUE(OnClipboard(HTML));
    // A copy made after a change starts a new undo step of its own.
    Command(IDM_REDUCE);
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("newer", 6)}}));
    Command(IDM_EMPTY);
    Command(IDM_UNDO);
    EXPECT_EQ("newer", Text());
}

// The snapshot holds the formats set, not those the system derives, up to
// 24 of them, and metafile pictures that still refer to their metafile.
TEST_F(MainWindowTest, SnapshotAndKeepUnicode)
{
    HDC dc = CreateMetaFileA(nullptr);
    Rectangle(dc, 0, 0, 10, 10);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(METAFILEPICT));
    *(METAFILEPICT *)GlobalLock(block) = {MM_ANISOTROPIC, 100, 100, CloseMetaFile(dc)};
    GlobalUnlock(block);
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    SetClipboardData(CF_METAFILEPICT, block);
    CloseClipboard();
    Command(IDM_EMPTY);
    Command(IDM_UNDO);
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE h = GetClipboardData(CF_METAFILEPICT);
    auto *back = h ? (METAFILEPICT *)GlobalLock(h) : nullptr;
    ASSERT_NE(nullptr, back);
    EXPECT_GT(GetMetaFileBitsEx(back->hMF, 0, nullptr), 0u);
    EXPECT_EQ(100, back->xExt);
    GlobalUnlock(h);
    CloseClipboard();

    ASSERT_TRUE(SetClipboardFormats(FormattedText()));
    Settle();
    Command(IDM_REDUCE);
    EXPECT_TRUE(Has(UndoFormats(), RTF) && Has(UndoFormats(), HTML) && !Has(UndoFormats(), CF_OEMTEXT));

    std::vector<ClipFormat> formats;
    for (int i = 0; i < 30; i++)
        formats.push_back({Registered(("Quillet test " + std::to_string(i)).c_str()), "x"});
    ASSERT_TRUE(SetClipboardFormats(formats));
    Command(IDM_REDUCE); // no text: the clipboard stays as it was
    EXPECT_EQ(30u, ClipboardFormats().size());
    ASSERT_EQ(UNDO_MAX, m_UndoCount);
    for (int i = 0; i < UNDO_MAX; i++)
        EXPECT_EQ(formats[i].format, m_Undo[i].format);

    gvGlobals.KeepUnicode = 1;
    const wchar_t text[] = L"Gr\u00fc\u00dfe \u20ac";
    ASSERT_TRUE(SetClipboardFormats({{CF_UNICODETEXT, std::string((const char *)text, sizeof text)}, {RTF, "x"}}));
    Command(IDM_REDUCE);
    EXPECT_EQ(CF_UNICODETEXT, ClipboardFormats().at(0));
    EXPECT_FALSE(OnClipboard(RTF));
    EXPECT_EQ(0, wcscmp(text, (const wchar_t *)ClipboardData(CF_UNICODETEXT).data()));
}

// Which formats reduce and the list's order are RefreshList's; here, that
// the window refreshes on a change and its menu follows.
TEST_F(MainWindowTest, FormatListAndMenuFollowTheClipboard)
{
    EXPECT_TRUE(ListedFormats().empty());
    for (UINT id : {IDM_REDUCE, IDM_CONVERT, IDM_UNDO})
        EXPECT_TRUE(MenuState(id) & MF_GRAYED) << id;
    ASSERT_TRUE(SetClipboardFormats({{RTF, "{\\rtf1 x}"}, {CF_TEXT, "x"}}));
    ASSERT_TRUE(WaitFor([this] { return ListedFormats().size() == 5; }));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(Main(), IDC_REDUCE)));
    EXPECT_FALSE(MenuState(IDM_REDUCE) & MF_GRAYED);
    Command(IDM_REDUCE);
    EXPECT_FALSE(MenuState(IDM_UNDO) & MF_GRAYED);
    Command(IDM_UNDO);
    EXPECT_TRUE(MenuState(IDM_UNDO) & MF_GRAYED);
}

TEST_F(MainWindowTest, AutoConvertReducesEveryCopyAndSkipsPrivateContent)
{
    gvGlobals.AutoConvert = 1;
    ASSERT_EQ(0, RunChild("--child-copy-formatted"));
    ASSERT_TRUE(WaitFor([] { return !OnClipboard(RTF); }));
    EXPECT_EQ("Hello world", Text());
    EXPECT_TRUE(Has(UndoFormats(), RTF));

    // Undo with automatic conversion on does not convert its own result.
    Command(IDM_UNDO);
    Settle(600);
    EXPECT_TRUE(OnClipboard(RTF));

    // A copy marked as not to be recorded is left alone and never
    // snapshotted; a manual reduction still works and keeps the mark.
    for (const ClipFormat &mark : {ClipFormat{Registered("ExcludeClipboardContentFromMonitorProcessing"), "1"},
                                   ClipFormat{Registered("Clipboard Viewer Ignore"), "1"},
                                   ClipFormat{Registered("CanIncludeInClipboardHistory"), std::string(4, '\0')}}) {
        std::vector<ClipFormat> secret = FormattedText();
        secret.push_back(mark);
        ASSERT_TRUE(SetClipboardFormats(secret));
        Settle(600);
        EXPECT_TRUE(OnClipboard(RTF));
        EXPECT_FALSE(Has(UndoFormats(), CF_TEXT));
        Command(IDM_REDUCE);
        Settle(600);
        EXPECT_FALSE(OnClipboard(RTF));
        EXPECT_TRUE(OnClipboard(mark.format));
        EXPECT_EQ(0, m_UndoCount);
    }

    // History allowed explicitly (a non-zero DWORD) is ordinary content.
    std::vector<ClipFormat> allowed = FormattedText();
    allowed.push_back({Registered("CanIncludeInClipboardHistory"), std::string("\1\0\0\0", 4)});
    ASSERT_TRUE(SetClipboardFormats(allowed));
    EXPECT_TRUE(WaitFor([] { return !OnClipboard(RTF); }));
}

TEST_F(MainWindowTest, AcceleratorsWorkOnlyInTheForeground)
{
    ASSERT_TRUE(SetClipboardFormats(FormattedText()));
    SetForegroundWindow(Main());
    ASSERT_TRUE(WaitFor([this] { return GetForegroundWindow() == Main(); }));
    PostMessageA(Main(), WM_KEYDOWN, VK_F9, 1);
    EXPECT_TRUE(WaitFor([] { return !OnClipboard(HTML); }));

    ASSERT_TRUE(SetClipboardFormats(FormattedText()));
    HWND other = CreateWindowA("STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                               nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    ASSERT_TRUE(WaitFor([other] { return GetForegroundWindow() == other; }));
    PostMessageA(Main(), WM_KEYDOWN, VK_F9, 1);
    Settle(500);
    EXPECT_TRUE(OnClipboard(HTML));
    DestroyWindow(other);
}

// Cancel keeps everything; the default choice hides the window and the
// program goes on in the tray, as QuickExit 840 does without asking; "Exit"
// with "Don't ask me this again" ends it and is remembered.
TEST_F(MainWindowTest, ExitDialogChoices)
{
    ExpectBox("Exit Quillet", ClickButton(IDCANCEL));
    Command(IDM_EXIT);
    EXPECT_TRUE(IsWindowVisible(Main()));
    EXPECT_EQ(0u, GetSettingsInt(nullptr, "QuickExit", 0));
    ExpectBox("Exit Quillet", ClickButton(IDOK));
    Command(IDM_EXIT);
    EXPECT_FALSE(IsWindowVisible(Main()));
    EXPECT_TRUE(Running());
    Command(IDM_TRAYTOGGLE);
    WriteSettingsInt(nullptr, "QuickExit", 840);
    Command(IDM_EXIT);
    EXPECT_FALSE(IsWindowVisible(Main()));
    EXPECT_EQ(FALSE, m_Visible);
    Command(IDM_TRAYTOGGLE);
    EXPECT_TRUE(IsWindowVisible(Main()));
    WriteSettingsInt(nullptr, "QuickExit", 0);
    ExpectBox("Exit Quillet", CheckThenClick({IDC_QUIT_EXIT, IDC_QUIT_DONTASK}, IDOK));
    Command(IDM_EXIT);
    EXPECT_TRUE(WaitFor([this] { return !Running(); }));
    EXPECT_EQ(670u, GetSettingsInt(nullptr, "QuickExit", 0));
}

// "O&pen Main Window" is a toggle: chosen while the window shows, it hides it.
TEST_F(MainWindowTest, TrayMenuFollowsTheClipboardAndOpenMainWindowToggles)
{
    PostMessageA(Main(), WM_COMMAND, IDM_TRAYICON, WM_RBUTTONDOWN);
    HWND popup = nullptr;
    ASSERT_TRUE(
        WaitFor([&popup] { return (popup = FindWindowA("#32768", nullptr)) && IsWindowVisible(popup); }));
    HMENU menu = (HMENU)SendMessageA(popup, MN_GETHMENU, 0, 0);
    EXPECT_TRUE(Grayed(menu, IDM_REDUCE) && Grayed(menu, IDM_UNDO));
    EXPECT_FALSE(Grayed(menu, IDM_TRAYTOGGLE));
    PostMessageA(Main(), WM_CHAR, 'p', 0);
    EXPECT_TRUE(WaitFor([this] { return !IsWindowVisible(Main()); }));
    EXPECT_FALSE(IsWindowVisible(popup));
    Command(IDM_TRAYTOGGLE);
    EXPECT_TRUE(IsWindowVisible(Main()));
}

class DeferredStartTest : public MainWindowTest {
protected:
    DeferredStartTest() { m_deferStart = true; }
};

TEST_F(DeferredStartTest, ViewerChainSkipsAWindowThatLeft)
{
    ChainedViewer first, second;
    Start(); // chain: main, second, first
    second.Leave();
    first.draws = 0;
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, "x"}}));
    EXPECT_TRUE(WaitFor([&first] { return first.draws > 0; }));
}

TEST_F(MainWindowTest, ReduceWaitsForAClipboardHeldOpenBriefly)
{
    ASSERT_TRUE(SetClipboardFormats(FormattedText()));
    Settle();
    ASSERT_TRUE(OpenClipboard(nullptr));
    PostMessageA(Main(), WM_COMMAND, IDM_REDUCE, 0);
    Sleep(40);
    CloseClipboard();
    EXPECT_TRUE(WaitFor([] { return !OnClipboard(HTML); }, 2000));
}
