#pragma once
// Helpers that need no test framework, shared by the tests and the
// benchmarks (bench/).
#include <windows.h>
#include <string>
#include <vector>

// Removes the program's registry key and empties the clipboard; every test
// starts from this state.
void ResetProgramState();

// Puts formats on the clipboard in the given order; each entry's bytes are
// copied into a new global block.
struct ClipFormat {
    UINT format;
    std::string data;
};
bool SetClipboardFormats(const std::vector<ClipFormat> &formats);

// "Hello World" as another program copies formatted text: CF_TEXT, "Rich
// Text Format" and "HTML Format".
std::vector<ClipFormat> FormattedText();

// Starts a program (this one when `exe` is empty) with the arguments; its
// process, null when it could not be started.
PROCESS_INFORMATION Launch(const std::string &exe, const std::string &args = "");
// Runs this program again as a child with the given arguments and waits for
// it to end; returns its exit code (or -1).
int RunChild(const std::string &args, DWORD timeoutMs = 20000);

// Another program in front with the keyboard focus, started as a child of
// this one: a text box that takes what Ctrl+V pastes, or (`reads` false) a
// window that ignores every key. Closed with the object.
class PasteTarget {
public:
    explicit PasteTarget(bool reads);
    ~PasteTarget();
    PasteTarget(const PasteTarget &) = delete;
    PasteTarget &operator=(const PasteTarget &) = delete;
    // Its window once it is in front, or null after 10 s.
    HWND Window();
    // What the text box holds.
    std::wstring Text();

private:
    PROCESS_INFORMATION m_pi;
    HWND m_window = nullptr;
};
// The child modes "--child-paste-target" and "--child-ignore-paste".
int RunPasteTarget(bool reads);
// Presses a key with modifiers (MOD_ flags) and lets go of them all, as a
// user does, through SendInput.
void PressKey(UINT modifiers, UINT vk);

// A file's bytes (empty when it cannot be read).
std::string ReadFileBytes(const std::string &path);
