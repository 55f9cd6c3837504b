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

bool Has(const std::vector<UINT> &formats, UINT f)
{
    return std::find(formats.begin(), formats.end(), f) != formats.end();
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
             ASSERT_TRUE(OpenClipboard(nullptr));
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
    Settle();
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

// The snapshot holds the formats set, not those the system derives (how many
// and how large is the fault tests'), and metafile pictures that still refer
// to their metafile; Unicode text is kept as such when asked.
TEST_F(MainWindowTest, SnapshotAndKeepUnicode)
{
    HDC dc = CreateMetaFileA(nullptr);
    Rectangle(dc, 0, 0, 10, 10);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(METAFILEPICT));
    *(METAFILEPICT *)GlobalLock(block) = {MM_ANISOTROPIC, 100, 100, CloseMetaFile(dc)};
    GlobalUnlock(block);
    {
        ClipboardGuard clip(nullptr);
        ASSERT_TRUE(clip.ok() && EmptyClipboard() && SetClipboardData(CF_METAFILEPICT, block));
    }
    Command(IDM_EMPTY);
    Command(IDM_UNDO);
    {
        ClipboardGuard clip(nullptr);
        GlobalLockGuard<METAFILEPICT> back(GetClipboardData(CF_METAFILEPICT));
        ASSERT_NE(nullptr, back.get());
        EXPECT_GT(GetMetaFileBitsEx(back.get()->hMF, 0, nullptr), 0u);
    }

    ASSERT_TRUE(SetClipboardFormats(FormattedText()));
    Settle();
    Command(IDM_REDUCE);
    EXPECT_TRUE(Has(UndoFormats(), RTF) && Has(UndoFormats(), HTML) && !Has(UndoFormats(), CF_OEMTEXT));

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
    EXPECT_EQ("Hello world", Text());
    EXPECT_TRUE(Has(UndoFormats(), RTF));

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
        ASSERT_TRUE(SetClipboardFormats(secret));
        Settle(600);
        EXPECT_TRUE(OnClipboard(RTF));
        EXPECT_FALSE(Has(UndoFormats(), CF_TEXT)); // private content is not kept for Undo
        Command(IDM_REDUCE);
        Settle(600);
        EXPECT_FALSE(OnClipboard(RTF));
        EXPECT_TRUE(OnClipboard(mark.format));
        EXPECT_EQ(0, m_UndoCount);
    }

    // History allowed explicitly (a non-zero DWORD) is ordinary content.
    std::vector<ClipFormat> allowed = FormattedText();
    allowed.push_back({RegisterClipboardFormatA("CanIncludeInClipboardHistory"), std::string("\1\0\0\0", 4)});
    ASSERT_TRUE(SetClipboardFormats(allowed));
    EXPECT_TRUE(WaitFor([] { return !OnClipboard(RTF); }));

    // Each copy made during the flash of the one before is converted after
    // it, not inside it: only the conversion's own change nests.
    const DWORD ui = GetWindowThreadProcessId(Main(), nullptr);
    HHOOK before = SetWindowsHookExA(WH_CALLWNDPROC, BeforeCall, nullptr, ui);
    HHOOK after = SetWindowsHookExA(WH_CALLWNDPROCRET, AfterCall, nullptr, ui);
    Settle(600);
    m_drawDepth = m_drawDeepest = 0;
    for (int i = 0; i < 4; i++) {
        ASSERT_TRUE(SetClipboardFormats(FormattedText()));
        EXPECT_TRUE(WaitFor([] { return !OnClipboard(RTF); })) << "copy " << i;
    }
    Settle(600);
    UnhookWindowsHookEx(before);
    UnhookWindowsHookEx(after);
    EXPECT_LE(m_drawDeepest, 2);
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
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, "x"}}));
    EXPECT_TRUE(WaitFor([&first] { return first.draws > 0; }));
}
