#include "mainwindow.h"
#include "boxwatch.h"
#include "app/main.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"

namespace {

DWORD WINAPI UiThread(void *)
{
    RunMainWindow(gvGlobals.hInstance);
    return 0;
}

} // namespace

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
    ASSERT_TRUE(WaitFor([] { return MainWindow() != nullptr; })) << "no main window";
    // The dialog manager shows the window once its queue first runs empty.
    Settle();
}

bool MainWindowTest::Running() const
{
    return m_thread && WaitForSingleObject(m_thread, 0) == WAIT_TIMEOUT;
}

bool MainWindowTest::Stop()
{
    if (!m_thread)
        return true;
    if (Running() && MainWindow()) {
        WriteSettingsInt(nullptr, "QuickExit", 670);
        PostMessageA(MainWindow(), WM_COMMAND, IDM_EXIT, 0);
    }
    bool ended = WaitFor([this] { return !Running(); }, 10000);
    CloseHandle(m_thread);
    m_thread = nullptr;
    return ended;
}

HWND MainWindowTest::Main() const
{
    return MainWindow();
}

void MainWindowTest::Command(UINT id, LPARAM lParam)
{
    SendMessageA(MainWindow(), WM_COMMAND, id, lParam);
}

UINT MainWindowTest::MenuState(UINT id) const
{
    HMENU menu = GetMenu(MainWindow());
    SendMessageA(MainWindow(), WM_INITMENU, (WPARAM)menu, 0);
    return GetMenuState(menu, id, MF_BYCOMMAND);
}
