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

namespace {

UINT Registered(const char *name)
{
    return RegisterClipboardFormatA(name);
}

bool Has(const std::vector<UINT> &formats, UINT f)
{
    return std::find(formats.begin(), formats.end(), f) != formats.end();
}

std::vector<ClipFormat> FormattedText()
{
    return {{CF_TEXT, std::string("Hello World", 12)},
            {Registered("Rich Text Format"), std::string("{\\rtf1 Hello {\\b World}}", 25)},
            {Registered("HTML Format"), std::string("<b>Hello</b> World", 19)}};
}

std::vector<UINT> UndoFormats()
{
    std::vector<UINT> formats;
    for (int i = 0; i < m_UndoCount; i++)
        formats.push_back(m_Undo[i].format);
    return formats;
}

} // namespace

TEST_F(MainWindowTest, ReduceKeepsOnlyTextAndUndoRestoresTheRest)
{
    ASSERT_TRUE(SetClipboardFormats(FormattedText()));
    Settle();
    Command(IDM_REDUCE);

    std::vector<UINT> after = ClipboardFormats();
    EXPECT_EQ(CF_TEXT, after.at(0));
    EXPECT_FALSE(Has(after, Registered("Rich Text Format")));
    EXPECT_FALSE(Has(after, Registered("HTML Format")));
    EXPECT_EQ("Hello World", std::string(ClipboardData(CF_TEXT).c_str()));

    std::vector<UINT> kept = UndoFormats();
    EXPECT_TRUE(Has(kept, Registered("Rich Text Format")));
    EXPECT_TRUE(Has(kept, Registered("HTML Format")));
    EXPECT_FALSE(Has(kept, CF_OEMTEXT));
    EXPECT_FALSE(Has(kept, CF_DIB));

    Command(IDM_UNDO);
    std::vector<UINT> restored = ClipboardFormats();
    EXPECT_TRUE(Has(restored, Registered("Rich Text Format")));
    EXPECT_TRUE(Has(restored, Registered("HTML Format")));
    EXPECT_EQ(0, ClipboardData(Registered("HTML Format")).find("<b>Hello</b> World"));
    EXPECT_EQ(0, m_UndoCount);

    // A second undo has nothing to restore and leaves the clipboard alone.
    Command(IDM_EMPTY);
    Command(IDM_UNDO);
    Command(IDM_UNDO);
    EXPECT_TRUE(Has(ClipboardFormats(), Registered("HTML Format")));
}

TEST_F(MainWindowTest, KeepUnicodeReducesToUnicodeText)
{
    gvGlobals.KeepUnicode = 1;
    const wchar_t text[] = L"Gr\u00fc\u00dfe \u20ac";
    ASSERT_TRUE(SetClipboardFormats({{CF_UNICODETEXT, std::string((const char *)text, sizeof text)},
                                     {Registered("Rich Text Format"), "{\\rtf1 x}"}}));
    Command(IDM_REDUCE);
    std::vector<UINT> after = ClipboardFormats();
    EXPECT_EQ(CF_UNICODETEXT, after.at(0));
    EXPECT_FALSE(Has(after, Registered("Rich Text Format")));
    std::string data = ClipboardData(CF_UNICODETEXT);
    EXPECT_EQ(0, wcscmp(text, (const wchar_t *)data.data()));
}

TEST_F(MainWindowTest, SnapshotKeepsTheFirst24Formats)
{
    std::vector<ClipFormat> formats;
    for (int i = 0; i < 30; i++)
        formats.push_back({Registered(("Quillet test " + std::to_string(i)).c_str()), "x"});
    ASSERT_TRUE(SetClipboardFormats(formats));

    // No text: Reduce leaves the clipboard as it was but takes the snapshot.
    Command(IDM_REDUCE);
    EXPECT_EQ(30u, ClipboardFormats().size());
    ASSERT_EQ(UNDO_MAX, m_UndoCount);
    for (int i = 0; i < UNDO_MAX; i++)
        EXPECT_EQ(formats[i].format, m_Undo[i].format);
}

TEST_F(MainWindowTest, CaseConversionsUndoToTheStateBeforeTheFirst)
{
    ASSERT_TRUE(SetClipboardFormats(FormattedText()));
    Command(IDM_UPPER);
    EXPECT_EQ("HELLO WORLD", std::string(ClipboardData(CF_TEXT).c_str()));
    EXPECT_FALSE(Has(ClipboardFormats(), Registered("Rich Text Format")));
    Command(IDM_LOWER);
    EXPECT_EQ("hello world", std::string(ClipboardData(CF_TEXT).c_str()));
    Command(IDM_UNDO);
    EXPECT_EQ("Hello World", std::string(ClipboardData(CF_TEXT).c_str()));
    EXPECT_TRUE(Has(ClipboardFormats(), Registered("Rich Text Format")));
}

TEST_F(MainWindowTest, EmptyClipboardCanBeUndone)
{
    ASSERT_TRUE(SetClipboardFormats(FormattedText()));
    Command(IDM_EMPTY);
    EXPECT_TRUE(ClipboardFormats().empty());
    EXPECT_TRUE(ListedFormats().empty());
    Command(IDM_UNDO);
    EXPECT_EQ("Hello World", std::string(ClipboardData(CF_TEXT).c_str()));
}

TEST_F(MainWindowTest, MetafilePictureSurvivesUndo)
{
    HDC dc = CreateMetaFileA(nullptr);
    Rectangle(dc, 0, 0, 10, 10);
    HMETAFILE mf = CloseMetaFile(dc);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(METAFILEPICT));
    auto *pict = (METAFILEPICT *)GlobalLock(block);
    *pict = {MM_ANISOTROPIC, 100, 100, mf};
    GlobalUnlock(block);
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    SetClipboardData(CF_METAFILEPICT, block);
    CloseClipboard();

    Command(IDM_EMPTY);
    Command(IDM_UNDO);
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE h = GetClipboardData(CF_METAFILEPICT);
    ASSERT_NE(nullptr, h);
    auto *back = (METAFILEPICT *)GlobalLock(h);
    ASSERT_NE(nullptr, back);
    // The restored picture refers to a metafile that still exists.
    EXPECT_GT(GetMetaFileBitsEx(back->hMF, 0, nullptr), 0u);
    EXPECT_EQ(100, back->xExt);
    GlobalUnlock(h);
    CloseClipboard();
}

TEST_F(MainWindowTest, FormatListAndMenuStateFollowTheClipboard)
{
    EXPECT_TRUE(ListedFormats().empty());
    EXPECT_TRUE(MenuState(IDM_REDUCE) & MF_GRAYED);
    EXPECT_TRUE(MenuState(IDM_CONVERT) & MF_GRAYED);
    EXPECT_TRUE(MenuState(IDM_UNDO) & MF_GRAYED);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(Main(), IDC_REDUCE)));

    ASSERT_TRUE(SetClipboardFormats({{Registered("Rich Text Format"), "{\\rtf1 x}"}, {CF_TEXT, "x"}}));
    ASSERT_TRUE(WaitFor([this] { return !ListedFormats().empty(); }));
    std::vector<std::string> expected = {"ASCII Text", "Locale information", "Rich Text Format", "Text",
                                         "Unicode Text"};
    EXPECT_EQ(expected, ListedFormats());
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(Main(), IDC_REDUCE)));
    EXPECT_FALSE(MenuState(IDM_REDUCE) & MF_GRAYED);
    EXPECT_FALSE(GetMenuState(GetSystemMenu(Main(), FALSE), IDM_REDUCE, MF_BYCOMMAND) & MF_GRAYED);

    Command(IDM_REDUCE);
    EXPECT_FALSE(MenuState(IDM_UNDO) & MF_GRAYED);
    Command(IDM_UNDO);
    EXPECT_TRUE(MenuState(IDM_UNDO) & MF_GRAYED);

    // Pictures only: nothing to reduce.
    ASSERT_TRUE(SetClipboardFormats({{Registered("PNG"), "\x89PNG"}}));
    ASSERT_TRUE(WaitFor([this] { return ListedFormats() == std::vector<std::string>{"PNG"}; }));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(Main(), IDC_REDUCE)));
    EXPECT_TRUE(GetMenuState(GetSystemMenu(Main(), FALSE), IDM_REDUCE, MF_BYCOMMAND) & MF_GRAYED);
}

TEST_F(MainWindowTest, SystemMenuReduces)
{
    char text[64] = "";
    GetMenuStringA(GetSystemMenu(Main(), FALSE), IDM_REDUCE, text, sizeof text, MF_BYCOMMAND);
    EXPECT_STREQ("Reduce to &Text Only", text);
    ASSERT_TRUE(SetClipboardFormats(FormattedText()));
    SendMessageA(Main(), WM_SYSCOMMAND, IDM_REDUCE, 0);
    EXPECT_FALSE(Has(ClipboardFormats(), Registered("HTML Format")));
}

TEST_F(MainWindowTest, AutoConvertReducesEveryCopyAndSkipsPrivateContent)
{
    gvGlobals.AutoConvert = 1;
    ASSERT_EQ(0, RunChild("--child-copy-formatted"));
    ASSERT_TRUE(WaitFor([] { return !Has(ClipboardFormats(), Registered("Rich Text Format")); }));
    EXPECT_EQ("Hello world", std::string(ClipboardData(CF_TEXT).c_str()));
    EXPECT_TRUE(Has(UndoFormats(), Registered("Rich Text Format")));

    // Undo with automatic conversion on does not convert its own result.
    Command(IDM_UNDO);
    Settle(600);
    EXPECT_TRUE(Has(ClipboardFormats(), Registered("Rich Text Format")));

    // A copy marked as not to be recorded is left alone and never snapshotted.
    for (const ClipFormat &mark :
         {ClipFormat{Registered("ExcludeClipboardContentFromMonitorProcessing"), "1"},
          ClipFormat{Registered("Clipboard Viewer Ignore"), "1"},
          ClipFormat{Registered("CanIncludeInClipboardHistory"), std::string(4, '\0')}}) {
        std::vector<ClipFormat> secret = FormattedText();
        secret.push_back(mark);
        ASSERT_TRUE(SetClipboardFormats(secret));
        Settle(600);
        EXPECT_TRUE(Has(ClipboardFormats(), Registered("Rich Text Format")));
        EXPECT_FALSE(Has(UndoFormats(), CF_TEXT));

        // A manual reduction still works and keeps the mark.
        Command(IDM_REDUCE);
        Settle(600);
        std::vector<UINT> after = ClipboardFormats();
        EXPECT_FALSE(Has(after, Registered("Rich Text Format")));
        EXPECT_TRUE(Has(after, mark.format));
        EXPECT_EQ(0, m_UndoCount);
    }

    // History allowed explicitly (a non-zero DWORD) is ordinary content.
    std::vector<ClipFormat> allowed = FormattedText();
    allowed.push_back({Registered("CanIncludeInClipboardHistory"), std::string("\1\0\0\0", 4)});
    ASSERT_TRUE(SetClipboardFormats(allowed));
    EXPECT_TRUE(WaitFor([] { return !Has(ClipboardFormats(), Registered("Rich Text Format")); }));
}

TEST_F(MainWindowTest, AcceleratorsWorkOnlyInTheForeground)
{
    ASSERT_TRUE(SetClipboardFormats(FormattedText()));
    SetForegroundWindow(Main());
    ASSERT_TRUE(WaitFor([this] { return GetForegroundWindow() == Main(); }));
    PostMessageA(Main(), WM_KEYDOWN, VK_F9, 1);
    EXPECT_TRUE(WaitFor([] { return !Has(ClipboardFormats(), Registered("HTML Format")); }));

    ASSERT_TRUE(SetClipboardFormats(FormattedText()));
    HWND other = CreateWindowA("STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                               nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    ASSERT_TRUE(WaitFor([other] { return GetForegroundWindow() == other; }));
    PostMessageA(Main(), WM_KEYDOWN, VK_F9, 1);
    Settle(500);
    EXPECT_TRUE(Has(ClipboardFormats(), Registered("HTML Format")));
    DestroyWindow(other);
}

TEST_F(MainWindowTest, ExitDialogChoices)
{
    // Cancel keeps everything as it was.
    ExpectBox("Exit Quillet", ClickButton(IDCANCEL));
    Command(IDM_EXIT);
    EXPECT_TRUE(IsWindowVisible(Main()));
    EXPECT_EQ(0u, GetSettingsInt(nullptr, "QuickExit", 0));

    // The default choice hides the window; the program goes on in the tray.
    ExpectBox("Exit Quillet", ClickButton(IDOK));
    Command(IDM_EXIT);
    EXPECT_FALSE(IsWindowVisible(Main()));
    EXPECT_TRUE(Running());

    // Shown again, "Exit" remembered with "Don't ask me this again".
    Command(IDM_TRAYTOGGLE);
    EXPECT_TRUE(IsWindowVisible(Main()));
    ExpectBox("Exit Quillet", CheckThenClick({IDC_QUIT_EXIT, IDC_QUIT_DONTASK}, IDOK));
    Command(IDM_EXIT);
    EXPECT_TRUE(WaitFor([this] { return !Running(); }));
    EXPECT_EQ(670u, GetSettingsInt(nullptr, "QuickExit", 0));
}

TEST_F(MainWindowTest, QuickExitHidesThenExitsFromTheTray)
{
    WriteSettingsInt(nullptr, "QuickExit", 840);
    Command(IDM_EXIT);
    EXPECT_FALSE(IsWindowVisible(Main()));
    EXPECT_EQ(FALSE, m_Visible);
    // Hidden: exit ends the program without asking.
    WriteSettingsInt(nullptr, "QuickExit", 0);
    Command(IDM_EXIT);
    EXPECT_TRUE(WaitFor([this] { return !Running(); }));
}

TEST_F(MainWindowTest, TrayIconDoubleClickReducesAndToggleShowsAndHides)
{
    Command(IDM_TRAYICON, WM_LBUTTONDBLCLK); // empty clipboard: nothing to do
    EXPECT_TRUE(ClipboardFormats().empty());
    ASSERT_TRUE(SetClipboardFormats(FormattedText()));
    Command(IDM_TRAYICON, WM_LBUTTONDBLCLK);
    EXPECT_FALSE(Has(ClipboardFormats(), Registered("HTML Format")));

    Command(IDM_TRAYTOGGLE);
    EXPECT_FALSE(IsWindowVisible(Main()));
    Command(IDM_TRAYTOGGLE);
    EXPECT_TRUE(IsWindowVisible(Main()));
}

class DeferredStartTest : public MainWindowTest {
protected:
    DeferredStartTest() { m_deferStart = true; }
};

TEST_F(DeferredStartTest, StartToTrayShowsOnlyTheTrayIcon)
{
    gvGlobals.StartToTray = 1;
    Start();
    Settle(300);
    EXPECT_FALSE(IsWindowVisible(Main()));
    EXPECT_EQ(FALSE, m_Visible);
    Command(IDM_TRAYTOGGLE);
    EXPECT_TRUE(IsWindowVisible(Main()));
}

TEST_F(MainWindowTest, TrayMenuFollowsTheClipboardAndOpenMainWindowToggles)
{
    PostMessageA(Main(), WM_COMMAND, IDM_TRAYICON, WM_RBUTTONDOWN);
    HWND popup = nullptr;
    ASSERT_TRUE(
        WaitFor([&popup] { return (popup = FindWindowA("#32768", nullptr)) && IsWindowVisible(popup); }));
    HMENU menu = (HMENU)SendMessageA(popup, MN_GETHMENU, 0, 0);
    EXPECT_TRUE(GetMenuState(menu, IDM_REDUCE, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_TRUE(GetMenuState(menu, IDM_UNDO, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_FALSE(GetMenuState(menu, IDM_TRAYTOGGLE, MF_BYCOMMAND) & MF_GRAYED);

    // "O&pen Main Window" is a toggle: chosen while the window shows, it hides it.
    PostMessageA(Main(), WM_CHAR, 'p', 0);
    EXPECT_TRUE(WaitFor([this] { return !IsWindowVisible(Main()); }));
    EXPECT_FALSE(IsWindowVisible(popup));
}

namespace {

// A plain clipboard viewer that counts the notifications it receives.
struct Viewer {
    HWND hwnd = nullptr;
    HWND next = nullptr;
    int draws = 0;
};
Viewer g_viewers[2];

LRESULT CALLBACK ViewerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    for (Viewer &v : g_viewers) {
        if (v.hwnd != hwnd)
            continue;
        if (msg == WM_DRAWCLIPBOARD) {
            v.draws++;
            if (v.next)
                SendMessageA(v.next, msg, wParam, lParam);
            return 0;
        }
        if (msg == WM_CHANGECBCHAIN) {
            if ((HWND)wParam == v.next)
                v.next = (HWND)lParam;
            else if (v.next)
                SendMessageA(v.next, msg, wParam, lParam);
            return 0;
        }
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

TEST_F(DeferredStartTest, ViewerChainSkipsAWindowThatLeft)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ViewerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QuilletTestViewer";
    RegisterClassA(&wc);
    for (Viewer &v : g_viewers) {
        v.hwnd = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
        v.next = SetClipboardViewer(v.hwnd);
    }
    Start(); // chain: main, viewer 1, viewer 0

    ChangeClipboardChain(g_viewers[1].hwnd, g_viewers[1].next);
    g_viewers[0].draws = g_viewers[1].draws = 0;
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, "x"}}));
    EXPECT_TRUE(WaitFor([] { return g_viewers[0].draws > 0; }));
    EXPECT_EQ(0, g_viewers[1].draws);

    ChangeClipboardChain(g_viewers[0].hwnd, nullptr);
    for (Viewer &v : g_viewers)
        DestroyWindow(v.hwnd);
}

TEST_F(MainWindowTest, ReduceWaitsForAClipboardHeldOpenBriefly)
{
    ASSERT_TRUE(SetClipboardFormats(FormattedText()));
    Settle();
    ASSERT_TRUE(OpenClipboard(nullptr));
    PostMessageA(Main(), WM_COMMAND, IDM_REDUCE, 0);
    Sleep(40);
    CloseClipboard();
    EXPECT_TRUE(WaitFor([] { return !Has(ClipboardFormats(), Registered("HTML Format")); }, 2000));
}

TEST_F(MainWindowTest, CommandsOpenTheirDialogs)
{
    HMENU sys = GetSystemMenu(Main(), FALSE);
    char text[64] = "";
    GetMenuStringA(sys, IDM_ABOUT, text, sizeof text, MF_BYCOMMAND);
    EXPECT_STREQ("&About Quillet...", text);

    // The about box is owned by the desktop, so it is found and closed here.
    PostMessageA(Main(), WM_SYSCOMMAND, IDM_ABOUT, 0);
    HWND about = nullptr;
    ASSERT_TRUE(WaitFor([this, &about] {
        about = FindWindowA("#32770", "Quillet");
        return about && about != Main() && IsWindowVisible(about);
    }));
    PostMessageA(about, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(WaitFor([about] { return !IsWindow(about); }));

    ExpectBox("Quillet Options", ClickButton(IDCANCEL));
    Command(IDM_OPTIONS);
    EXPECT_EQ(0, TakePendingBoxes());

    // F1 with no help file does nothing.
    gvGlobals.HelpFile = nullptr;
    Command(IDM_HELP);
    EXPECT_EQ(nullptr, FindWindowA(nullptr, "Quillet Help"));
}
