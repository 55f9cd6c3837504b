// quillet.exe started as a process of its own, as a user would.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "resources/resource.h"
#include "scriptedserver.h"
#include "settings/registry.h"
#include "testutil.h"

namespace {

class Program {
public:
    bool Start()
    {
        std::string cmd = "\"" + BesideTestProgram("quillet.exe") + "\"";
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        return CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &m_pi);
    }
    ~Program()
    {
        if (!m_pi.hProcess)
            return;
        if (WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(m_pi.hProcess, 1);
        CloseHandle(m_pi.hThread);
        CloseHandle(m_pi.hProcess);
    }
    HWND Window() const { return FindWindowA(nullptr, "Quillet 6.0.200"); }
    // The main window once it exists, or null after 15 s.
    HWND WaitForWindow() const
    {
        HWND window = nullptr;
        WaitFor([&] { return (window = Window()) != nullptr; }, 15000);
        return window;
    }
    bool Ended(DWORD ms) const { return WaitForSingleObject(m_pi.hProcess, ms) == WAIT_OBJECT_0; }

private:
    PROCESS_INFORMATION m_pi = {};
};

// Milliseconds from the start without the splash until the main window
// exists, or -1.
long StartupMs()
{
    WriteSettingsInt(nullptr, "HideSplash", 1);
    Program quillet;
    DWORD start = GetTickCount();
    return quillet.Start() && quillet.WaitForWindow() ? long(GetTickCount() - start) : -1;
}

} // namespace

// Started to the tray, it reduces a copy; exit from the tray leaves no process.
TEST(EndToEnd, StartToTrayAutoConvertAndExit)
{
    WriteSettingsInt(nullptr, "AutoConvert", 1);
    WriteSettingsInt(nullptr, "StartToTray", 1);
    WriteSettingsInt(nullptr, "HideSplash", 1);
    WriteSettingsInt(nullptr, "NoVerCheck", 1);
    Program quillet;
    ASSERT_TRUE(quillet.Start());
    HWND window = quillet.WaitForWindow();
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
    Program quillet;
    ASSERT_TRUE(quillet.Start());
    // The splash (caption "Quillet") shows before the main window.
    ASSERT_TRUE(WaitFor([] { return FindWindowA("#32770", "Quillet") != nullptr; }, 15000));
    EXPECT_EQ(nullptr, quillet.Window());
    DWORD shown = GetTickCount();
    HWND window = quillet.WaitForWindow();
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
