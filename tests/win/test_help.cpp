// HTML Help through the loader and the real control, and launching with the shell.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstring>
#include <string>
#include <vector>
#include "app/help.h"
#include "app/helploader.h"
#include "boxwatch.h"
#include "testutil.h"
#include "util/globals.h"
#include "util/guards.h"

namespace {

const char HHCTRL_KEY[] = "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";

int g_located; // calls of the locators below

int LocateMissing(char *path)
{
    ++g_located;
    lstrcpyA(path, "C:\\quillet-nowhere\\hhctrl.ocx");
    return 1;
}

int LocateRegistered(char *path)
{
    ++g_located;
    return GetRegisteredLocation(path);
}

int LocateNothing(char *)
{
    ++g_located;
    return 0;
}

std::string BesideTestProgram(const char *name)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of('\\') + 1) + name;
}

std::string SystemText(DWORD error)
{
    char text[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    return text;
}

struct TitleSearch {
    const char *title;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTitled(HWND hwnd, LPARAM param)
{
    auto *search = reinterpret_cast<TitleSearch *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char text[128] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    if (pid == GetCurrentProcessId() && IsWindowVisible(hwnd) && lstrcmpA(text, search->title) == 0)
        search->found.push_back(hwnd);
    return TRUE;
}

// Visible top-level windows of this process with this caption.
std::vector<HWND> WindowsTitled(const char *title)
{
    TitleSearch search{title, {}};
    EnumWindows(CollectTitled, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The icon that a message box shows (its control id differs between systems).
LRESULT BoxIcon(HWND box)
{
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            return SendMessageA(child, STM_GETICON, 0, 0);
    return 0;
}

HWND MakeWindow()
{
    return CreateWindowExA(0, "STATIC", "help owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                           nullptr, nullptr);
}

// Overwrites the registered location of the control and puts it back.
class RegisteredValue {
public:
    RegisteredValue()
    {
        RegCreateKeyExA(HKEY_CLASSES_ROOT, HHCTRL_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, m_key.put(),
                        nullptr);
        DWORD size = sizeof m_saved;
        m_had = RegQueryValueExA(m_key.get(), nullptr, nullptr, &m_type, m_saved, &size) == ERROR_SUCCESS;
        m_size = size;
    }
    ~RegisteredValue()
    {
        if (m_had)
            RegSetValueExA(m_key.get(), nullptr, 0, m_type, m_saved, m_size);
        else
            RegDeleteValueA(m_key.get(), nullptr);
    }
    RegisteredValue(const RegisteredValue &) = delete;
    RegisteredValue &operator=(const RegisteredValue &) = delete;
    // Stores the first `size` bytes of data; a non-zero byte after them keeps
    // the registry from adding a terminator.
    bool Set(DWORD type, const std::string &data, size_t size)
    {
        return RegSetValueExA(m_key.get(), nullptr, 0, type, reinterpret_cast<const BYTE *>(data.data()),
                              static_cast<DWORD>(size)) == ERROR_SUCCESS;
    }

private:
    RegKey m_key;
    BYTE m_saved[1024];
    DWORD m_type = 0;
    DWORD m_size = 0;
    bool m_had = false;
};

class Help : public ::testing::Test {
protected:
    void TearDown() override
    {
        TerminateHtmlHelp();
        gvGlobals.HelpFile = nullptr;
        EXPECT_EQ(0, TakePendingBoxes()) << "an expected box never appeared";
    }
};

} // namespace

TEST(HelpLoader, FailedLoadIsNeverTriedAgain)
{
    // Neither the registered path nor the search path gives a module.
    HelpEntryLoader missing = {LocateMissing, "quillet-nowhere.ocx", 14, nullptr, FALSE, nullptr};
    g_located = 0;
    EXPECT_EQ(nullptr, ResolveHelpEntry(missing));
    EXPECT_TRUE(missing.failed);
    EXPECT_EQ(nullptr, ResolveHelpEntry(missing));
    EXPECT_EQ(1, g_located);

    // The module loads but lacks the entry point: it stays loaded, unused.
    HelpEntryLoader noEntry = {LocateRegistered, "quillet-nowhere.ocx", 9999, nullptr, FALSE, nullptr};
    g_located = 0;
    EXPECT_EQ(nullptr, ResolveHelpEntry(noEntry));
    EXPECT_NE(nullptr, noEntry.module);
    EXPECT_EQ(nullptr, ResolveHelpEntry(noEntry));
    EXPECT_EQ(1, g_located);
}

TEST(HelpLoader, FallsBackToTheSearchPathAndResolvesOnce)
{
    HelpEntryLoader wrongPath = {LocateMissing, "hhctrl.ocx", 14, nullptr, FALSE, nullptr};
    HelpEntryLoader unregistered = {LocateNothing, "hhctrl.ocx", 15, nullptr, FALSE, nullptr};
    g_located = 0;
    FARPROC ansi = ResolveHelpEntry(wrongPath);
    FARPROC wide = ResolveHelpEntry(unregistered);
    HMODULE hhctrl = GetModuleHandleA("hhctrl.ocx");
    ASSERT_NE(nullptr, hhctrl);
    EXPECT_EQ(GetProcAddress(hhctrl, MAKEINTRESOURCEA(14)), ansi);
    EXPECT_EQ(GetProcAddress(hhctrl, MAKEINTRESOURCEA(15)), wide);
    EXPECT_EQ(ansi, ResolveHelpEntry(wrongPath));
    EXPECT_EQ(2, g_located);
}

TEST(HelpLoader, RegisteredLocationIsTerminatedAndExpanded)
{
    char path[MAX_PATH + 8];
    ASSERT_EQ(1, GetRegisteredLocation(path));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path)) << path;

    RegisteredValue value;
    char expected[MAX_PATH];
    GetSystemDirectoryA(expected, MAX_PATH);
    lstrcatA(expected, "\\hhctrl.ocx");
    std::string expand("%SystemRoot%\\system32\\hhctrl.ocx");
    ASSERT_TRUE(value.Set(REG_EXPAND_SZ, expand, expand.size() + 1));
    ASSERT_EQ(1, GetRegisteredLocation(path));
    EXPECT_EQ(0, lstrcmpiA(expected, path)) << path;

    // The longest path fits with or without its terminator; longer ones do not.
    std::string longest(MAX_PATH - 1, 'a');
    std::string tooLong(MAX_PATH + 1, 'a');
    memset(path, 'x', sizeof path);
    ASSERT_TRUE(value.Set(REG_SZ, tooLong, MAX_PATH - 1));
    ASSERT_EQ(1, GetRegisteredLocation(path));
    EXPECT_EQ(longest, path);
    ASSERT_TRUE(value.Set(REG_SZ, longest, MAX_PATH));
    ASSERT_EQ(1, GetRegisteredLocation(path));
    EXPECT_EQ(longest, path);
    ASSERT_TRUE(value.Set(REG_SZ, tooLong, MAX_PATH));
    EXPECT_EQ(0, GetRegisteredLocation(path));

    ASSERT_TRUE(value.Set(REG_DWORD, std::string("\1\0\0\0", 4), 4));
    EXPECT_EQ(0, GetRegisteredLocation(path));
}

TEST_F(Help, F1TwiceInitialisesOnceAndEndingClosesTheWindow)
{
    std::string chm = BesideTestProgram("quillet.chm");
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(chm.c_str())) << chm;
    gvGlobals.HelpFile = &chm[0];
    HWND first = MakeWindow();
    HWND second = MakeWindow();

    CallHtmlHelp(first, 0, 0);
    DWORD_PTR cookie = gvGlobals.HelpCookie;
    EXPECT_EQ(first, gvGlobals.HelpOwner);
    EXPECT_TRUE(WaitFor([] { return !WindowsTitled("Quillet Help").empty(); })) << "no help window";

    CallHtmlHelp(second, 0, 0);
    EXPECT_EQ(first, gvGlobals.HelpOwner) << "HTML Help initialised again";
    EXPECT_EQ(cookie, gvGlobals.HelpCookie);
    Settle();

    TerminateHtmlHelp();
    EXPECT_EQ(nullptr, gvGlobals.HelpOwner);
    EXPECT_EQ(0u, gvGlobals.HelpCookie);
    EXPECT_TRUE(WaitFor([] { return WindowsTitled("Quillet Help").empty(); })) << "help window left open";
    DestroyWindow(first);
    DestroyWindow(second);
}

TEST_F(Help, WithoutHelpFileNothingOpens)
{
    HWND owner = MakeWindow();
    CallHtmlHelp(owner, 0, 0);
    Settle();
    EXPECT_EQ(nullptr, gvGlobals.HelpOwner);
    EXPECT_EQ(0u, gvGlobals.HelpCookie);
    EXPECT_TRUE(WindowsTitled("Quillet Help").empty());
    DestroyWindow(owner);
}

TEST_F(Help, LaunchWithoutAssociatedProgramShowsTheSystemMessage)
{
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    std::string target = std::string(dir) + "quillet-launch.qltest";
    CloseHandle(CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    HWND owner = MakeWindow();

    std::string shown;
    HWND boxOwner = nullptr;
    LRESULT icon = 0;
    ExpectBox(APP_NAME, [&](HWND box) {
        char text[256] = "";
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        shown = text;
        boxOwner = GetWindow(box, GW_OWNER);
        icon = BoxIcon(box);
        ClickButton(IDOK)(box);
    });
    EXPECT_EQ(0, DoLaunch(owner, target.c_str()));
    EXPECT_EQ(SystemText(ERROR_NO_ASSOCIATION), shown);
    EXPECT_EQ(owner, boxOwner);
    EXPECT_EQ(reinterpret_cast<LRESULT>(LoadIconA(nullptr, IDI_HAND)), icon);

    DeleteFileA(target.c_str());
    DestroyWindow(owner);
}
