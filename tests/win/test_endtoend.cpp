// quillet.exe started as a process of its own, as a user would.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <string>
#include "resources/resource.h"
#include "settings/registry.h"
#include "testutil.h"

namespace {

class Program {
public:
    bool Start()
    {
        char path[MAX_PATH];
        GetModuleFileNameA(nullptr, path, sizeof path);
        std::string exe(path);
        exe = exe.substr(0, exe.find_last_of('\\') + 1) + "quillet.exe";
        std::string cmd = "\"" + exe + "\"";
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

bool HasFormat(UINT f)
{
    std::vector<UINT> formats = ClipboardFormats();
    return std::find(formats.begin(), formats.end(), f) != formats.end();
}

// Starts the program without its splash and without asking a server for
// updates; the main window, or null.
HWND StartWithoutSplash(Program &program)
{
    WriteSettingsInt(nullptr, "HideSplash", 1);
    WriteSettingsInt(nullptr, "NoVerCheck", 1);
    return program.Start() ? program.WaitForWindow() : nullptr;
}

} // namespace

// Started to the tray, it reduces a copy; exit from the tray leaves no process.
TEST(EndToEnd, StartToTrayAutoConvertAndExit)
{
    WriteSettingsInt(nullptr, "AutoConvert", 1);
    WriteSettingsInt(nullptr, "StartToTray", 1);
    Program quillet;
    HWND window = StartWithoutSplash(quillet);
    ASSERT_NE(nullptr, window);
    ASSERT_EQ(0, RunChild("--child-copy-formatted"));
    UINT rtf = RegisterClipboardFormatA("Rich Text Format");
    EXPECT_TRUE(WaitFor([rtf] { return !HasFormat(rtf); }, 5000));
    EXPECT_EQ("Hello world", std::string(ClipboardData(CF_TEXT).c_str()));
    EXPECT_FALSE(IsWindowVisible(window));
    PostMessageA(window, WM_COMMAND, IDM_EXIT, 0); // hidden: ends without asking
    EXPECT_TRUE(quillet.Ended(10000));
}

TEST(EndToEnd, SplashComesFirstUnlessHidden)
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

    WriteSettingsInt(nullptr, "HideSplash", 1);
    Program quick;
    DWORD started = GetTickCount();
    ASSERT_TRUE(quick.Start());
    window = quick.WaitForWindow();
    ASSERT_NE(nullptr, window);
    EXPECT_LT(GetTickCount() - started, 2000u);
    PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_TRUE(quick.Ended(10000));
}
