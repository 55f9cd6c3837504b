#pragma once
// The update check: asks the server which release is current and compares
// it with the running one, at start-up on a thread of its own and on request.
#include <windows.h>

// 0 when the server reports the running release, 1 in every other case. A
// different release (older ones too) is offered in the "Update Available"
// box; interactive 1 also confirms a current one. A failed exchange shows
// nothing.
int GetCurrentVersionInfo(HWND owner, int interactive);
// Starts the check on its thread (silent unless another release is
// reported); returns the thread handle, also kept for the wait, or null.
HANDLE LaunchVersionCheck(HWND owner);
// Waits at most 2500 ms for that thread, then releases its handle; it does
// not stop the thread, which may still be showing its box.
void TerminateVersionCheck();
