#include "mainwindow.h"
#include "boxwatch.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"

static DWORD WINAPI UiThread(void *)
{
    return RunMainWindow(gvGlobals.hInstance);
}

void MainWindowTest::SetUp()
{
    gvGlobals.StartToTray = gvGlobals.AutoConvert = gvGlobals.KeepUnicode = 0;
    if (!m_deferStart)
        Start();
}

void MainWindowTest::TearDown()
{
    EXPECT_TRUE(Stop()) << "the main window did not end";
    EXPECT_EQ(0, TakePendingBoxes()) << "an expected box never appeared";
}

void MainWindowTest::Start()
{
    m_thread = CreateThread(nullptr, 0, UiThread, nullptr, 0, nullptr);
    ASSERT_TRUE(WaitFor([] { return Main() != nullptr; })) << "no main window";
    // The dialog manager shows the window once its queue first runs empty.
    Settle();
}

bool MainWindowTest::Stop()
{
    if (!m_thread)
        return true;
    if (Running() && Main()) {
        WriteSettingsInt(nullptr, "QuickExit", 670);
        PostMessageA(Main(), WM_COMMAND, IDM_EXIT, 0);
    }
    bool ended = WaitFor([this] { return !Running(); }, 10000);
    CloseHandle(m_thread);
    m_thread = nullptr;
    return ended;
}

void Command(UINT id, LPARAM lParam)
{
    SendMessageA(Main(), WM_COMMAND, id, lParam);
}

UINT MenuState(UINT id)
{
    SendMessageA(Main(), WM_INITMENU, (WPARAM)GetMenu(Main()), 0);
    return GetMenuState(GetMenu(Main()), id, MF_BYCOMMAND);
}

std::string ClipText()
{
    return ClipboardData(CF_TEXT).c_str();
}

std::wstring ClipWide()
{
    return (const wchar_t *)ClipboardData(CF_UNICODETEXT).c_str();
}
