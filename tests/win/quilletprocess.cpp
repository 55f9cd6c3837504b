#include "quilletprocess.h"
#include "testutil.h"

QuilletProcess::QuilletProcess() : m_pi(Launch(BesideTestProgram("quillet.exe"))) {}

QuilletProcess::~QuilletProcess()
{
    if (!m_pi.hProcess)
        return;
    if (!Ended(0)) {
        TerminateProcess(m_pi.hProcess, 1);
        Ended(5000);
    }
    CloseHandle(m_pi.hThread);
    CloseHandle(m_pi.hProcess);
}

HWND QuilletProcess::Window()
{
    WaitFor(
        [this] {
            for (HWND w = nullptr;
                 !m_window && (w = FindWindowExA(nullptr, w, nullptr, "Quillet 6.0.200"));) {
                DWORD pid = 0;
                GetWindowThreadProcessId(w, &pid);
                m_window = pid == m_pi.dwProcessId ? w : nullptr;
            }
            return m_window != nullptr;
        },
        15000);
    return m_window;
}

bool QuilletProcess::Answers() const
{
    DWORD_PTR result;
    return m_window && SendMessageTimeoutA(m_window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result);
}

bool QuilletProcess::Ended(DWORD ms) const
{
    return WaitForSingleObject(m_pi.hProcess, ms) == WAIT_OBJECT_0;
}
