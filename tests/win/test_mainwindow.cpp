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
#include "util/guards.h"
#include <algorithm>
#include <functional>

namespace {

std::string Text()
{
    return ClipboardData(CF_TEXT).c_str();
}

// How deep calls of the main window for WM_CLIPBOARDUPDATE are nested, and
// the deepest seen, as its thread's call hooks see them.
int m_drawDepth, m_drawDeepest;

LRESULT CALLBACK BeforeCall(int code, WPARAM wParam, LPARAM lParam)
{
    auto *call = reinterpret_cast<CWPSTRUCT *>(lParam);
    if (call->message == WM_CLIPBOARDUPDATE && call->hwnd == MainWindow())
        m_drawDeepest = std::max(m_drawDeepest, ++m_drawDepth);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK AfterCall(int code, WPARAM wParam, LPARAM lParam)
{
    auto *call = reinterpret_cast<CWPRETSTRUCT *>(lParam);
    m_drawDepth -= call->message == WM_CLIPBOARDUPDATE && call->hwnd == MainWindow();
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

// Reduce from the menu, the system menu and the tray icon, also while the
// clipboard is held open briefly, the case conversions and Empty: one undo
// gives back the state before the first.
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
             ASSERT_TRUE(OpenClipboard(nullptr)) << GetLastError();
             PostMessageA(Main(), WM_COMMAND, IDM_REDUCE, 0);
             Sleep(40);
             CloseClipboard();
             EXPECT_TRUE(WaitFor([] { return !OnClipboard(HTML); }, 2000));
         },
         "Hello World"},
        {[this] {
             Command(IDM_UPPER);
             Command(IDM_LOWER);
         },
         "hello world"},
        {[this] { Command(IDM_EMPTY); }, ""},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(SetClipboardFormats(FormattedText())) << GetLastError();
        Settle();
        c.change();
        EXPECT_EQ(c.text, Text());
        EXPECT_FALSE(OnClipboard(RTF) || OnClipboard(HTML)) << c.text;
        EXPECT_TRUE(*c.text || ClipboardFormats().empty());
        Command(IDM_UNDO);
        EXPECT_EQ("Hello World", Text());
        EXPECT_EQ(0u, ClipboardData(HTML).find("<b>Hello</b> World"));
    }
    // A second undo has nothing to restore and leaves the clipboard alone.
    Command(IDM_EMPTY);
    Settle();
    Command(IDM_UNDO);
    Command(IDM_UNDO);
    EXPECT_TRUE(OnClipboard(HTML));
    // A copy made after a change starts a new undo step of its own.
    Command(IDM_REDUCE);
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("newer", 6)}})) << GetLastError();
    Command(IDM_EMPTY);
    Command(IDM_UNDO);
    EXPECT_EQ("newer", Text());
}

// The snapshot holds metafile pictures that still refer to their metafile
// (how many formats and how large is the fault tests'); Unicode text is kept
// as such when asked.
TEST_F(MainWindowTest, SnapshotAndKeepUnicode)
{
    HDC dc = CreateMetaFileA(nullptr);
    Rectangle(dc, 0, 0, 10, 10);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(METAFILEPICT));
    *(METAFILEPICT *)GlobalLock(block) = {MM_ANISOTROPIC, 100, 100, CloseMetaFile(dc)};
    GlobalUnlock(block);
    {
        ClipboardGuard clip(nullptr);
        ASSERT_TRUE(clip.ok() && EmptyClipboard() && SetClipboardData(CF_METAFILEPICT, block))
            << GetLastError();
    }
    Command(IDM_EMPTY);
    Command(IDM_UNDO);
    {
        ClipboardGuard clip(nullptr);
        GlobalLockGuard<METAFILEPICT> back(GetClipboardData(CF_METAFILEPICT));
        ASSERT_NE(nullptr, back.get());
        EXPECT_GT(GetMetaFileBitsEx(back.get()->hMF, 0, nullptr), 0u);
    }

    gvGlobals.KeepUnicode = 1;
    const wchar_t text[] = L"Gr\u00fc\u00dfe \u20ac";
    ASSERT_TRUE(
        SetClipboardFormats({{CF_UNICODETEXT, std::string((const char *)text, sizeof text)}, {RTF, "x"}}));
    Command(IDM_REDUCE);
    EXPECT_EQ(CF_UNICODETEXT, ClipboardFormats().at(0));
    EXPECT_FALSE(OnClipboard(RTF));
    EXPECT_EQ(0, wcscmp(text, (const wchar_t *)ClipboardData(CF_UNICODETEXT).data()));
    // Case conversion of UTF-16 goes by characters; by bytes it would stop at
    // the first zero byte.
    Command(IDM_UPPER);
    EXPECT_EQ(0, wcscmp(L"GR\u00dc\u00dfE \u20ac", (const wchar_t *)ClipboardData(CF_UNICODETEXT).data()));
}

TEST_F(MainWindowTest, AutoConvertReducesEveryCopyAndSkipsPrivateContent)
{
    gvGlobals.AutoConvert = 1;
    ASSERT_EQ(0, RunChild("--child-copy-formatted"));
    ASSERT_TRUE(WaitFor([] { return !OnClipboard(RTF); }));
    EXPECT_EQ("Hello World", Text());

    // Undo with automatic conversion on does not convert its own result.
    Command(IDM_UNDO);
    Settle(600);
    EXPECT_TRUE(OnClipboard(RTF));

    // A copy marked as not to be recorded is left alone and never
    // snapshotted; a manual reduction still works and keeps the mark.
    for (const ClipFormat &mark :
         {ClipFormat{RegisterClipboardFormatA("ExcludeClipboardContentFromMonitorProcessing"), "1"},
          ClipFormat{RegisterClipboardFormatA("Clipboard Viewer Ignore"), "1"},
          ClipFormat{RegisterClipboardFormatA("CanIncludeInClipboardHistory"), std::string(4, '\0')}}) {
        std::vector<ClipFormat> secret = FormattedText();
        secret.push_back(mark);
        ASSERT_TRUE(SetClipboardFormats(secret)) << GetLastError();
        Settle(600);
        EXPECT_TRUE(OnClipboard(RTF));
        Command(IDM_REDUCE);
        Settle(600);
        EXPECT_FALSE(OnClipboard(RTF));
        EXPECT_TRUE(OnClipboard(mark.format));
        Command(IDM_UNDO); // private content is not kept for Undo
        EXPECT_FALSE(OnClipboard(RTF));
    }

    // History allowed explicitly (a non-zero DWORD) is ordinary content.
    std::vector<ClipFormat> allowed = FormattedText();
    allowed.push_back({RegisterClipboardFormatA("CanIncludeInClipboardHistory"), std::string("\1\0\0\0", 4)});
    ASSERT_TRUE(SetClipboardFormats(allowed)) << GetLastError();
    EXPECT_TRUE(WaitFor([] { return !OnClipboard(RTF); }));

    // Each copy made during the flash of the one before is converted after
    // it, not inside it: only the conversion's own change nests.
    const DWORD ui = GetWindowThreadProcessId(Main(), nullptr);
    HHOOK before = SetWindowsHookExA(WH_CALLWNDPROC, BeforeCall, nullptr, ui);
    HHOOK after = SetWindowsHookExA(WH_CALLWNDPROCRET, AfterCall, nullptr, ui);
    Settle(600);
    m_drawDepth = m_drawDeepest = 0;
    for (int i = 0; i < 4; i++) {
        ASSERT_TRUE(SetClipboardFormats(FormattedText())) << GetLastError();
        EXPECT_TRUE(WaitFor([] { return !OnClipboard(RTF); })) << "copy " << i;
    }
    Settle(600);
    UnhookWindowsHookEx(before);
    UnhookWindowsHookEx(after);
    EXPECT_LE(m_drawDeepest, 2);
}

// The menu bar and the tray menu after the start, after a change and after
// its Undo: nothing to reduce or undo on an empty clipboard.
TEST_F(MainWindowTest, MenusFollowTheClipboardAndUndo)
{
    // "g" for each of Reduce, Undo and Open Main Window that the tray greys.
    auto tray = [this] {
        PostMessageA(Main(), WM_COMMAND, IDM_TRAYICON, WM_RBUTTONDOWN);
        HWND popup = nullptr;
        EXPECT_TRUE(
            WaitFor([&popup] { return (popup = FindWindowA("#32768", nullptr)) && IsWindowVisible(popup); }));
        HMENU menu = (HMENU)SendMessageA(popup, MN_GETHMENU, 0, 0);
        std::string grey;
        for (UINT id : {IDM_REDUCE, IDM_UNDO, IDM_TRAYTOGGLE})
            grey += GetMenuState(menu, id, MF_BYCOMMAND) & MF_GRAYED ? "g" : "-";
        PostMessageA(Main(), WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_TRUE(WaitFor([popup] { return !IsWindowVisible(popup); }));
        return grey;
    };
    auto bar = [this] {
        std::string grey;
        for (UINT id : {IDM_REDUCE, IDM_CONVERT, IDM_UNDO})
            grey += MenuState(id) & MF_GRAYED ? "g" : "-";
        return grey;
    };
    EXPECT_EQ("ggg", bar());
    EXPECT_EQ("gg-", tray());
    ASSERT_TRUE(SetClipboardFormats(FormattedText())) << GetLastError();
    Settle();
    EXPECT_EQ("--g", bar());
    Command(IDM_REDUCE);
    EXPECT_EQ('-', bar()[2]);
    EXPECT_EQ('-', tray()[1]);
    Command(IDM_UNDO);
    EXPECT_EQ("--g", bar());
    EXPECT_EQ("-g-", tray());
}

// F9 reduces only while the main window is in the foreground; it leaves the
// key to a focused edit control and does nothing under a modal dialog.
TEST_F(MainWindowTest, F9ActsOnlyForTheMainWindowInFront)
{
    HWND other = CreateWindowA("STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                               nullptr, nullptr, nullptr);
    HWND edit =
        CreateWindowA("EDIT", "", WS_CHILD | WS_VISIBLE, 0, 0, 80, 20, Main(), nullptr, nullptr, nullptr);
    const DWORD ui = GetWindowThreadProcessId(Main(), nullptr);
    enum { MAIN, OTHER, EDIT, DIALOG };
    for (int where : {MAIN, OTHER, EDIT, DIALOG}) {
        ASSERT_TRUE(SetClipboardFormats(FormattedText())) << GetLastError();
        HWND front = where == OTHER ? other : Main();
        SetForegroundWindow(front);
        ASSERT_TRUE(WaitFor([front] { return GetForegroundWindow() == front; })) << where;
        if (where == DIALOG) {
            ExpectBox("Quillet Options", [this](HWND dlg) {
                EXPECT_EQ(dlg, GetForegroundWindow());
                PostMessageA(Main(), WM_KEYDOWN, VK_F9, 1);
                Sleep(500);
                SendDlgItemMessageA(dlg, IDCANCEL, BM_CLICK, 0, 0);
            });
            Command(IDM_OPTIONS);
        } else {
            // The edit control of this thread takes the UI thread's focus.
            EXPECT_TRUE(where != EDIT || AttachThreadInput(GetCurrentThreadId(), ui, TRUE)) << GetLastError();
            if (where == EDIT)
                SetFocus(edit);
            PostMessageA(Main(), WM_KEYDOWN, VK_F9, 1);
            Settle(500);
            AttachThreadInput(GetCurrentThreadId(), ui, FALSE);
        }
        EXPECT_EQ(where == MAIN, !OnClipboard(HTML)) << where;
    }
    DestroyWindow(edit);
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
    Command(IDM_TRAYTOGGLE);
    EXPECT_TRUE(IsWindowVisible(Main()));
    WriteSettingsInt(nullptr, "QuickExit", 0);
    ExpectBox("Exit Quillet", [](HWND box) {
        for (int id : {IDC_QUIT_EXIT, IDC_QUIT_DONTASK, IDOK})
            SendDlgItemMessageA(box, id, BM_CLICK, 0, 0);
    });
    Command(IDM_EXIT);
    EXPECT_TRUE(WaitFor([this] { return !Running(); }));
    EXPECT_EQ(670u, GetSettingsInt(nullptr, "QuickExit", 0));
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
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, "x"}})) << GetLastError();
    EXPECT_TRUE(WaitFor([&first] { return first.draws > 0; }));
}
