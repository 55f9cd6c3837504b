#pragma once
// quillet.exe started as a process of its own, as a user would; ended with
// the object if it is still running.
#include <windows.h>

class QuilletProcess {
public:
    QuilletProcess();
    ~QuilletProcess();
    QuilletProcess(const QuilletProcess &) = delete;
    QuilletProcess &operator=(const QuilletProcess &) = delete;
    bool Started() const { return m_pi.hProcess != nullptr; }
    // Its main window once it exists, or null after 15 s.
    HWND Window();
    // The window handles a message within a second.
    bool Answers() const;
    bool Ended(DWORD ms) const;

private:
    PROCESS_INFORMATION m_pi = {};
    HWND m_window = nullptr;
};
