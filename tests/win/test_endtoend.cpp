// quillet.exe started as a process of its own, as a user would.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "resources/resource.h"
#include "quilletprocess.h"
#include "scriptedserver.h"
#include "settings/registry.h"
#include "testutil.h"

namespace {

// Milliseconds from the start without the splash until the main window
// exists, or -1.
long StartupMs()
{
    WriteSettingsInt(nullptr, "HideSplash", 1);
    DWORD start = GetTickCount();
    QuilletProcess quillet;
    return quillet.Started() && quillet.Window() ? long(GetTickCount() - start) : -1;
}

// Starts without splash or update check, converting every copy.
void SetQuietStartWithAutoConvert()
{
    WriteSettingsInt(nullptr, "AutoConvert", 1);
    WriteSettingsInt(nullptr, "HideSplash", 1);
    WriteSettingsInt(nullptr, "NoVerCheck", 1);
}

} // namespace

// Started to the tray, it reduces a copy; exit from the tray leaves no process.
TEST(EndToEnd, StartToTrayAutoConvertAndExit)
{
    SetQuietStartWithAutoConvert();
    WriteSettingsInt(nullptr, "StartToTray", 1);
    QuilletProcess quillet;
    HWND window = quillet.Window();
    ASSERT_NE(nullptr, window);
    ASSERT_EQ(0, RunChild("--child-copy-formatted"));
    UINT rtf = RegisterClipboardFormatA("Rich Text Format");
    EXPECT_TRUE(WaitFor([rtf] { return !IsClipboardFormatAvailable(rtf); }));
    EXPECT_EQ("Hello world", std::string(ClipboardData(CF_TEXT).c_str()));
    EXPECT_FALSE(IsWindowVisible(window));
    PostMessageA(window, WM_COMMAND, IDM_EXIT, 0); // hidden: ends without asking
    EXPECT_TRUE(quillet.Ended(10000));
}

TEST(EndToEnd, SplashComesFirst)
{
    WriteSettingsInt(nullptr, "NoVerCheck", 1);
    QuilletProcess quillet;
    ASSERT_TRUE(quillet.Started());
    // The splash (caption "Quillet") shows before the main window.
    ASSERT_TRUE(WaitFor([] { return FindWindowA("#32770", "Quillet") != nullptr; }, 15000));
    EXPECT_EQ(nullptr, FindWindowA(nullptr, "Quillet 6.0.200"));
    DWORD shown = GetTickCount();
    HWND window = quillet.Window();
    ASSERT_NE(nullptr, window);
    EXPECT_GE(GetTickCount() - shown, 2000u);
    WriteSettingsInt(nullptr, "QuickExit", 670);
    PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_TRUE(quillet.Ended(10000));
}

// A server that does not answer delays the start by 2.5 s at most; one that
// refuses, not at all.
TEST(EndToEnd, StartWaitsForTheUpdateCheckAtMostTwoAndAHalfSeconds)
{
    WriteSettingsInt(nullptr, "NoVerCheck", 1);
    ScriptedServer silent({}, true);
    long unchecked = StartupMs();
    WriteSettingsInt(nullptr, "NoVerCheck", 0);
    long waited = StartupMs();
    EXPECT_EQ(1u, silent.Requests().size());
    WriteSettingsStringA(nullptr, "ServerHost", RefusingHost().c_str());
    long refused = StartupMs();
    printf("start: no check %ld ms, refused %ld ms, silent %ld ms\n", unchecked, refused, waited);
    EXPECT_TRUE(unchecked >= 0 && refused >= 0);
    EXPECT_LT(unchecked, 2000);
    EXPECT_LT(refused, unchecked + 2000);
    EXPECT_GE(waited, 2400);
    EXPECT_LT(waited, unchecked + 3500);
    EXPECT_EQ(nullptr, FindWindowA(nullptr, "Update Available"));
}

// With automatic conversion on, Reduce, Undo and Empty keep what they must:
// alone, with a viewer that joined after the program and passes each change
// on late, and with one that passes nothing on, which must not stop the
// conversion either.
TEST(EndToEnd, OwnChangesKeepTheSnapshotWhateverTheOtherViewers)
{
    SetQuietStartWithAutoConvert();
    QuilletProcess quillet;
    HWND window = quillet.Window();
    ASSERT_NE(nullptr, window);
    auto command = [window](UINT id) {
        DWORD_PTR result;
        SendMessageTimeoutA(window, WM_COMMAND, id, 0, SMTO_NORMAL, 10000, &result);
        Settle(800);
    };
    for (auto forwarding : {ChainedViewer::AT_ONCE, ChainedViewer::LATE, ChainedViewer::NEVER}) {
        ChainedViewer viewer(forwarding);
        ASSERT_TRUE(SetClipboardFormats(FormattedText()));
        EXPECT_TRUE(WaitFor([] { return !OnClipboard(RTF); })) << forwarding;
        command(IDM_UNDO);
        EXPECT_TRUE(OnClipboard(RTF)) << forwarding;
        command(IDM_REDUCE);
        EXPECT_FALSE(OnClipboard(RTF)) << forwarding;
        command(IDM_UNDO);
        EXPECT_TRUE(OnClipboard(RTF)) << forwarding;
        command(IDM_EMPTY);
        EXPECT_TRUE(ClipboardFormats().empty()) << forwarding;
        command(IDM_UNDO);
        EXPECT_TRUE(OnClipboard(RTF)) << forwarding;
    }
    WriteSettingsInt(nullptr, "QuickExit", 670);
    PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_TRUE(quillet.Ended(10000));
}
