// The program's own changes of the clipboard keep the undo snapshot however
// their notifications come: late through another viewer, never through a
// viewer that breaks the chain, or nested inside another operation. No box
// is shown while the clipboard is held.
#include "mainwindow.h"
#include "boxwatch.h"
#include "importpatch.h"
#include "testutil.h"
#include "clipboard/reduce.h"
#include "app/main.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include <fstream>
#include <functional>

namespace {

// Another program's copy of formatted text, reduced by the conversion.
void CopyFormattedAndWaitForConversion()
{
    ASSERT_TRUE(SetClipboardFormats(FormattedText())) << GetLastError();
    ASSERT_TRUE(WaitFor([] { return !OnClipboard(RTF); })) << "the copy was not converted";
}

// Whether another program could open the clipboard now.
bool ClipboardFree()
{
    if (!OpenClipboard(nullptr))
        return false;
    CloseClipboard();
    return true;
}

// A box answered with OK after noting whether the clipboard was free then.
BoxAnswer NoteClipboardFree(bool *free)
{
    return [free](HWND box) {
        *free = ClipboardFree();
        ClickButton(IDOK)(box);
    };
}

// Messages that arrive while an operation has the clipboard open (a sent
// WM_ACTIVATEAPP, a click on a button) are handled inside it: every
// EmptyClipboard of the program first handles such messages.
BOOL WINAPI EmptyAfterNestedMessages()
{
    SendMessageA(MainWindow(), WM_ACTIVATEAPP, TRUE, 0);
    SendMessageA(MainWindow(), WM_SETFOCUS, 0, 0);
    SendMessageA(MainWindow(), WM_COMMAND, IDM_EMPTY, 0);
    return RealFunction(&EmptyClipboard, "user32.dll", "EmptyClipboard")();
}

INT_PTR WINAPI FailingDialog(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM)
{
    return -1;
}

} // namespace

// With automatic conversion on, every change the program makes itself keeps
// the snapshot of the copy the conversion reduced: Undo gives it back.
TEST_F(MainWindowTest, OwnChangesWithAutoConvertKeepTheSnapshot)
{
    gvGlobals.AutoConvert = 1;
    const std::string file = TempPath("quillet_ownchange.txt");
    std::ofstream(file, std::ios::binary) << "from a file";
    const struct {
        const char *what;
        bool undoFirst; // the change acts on the formatted copy given back
        std::function<void()> change;
    } cases[] = {
        {"Reduce", true, [this] { Command(IDM_REDUCE); }},
        {"tray double click", true, [this] { Command(IDM_TRAYICON, WM_LBUTTONDBLCLK); }},
        {"system menu", true, [this] { SendMessageA(Main(), WM_SYSCOMMAND, IDM_REDUCE, 0); }},
        {"upper case", true, [this] { Command(IDM_UPPER); }},
        {"Empty", true, [this] { Command(IDM_EMPTY); }},
        {"Open", false,
         [this, &file] {
             ExpectBox("Open", TypePath(file));
             Command(IDM_FILEOPEN);
         }},
    };
    for (const auto &c : cases) {
        CopyFormattedAndWaitForConversion();
        if (c.undoFirst) {
            Command(IDM_UNDO);
            Settle(600);
            ASSERT_TRUE(OnClipboard(RTF)) << c.what << ": Undo was converted again";
        }
        c.change();
        Settle(600);
        EXPECT_FALSE(OnClipboard(RTF)) << c.what;
        Command(IDM_UNDO);
        Settle(600);
        EXPECT_EQ("Hello World", std::string(ClipboardData(CF_TEXT).c_str())) << c.what;
        EXPECT_TRUE(OnClipboard(RTF)) << c.what;
    }
    DeleteFileA(file.c_str());
}

// A viewer that joined after the program hears of each change first and
// passes it on only once the change's maker has returned, or passes nothing
// on: the conversion goes on, and Undo, Empty, a case change, a recall and
// Reduce are still known as the program's own.
TEST_F(MainWindowTest, LateOrMissingNotificationsOfOwnChangesAreKnownAsOwn)
{
    gvGlobals.AutoConvert = 1;
    SeedClipping('A', "Kept", L"kept");
    MenuState(IDM_CLIPFIRST); // fills the clippings submenu
    const struct {
        const char *what;
        std::function<void()> change;
        const char *text; // CF_TEXT after the change
    } cases[] = {
        {"Empty", [this] { Command(IDM_EMPTY); }, ""},
        {"lower case", [this] { Command(IDM_LOWER); }, "hello world"},
        {"recall", [this] { Command(IDM_CLIPFIRST); }, "kept"},
        {"Reduce", [this] { Command(IDM_REDUCE); }, "Hello World"},
    };
    for (auto forwarding : {ChainedViewer::LATE, ChainedViewer::NEVER}) {
        ChainedViewer viewer(forwarding);
        for (const auto &c : cases) {
            CopyFormattedAndWaitForConversion();
            Command(IDM_UNDO);
            Settle(600);
            ASSERT_TRUE(OnClipboard(RTF)) << c.what << ": Undo was converted again";
            c.change();
            Settle(600);
            EXPECT_EQ(c.text, std::string(ClipboardData(CF_TEXT).c_str())) << c.what << forwarding;
            EXPECT_FALSE(MenuState(IDM_UNDO) & MF_GRAYED) << c.what << forwarding;
            Command(IDM_UNDO);
            Settle(600);
            EXPECT_TRUE(OnClipboard(RTF)) << c.what << forwarding;
        }
        EXPECT_GT(viewer.draws, 0) << forwarding;
    }
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
    EXPECT_EQ("Hello World", std::string(ClipboardData(CF_TEXT).c_str()));
    EXPECT_FALSE(OnClipboard(RTF));
    EXPECT_EQ(LRESULT(ClipboardFormats().size()),
              SendDlgItemMessageA(Main(), IDC_FORMATLIST, LB_GETCOUNT, 0, 0));
    Command(IDM_UNDO);
    EXPECT_TRUE(OnClipboard(RTF) && OnClipboard(HTML));
}

// Boxes wait for the user with the clipboard closed: another program can
// copy meanwhile. A failed copy (string 1210) and a clipping that cannot be
// read (string 1210 again) are told after the clipboard is closed.
TEST_F(MainWindowTest, BoxesAreShownWithTheClipboardClosed)
{
    std::vector<ClipFormat> formats = FormattedText();
    formats.push_back({RegisterClipboardFormatA("Quillet odd"), std::string(4321, 'y')});
    ASSERT_TRUE(SetClipboardFormats(formats)) << GetLastError();
    Settle();
    bool free = false;
    {
        ImportPatch patch("kernel32.dll", "GlobalLock", reinterpret_cast<void *>(LockAllBut4321));
        ASSERT_TRUE(patch.ok()) << GetLastError();
        ExpectBox("Quillet", NoteClipboardFree(&free));
        Command(IDM_REDUCE);
        EXPECT_EQ(0, TakePendingBoxes());
        EXPECT_TRUE(free) << "the copy's box was shown with the clipboard open";

        // An RTF variant of 4320 characters is read into a block of 4321 bytes.
        SeedClipping('A', "Odd", L"odd");
        WriteSettingsStringA("Clip A", "RTF", std::string(4320, 'r').c_str());
        MenuState(IDM_CLIPFIRST);
        free = false;
        ExpectBox("Quillet", NoteClipboardFree(&free));
        Command(IDM_CLIPFIRST);
        EXPECT_EQ(0, TakePendingBoxes());
        EXPECT_TRUE(free) << "the recall's box was shown with the clipboard open";
    }
    EXPECT_TRUE(OnClipboard(RTF)); // neither changed the clipboard
}

// The exit dialog that cannot be shown asks nothing, so nothing ends. The
// clippings submenu is filled in place, never replaced, so the handle the
// system is about to show stays valid.
TEST_F(MainWindowTest, ExitDialogFailureAndTheSubmenuFilledInPlace)
{
    {
        ImportPatch patch("user32.dll", "DialogBoxParamA", reinterpret_cast<void *>(FailingDialog));
        ASSERT_TRUE(patch.ok()) << GetLastError();
        Command(IDM_EXIT);
    }
    EXPECT_TRUE(Running());
    EXPECT_TRUE(IsWindowVisible(Main()));

    HMENU clippings = GetSubMenu(GetMenu(Main()), 2);
    HMENU sub = GetSubMenu(clippings, 0);
    SeedClipping('A', "one");
    SendMessageA(Main(), WM_INITMENUPOPUP, (WPARAM)sub, 0);
    EXPECT_EQ(sub, GetSubMenu(clippings, 0));
    EXPECT_TRUE(IsMenu(sub));
    char name[8] = "";
    GetMenuStringA(sub, 0, name, sizeof name, MF_BYPOSITION);
    EXPECT_STREQ("one", name);
    EXPECT_EQ(1, GetMenuItemCount(sub));
}
