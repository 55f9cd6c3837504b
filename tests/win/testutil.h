#pragma once
// Helpers shared by the tests that run under Wine.
#include <gtest/gtest.h>
#include <windows.h>
#include <functional>
#include <string>
#include <vector>
#include "cloud/wire.h"
#include "harness.h"

// The formats on the clipboard in enumeration order; the bytes of one
// (empty when absent); whether one is there.
std::vector<UINT> ClipboardFormats();
std::string ClipboardData(UINT format);
bool OnClipboard(UINT format);
extern const UINT RTF, HTML;

// Pumps this thread's messages until cond() holds or the time is up; for a
// while, letting pending notifications arrive.
bool WaitFor(const std::function<bool()> &cond, DWORD ms = 5000);
void Settle(DWORD ms = 300);

// A file of the test program's folder, of the temp folder.
std::string BesideTestProgram(const std::string &name);
std::string TempPath(const std::string &name);
std::string WindowText(HWND window);
std::string LoadedString(UINT id);

// A value of the settings store; "<none>" when there is none.
std::string StoredSetting(const char *section, const char *name);
std::wstring StoredWideSetting(const char *section, const char *name);
// Stores a value of any type as another program could, in a section or none;
// no name creates the section only. Of `data`, the first `size` bytes: a
// byte after them that is not zero keeps Wine from adding a terminator.
LONG StoreRaw(const char *section, const char *name, DWORD type, const std::string &data,
              size_t size = std::string::npos);
// Starts of quillet.exe without splash or update check, converting every copy.
void SetQuietStartWithAutoConvert();
// A stored clipping in the section "Clip <letter>".
void SeedClipping(char letter, const char *name, const wchar_t *text = L"text",
                  const char *date = "2018-02-12 09:05:00");

// A window in the clipboard viewer chain that counts the changes it is told
// of and passes them on: at once, once this thread pumps its messages again
// (as a viewer that forwards after the change's maker has returned), or
// never (as a viewer that breaks the chain).
class ChainedViewer {
public:
    enum Forwarding { AT_ONCE, LATE, NEVER };
    explicit ChainedViewer(Forwarding forwarding = AT_ONCE);
    ~ChainedViewer() { Leave(); }
    ChainedViewer(const ChainedViewer &) = delete;
    ChainedViewer &operator=(const ChainedViewer &) = delete;
    void Leave();
    int draws = 0;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    HWND m_hwnd = nullptr, m_next = nullptr;
    Forwarding m_forwarding;
};

// Tests against the real sync service named in QUILLET_TEST_SERVICE (skipped
// without it): "ServerHost" points at it, with a new account it does not know.
class RealService : public ::testing::Test {
protected:
    void SetUp() override;
};
// The user id of the account in the settings, signed in with its keys.
int32_t SignedInUser();
// The account's clips as the service lists them; the id of one by its name.
std::vector<CloudClipEntry> CloudClips();
int32_t CloudIdOf(const char *name);
// "name/item data" of each entry of a clippings manager's list.
std::vector<std::string> ManagerItems(HWND dlg);
