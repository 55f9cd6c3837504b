// The main window, its commands, reduction and undo, through the real
// window, the real clipboard and the real registry. The program's own
// changes keep the undo snapshot however their notifications come: late
// through another viewer, never through a viewer that breaks the chain, or
// nested inside another operation; no box is shown while the clipboard is held.
#include "mainwindow.h"
#include "boxwatch.h"
#include "importpatch.h"
#include "testutil.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include "util/guards.h"
#include <algorithm>
#include <fstream>

namespace {

// How deep calls of the main window for WM_CLIPBOARDUPDATE are nested, and
// the deepest seen, as its thread's call hooks see them.
int m_drawDepth, m_drawDeepest;

LRESULT CALLBACK BeforeCall(int code, WPARAM wParam, LPARAM lParam)
{
    auto *call = reinterpret_cast<CWPSTRUCT *>(lParam);
    if (call->message == WM_CLIPBOARDUPDATE && call->hwnd == Main())
        m_drawDeepest = std::max(m_drawDeepest, ++m_drawDepth);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK AfterCall(int code, WPARAM wParam, LPARAM lParam)
{
    auto *call = reinterpret_cast<CWPRETSTRUCT *>(lParam);
    m_drawDepth -= call->message == WM_CLIPBOARDUPDATE && call->hwnd == Main();
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Messages that arrive while an operation has the clipboard open (a sent
// WM_ACTIVATEAPP, a click on a button) are handled inside it: every
// EmptyClipboard of the program first handles such messages.
BOOL WINAPI EmptyAfterNestedMessages()
{
    SendMessageA(Main(), WM_ACTIVATEAPP, TRUE, 0);
    SendMessageA(Main(), WM_SETFOCUS, 0, 0);
    Command(IDM_EMPTY);
    return RealFunction(&EmptyClipboard, "user32.dll", "EmptyClipboard")();
}

INT_PTR WINAPI FailingDialog(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM)
{
    return -1;
}

// A box answered with OK after noting whether another program could open
// the clipboard then.
BoxAnswer NoteClipboardFree(bool *free)
{
    return [free](HWND box) {
        *free = OpenClipboard(nullptr) && CloseClipboard();
        ClickButton(IDOK)(box);
    };
}

// Each change of a copy of formatted text, with the CF_TEXT it leaves.
const struct {
    const char *what;
    std::function<void()> change;
    const char *text;
    bool onConverted; // made on the converted copy: undoable only with conversion on
} CHANGES[] = {
    {"Reduce", [] { Command(IDM_REDUCE); }, "Hello World", false},
    {"system menu", [] { SendMessageA(Main(), WM_SYSCOMMAND, IDM_REDUCE, 0); }, "Hello World", false},
    {"tray double click", [] { Command(IDM_TRAYICON, WM_LBUTTONDBLCLK); }, "Hello World", false},
    {"Reduce while the clipboard is held briefly",
     [] {
         ASSERT_TRUE(OpenClipboard(nullptr)) << GetLastError();
         PostMessageA(Main(), WM_COMMAND, IDM_REDUCE, 0);
         Sleep(40);
         CloseClipboard();
         EXPECT_TRUE(WaitFor([] { return !OnClipboard(HTML); }, 2000));
     },
     "Hello World", false},
    {"upper then lower case",
     [] {
         Command(IDM_UPPER);
         Command(IDM_LOWER);
     },
     "hello world", false},
    {"clean-ups",
     [] {
         Command(IDM_TRIM);
         Command(IDM_JOIN);
         Command(IDM_STRAIGHT);
     },
     "Hello World", false},
    {"Empty", [] { Command(IDM_EMPTY); }, "", false},
    {"recall", [] { Command(IDM_CLIPFIRST); }, "kept", false},
    {"Open",
     [] {
         ExpectBox("Open", TypePath(TempPath("quillet_ownchange.txt")));
         Command(IDM_FILEOPEN);
     },
     "from a file", true},
};

// Every change, then Undo, gives back the copy of formatted text; with
// conversion on, neither Undo nor the change is converted again.
void EveryChangeUndoes()
{
    std::ofstream(TempPath("quillet_ownchange.txt"), std::ios::binary) << "from a file";
    SeedClipping('A', "Kept", L"kept");
    MenuState(IDM_CLIPFIRST); // fills the clippings submenu
    const DWORD wait = gvGlobals.AutoConvert ? 600 : 300;
    for (const auto &c : CHANGES) {
        if (c.onConverted && !gvGlobals.AutoConvert)
            continue;
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(SetClipboardFormats(FormattedText())) << GetLastError();
        if (!gvGlobals.AutoConvert) {
            Settle();
        } else {
            ASSERT_TRUE(WaitFor([] { return !OnClipboard(RTF); })) << "the copy was not converted";
            if (!c.onConverted) {
                Command(IDM_UNDO);
                Settle(wait);
                ASSERT_TRUE(OnClipboard(RTF)) << "Undo was converted again";
            }
        }
        c.change();
        Settle(wait);
        EXPECT_EQ(c.text, ClipText());
        EXPECT_FALSE(OnClipboard(RTF) || OnClipboard(HTML));
        EXPECT_TRUE(*c.text || ClipboardFormats().empty());
        EXPECT_FALSE(MenuState(IDM_UNDO) & MF_GRAYED);
        Command(IDM_UNDO);
        Settle(wait);
        EXPECT_EQ("Hello World", ClipText());
        EXPECT_EQ(0u, ClipboardData(HTML).find("<b>Hello</b> World"));
    }
    DeleteFileA(TempPath("quillet_ownchange.txt").c_str());
}

} // namespace

// One undo gives back the state before the change, with conversion off or
// on; a second has nothing to restore, and a copy made after a change starts
// a new undo step.
TEST_F(MainWindowTest, EveryChangeUndoesToTheStateBefore)
{
    Command(IDM_TRAYICON, WM_LBUTTONDBLCLK); // empty clipboard: nothing to do
    EXPECT_TRUE(ClipboardFormats().empty());
    EveryChangeUndoes();
    Command(IDM_EMPTY);
    Settle();
    Command(IDM_UNDO);
    Command(IDM_UNDO);
    EXPECT_TRUE(OnClipboard(HTML));
    Command(IDM_REDUCE);
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("newer", 6)}})) << GetLastError();
    Command(IDM_EMPTY);
    Command(IDM_UNDO);
    EXPECT_EQ("newer", ClipText());
    gvGlobals.AutoConvert = 1;
    EveryChangeUndoes();
}

// A viewer that joined after the program hears of each change first and
// passes it on only once the change's maker has returned, or passes nothing
// on: the conversion goes on, and the changes are still known as the
// program's own.
TEST_F(MainWindowTest, LateOrMissingNotificationsOfOwnChangesAreKnownAsOwn)
{
    gvGlobals.AutoConvert = 1;
    for (auto forwarding : {ChainedViewer::LATE, ChainedViewer::NEVER}) {
        SCOPED_TRACE(forwarding);
        ChainedViewer viewer(forwarding);
        EveryChangeUndoes();
        EXPECT_GT(viewer.draws, 0);
    }
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
    EXPECT_EQ(text, ClipWide());
    // Case conversion of UTF-16 goes by characters; by bytes it would stop at
    // the first zero byte.
    Command(IDM_UPPER);
    EXPECT_EQ(L"GR\u00dc\u00dfE \u20ac", ClipWide());
}

// Every copy is reduced, except one marked as not to be recorded: that is
// never snapshotted, and a manual reduction keeps the mark.
TEST_F(MainWindowTest, AutoConvertReducesEveryCopyAndSkipsPrivateContent)
{
    gvGlobals.AutoConvert = 1;
    ASSERT_EQ(0, RunChild("--child-copy-formatted"));
    ASSERT_TRUE(WaitFor([] { return !OnClipboard(RTF); }));
    EXPECT_EQ("Hello World", ClipText());
    const UINT history = RegisterClipboardFormatA("CanIncludeInClipboardHistory");
    for (const ClipFormat &mark :
         {ClipFormat{RegisterClipboardFormatA("ExcludeClipboardContentFromMonitorProcessing"), "1"},
          ClipFormat{RegisterClipboardFormatA("Clipboard Viewer Ignore"), "1"},
          ClipFormat{history, std::string(4, '\0')}, ClipFormat{history, std::string("\1\0\0\0", 4)}}) {
        const bool allowed = mark.data[0] == 1; // history allowed explicitly
        std::vector<ClipFormat> copy = FormattedText();
        copy.push_back(mark);
        ASSERT_TRUE(SetClipboardFormats(copy)) << GetLastError();
        Settle(600);
        EXPECT_EQ(allowed, !OnClipboard(RTF));
        if (allowed)
            continue;
        Command(IDM_REDUCE);
        Settle(600);
        EXPECT_FALSE(OnClipboard(RTF));
        EXPECT_TRUE(OnClipboard(mark.format));
        Command(IDM_UNDO); // private content is not kept for Undo
        EXPECT_FALSE(OnClipboard(RTF));
    }

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

// Each clean-up command converts the text, kept as Unicode or not.
TEST_F(MainWindowTest, CleanUpCommandsConvertTheText)
{
    const std::wstring text = L"\u201cQuoted\u201d \u2014 it\u2019s  \r\nwrapped\r\n\r\nnext \r\n";
    const struct {
        UINT command;
        const wchar_t *result;
    } ROWS[] = {
        {IDM_TRIM, L"\u201cQuoted\u201d \u2014 it\u2019s\r\nwrapped\r\n\r\nnext\r\n"},
        {IDM_JOIN, L"\u201cQuoted\u201d \u2014 it\u2019s wrapped\r\n\r\nnext \r\n"},
        {IDM_STRAIGHT, L"\"Quoted\" -- it's  \r\nwrapped\r\n\r\nnext \r\n"},
    };
    for (DWORD unicode : {1, 0}) {
        gvGlobals.KeepUnicode = unicode;
        for (const auto &row : ROWS) {
            ASSERT_TRUE(SetClipboardFormats(
                {{CF_UNICODETEXT, std::string((const char *)text.c_str(), (text.size() + 1) * 2)},
                 {RTF, "x"}}));
            Command(row.command);
            EXPECT_EQ(row.result, ClipWide()) << row.command << " " << unicode;
            EXPECT_EQ(unicode ? CF_UNICODETEXT : CF_TEXT, ClipboardFormats().at(0));
            EXPECT_FALSE(OnClipboard(RTF));
        }
    }
}

// Automatic conversion leaves alone the copies of a program the user named,
// and applies the chosen clean-ups, to a copy of text alone too, once.
TEST_F(MainWindowTest, AutoConvertLeavesNamedProgramsAloneAndCleansUp)
{
    gvGlobals.AutoConvert = 1;
    for (bool named : {true, false}) {
        wcscpy(gvGlobals.LeftAlone, named ? L"excel.exe; QUILLET_TESTS.EXE" : L"excel.exe");
        ASSERT_EQ(0, RunChild("--child-copy-formatted"));
        Settle(600);
        EXPECT_EQ(named, OnClipboard(RTF)) << named;
    }
    gvGlobals.TrimLineEnds = gvGlobals.JoinLines = gvGlobals.StraightQuotes = 1;
    const wchar_t text[] = L"\u201cQuoted\u201d  \nwrapped \n";
    ASSERT_TRUE(SetClipboardFormats({{CF_UNICODETEXT, std::string((const char *)text, sizeof text)}}));
    EXPECT_TRUE(WaitFor([] { return ClipWide() == L"\"Quoted\" wrapped\n"; }));
    const DWORD changes = GetClipboardSequenceNumber();
    Settle(600);
    EXPECT_EQ(changes, GetClipboardSequenceNumber());
}

// The menu bar and the tray menu after the start, after a change and after
// its Undo: nothing to reduce or undo on an empty clipboard.
TEST_F(MainWindowTest, MenusFollowTheClipboardAndUndo)
{
    // "g" for each of Reduce, Undo and Open Main Window that the tray greys.
    auto tray = [] {
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
    auto bar = [] {
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
            ExpectBox("Quillet Options", [](HWND dlg) {
                EXPECT_EQ(dlg, GetForegroundWindow());
                PostMessageA(Main(), WM_KEYDOWN, VK_F9, 1);
                Sleep(500);
                SendDlgItemMessageA(dlg, IDCANCEL, BM_CLICK, 0, 0);
            });
            Command(IDM_OPTIONS);
        } else {
            // The edit control of this thread takes the UI thread's focus.
            EXPECT_TRUE(where != EDIT || AttachThreadInput(GetCurrentThreadId(), ui, TRUE)) << GetLastError();
            if (where == EDIT) {
                Settle(); // activation moves the focus too
                SetFocus(edit);
                EXPECT_EQ(edit, GetFocus());
            }
            PostMessageA(Main(), WM_KEYDOWN, VK_F9, 1);
            Settle(500);
            AttachThreadInput(GetCurrentThreadId(), ui, FALSE);
        }
        EXPECT_EQ(where == MAIN, !OnClipboard(HTML)) << where;
    }
    DestroyWindow(edit);
    DestroyWindow(other);
}

// An exit dialog that cannot be shown asks nothing, so nothing ends. Cancel
// keeps everything; the default choice hides the window and the program goes
// on in the tray, as QuickExit 840 does without asking; "Exit" with "Don't
// ask me this again" ends it and is remembered.
TEST_F(MainWindowTest, ExitDialogChoices)
{
    {
        ImportPatch patch("user32.dll", "DialogBoxParamA", reinterpret_cast<void *>(FailingDialog));
        ASSERT_TRUE(patch.ok()) << GetLastError();
        Command(IDM_EXIT);
    }
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

// Messages handled while an operation holds the clipboard start no other
// operation and close nothing under it; the list stays as it was meanwhile.
TEST_F(MainWindowTest, NothingNestedClosesTheClipboardUnderAnOperation)
{
    ASSERT_TRUE(SetClipboardFormats(FormattedText())) << GetLastError();
    Settle();
    {
        ImportPatch patch("user32.dll", "EmptyClipboard", reinterpret_cast<void *>(EmptyAfterNestedMessages));
        ASSERT_TRUE(patch.ok()) << GetLastError();
        Command(IDM_REDUCE);
    }
    EXPECT_EQ("Hello World", ClipText());
    EXPECT_FALSE(OnClipboard(RTF));
    EXPECT_EQ(LRESULT(ClipboardFormats().size()),
              SendDlgItemMessageA(Main(), IDC_FORMATLIST, LB_GETCOUNT, 0, 0));
    Command(IDM_UNDO);
    EXPECT_TRUE(OnClipboard(RTF) && OnClipboard(HTML));
}

// Boxes wait for the user with the clipboard closed: another program can
// copy meanwhile. A failed copy and a clipping that cannot be read are told
// after the clipboard is closed, and neither changes it.
TEST_F(MainWindowTest, BoxesAreShownWithTheClipboardClosed)
{
    std::vector<ClipFormat> formats = FormattedText();
    formats.push_back({RegisterClipboardFormatA("Quillet odd"), std::string(4321, 'y')});
    ASSERT_TRUE(SetClipboardFormats(formats)) << GetLastError();
    Settle();
    // An RTF variant of 4320 characters is read into a block of 4321 bytes.
    SeedClipping('A', "Odd", L"odd");
    WriteSettingsStringA("Clip A", "RTF", std::string(4320, 'r').c_str());
    MenuState(IDM_CLIPFIRST);
    ImportPatch patch("kernel32.dll", "GlobalLock", reinterpret_cast<void *>(LockAllBut4321));
    ASSERT_TRUE(patch.ok()) << GetLastError();
    for (UINT command : {IDM_REDUCE, IDM_CLIPFIRST}) {
        bool free = false;
        ExpectBox("Quillet", NoteClipboardFree(&free));
        Command(command);
        EXPECT_EQ(0, TakePendingBoxes());
        EXPECT_TRUE(free) << command << ": the box was shown with the clipboard open";
        EXPECT_TRUE(OnClipboard(RTF));
    }
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
