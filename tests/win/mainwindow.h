#pragma once
// Runs the real main window on a UI thread of its own, so that the test
// thread can drive it as another thread would: commands by SendMessage,
// clipboard changes that reach it as real notifications.
#include <gtest/gtest.h>
#include <windows.h>
#include "testutil.h"

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the window (SetUp does it unless a test sets options first).
    void Start();
    // Ends it through the exit path; true when the UI thread has ended.
    bool Stop();
    bool Running() const;

    HWND Main() const;
    void Command(UINT id, LPARAM lParam = 0);
    UINT MenuState(UINT id) const;

    bool m_deferStart = false;

private:
    HANDLE m_thread = nullptr;
};
