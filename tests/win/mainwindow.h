#pragma once
// Runs the real main window on a UI thread of its own, so that the test
// thread can drive it as another thread would: commands by SendMessage,
// clipboard changes that reach it as real notifications.
#include "testutil.h"
#include "app/main.h"

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the window (SetUp does it unless m_deferStart is set).
    void Start();
    // Ends it through the exit path; true when the UI thread has ended.
    bool Stop();
    bool Running() const { return m_thread && WaitForSingleObject(m_thread, 0) == WAIT_TIMEOUT; }

    bool m_deferStart = false;

private:
    HANDLE m_thread = nullptr;
};

inline HWND Main()
{
    return MainWindow();
}
void Command(UINT id, LPARAM lParam = 0);
// A menu bar item's state once the window has prepared the menu.
UINT MenuState(UINT id);
// CF_TEXT and CF_UNICODETEXT up to their zero.
std::string ClipText();
std::wstring ClipWide();
