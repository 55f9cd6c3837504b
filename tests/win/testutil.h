#pragma once
// Helpers shared by the tests that run under Wine.
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

// Removes the program's registry key and empties the clipboard; every test
// starts from this state (the fixture below does it in SetUp).
void ResetProgramState();

// Puts formats on the clipboard in the given order; each entry's bytes are
// copied into a new global block.
struct ClipFormat {
    UINT format;
    std::string data;
};
bool SetClipboardFormats(const std::vector<ClipFormat> &formats);
// The formats on the clipboard in enumeration order.
std::vector<UINT> ClipboardFormats();
// The bytes of one format (empty when absent).
std::string ClipboardData(UINT format);

// Runs this test program again as a child with the given arguments and waits
// for it to end; returns its exit code (or -1).
int RunChild(const std::string &args, DWORD timeoutMs = 20000);

// Pumps this thread's messages until cond() holds or the time is up.
bool WaitFor(const std::function<bool()> &cond, DWORD ms = 5000);
// Pumps messages for a while, letting pending notifications arrive.
void Settle(DWORD ms = 300);
