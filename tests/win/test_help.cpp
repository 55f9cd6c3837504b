// HTML Help through the loader and the real control, and launching with the shell.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstring>
#include <string>
#include "app/help.h"
#include "app/helploader.h"
#include "boxwatch.h"
#include "testutil.h"
#include "util/globals.h"
#include "util/guards.h"

namespace {

int g_located; // calls of Locate
const char *g_location; // what Locate finds: null nothing, "" the registered location

int Locate(char *path)
{
    ++g_located;
    if (g_location && *g_location)
        lstrcpyA(path, g_location);
    return !g_location ? 0 : *g_location ? 1 : GetRegisteredLocation(path);
}

bool HelpShown()
{
    HWND help = FindWindowA(nullptr, "Quillet Help");
    return help && IsWindowVisible(help);
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
        RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32", 0,
                        nullptr, 0, KEY_ALL_ACCESS, nullptr, m_key.put(), nullptr);
        m_had = RegQueryValueExA(m_key.get(), nullptr, nullptr, &m_type, m_saved, &m_size) == ERROR_SUCCESS;
    }
    ~RegisteredValue()
    {
        if (m_had)
            RegSetValueExA(m_key.get(), nullptr, 0, m_type, m_saved, m_size);
        else
            RegDeleteValueA(m_key.get(), nullptr);
    }
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
    DWORD m_type = 0, m_size = sizeof m_saved;
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

TEST(HelpLoader, ResolvesOnceAndNeverRetriesAFailure)
{
    const char *const missing = "C:\\quillet-nowhere\\hhctrl.ocx";
    // Neither the registered path nor the search path gives a module; or the
    // module loads but lacks the entry point, and stays loaded, unused.
    HelpEntryLoader noModule = {Locate, "quillet-nowhere.ocx", 14, nullptr, FALSE, nullptr};
    HelpEntryLoader noEntry = {Locate, "quillet-nowhere.ocx", 9999, nullptr, FALSE, nullptr};
    for (HelpEntryLoader *loader : {&noModule, &noEntry}) {
        g_located = 0;
        g_location = loader == &noModule ? missing : "";
        EXPECT_EQ(nullptr, ResolveHelpEntry(*loader));
        EXPECT_EQ(nullptr, ResolveHelpEntry(*loader));
        EXPECT_TRUE(loader->failed);
        EXPECT_EQ(1, g_located);
    }
    EXPECT_NE(nullptr, noEntry.module);

    // A wrong or no registered path: the module on the search path, once.
    HelpEntryLoader ansi = {Locate, "hhctrl.ocx", 14, nullptr, FALSE, nullptr};
    HelpEntryLoader wide = {Locate, "hhctrl.ocx", 15, nullptr, FALSE, nullptr};
    g_located = 0;
    g_location = missing;
    FARPROC ansiEntry = ResolveHelpEntry(ansi);
    g_location = nullptr;
    FARPROC wideEntry = ResolveHelpEntry(wide);
    HMODULE hhctrl = GetModuleHandleA("hhctrl.ocx");
    ASSERT_NE(nullptr, hhctrl);
    EXPECT_EQ(GetProcAddress(hhctrl, MAKEINTRESOURCEA(14)), ansiEntry);
    EXPECT_EQ(GetProcAddress(hhctrl, MAKEINTRESOURCEA(15)), wideEntry);
    EXPECT_EQ(ansiEntry, ResolveHelpEntry(ansi));
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
    std::string longest(MAX_PATH - 1, 'a'), tooLong(MAX_PATH + 1, 'a');
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

// Without a help file nothing opens; F1 twice initialises once, and ending
// closes the window.
TEST_F(Help, F1OpensOneWindowThatEndingCloses)
{
    HWND first = MakeWindow(), second = MakeWindow();
    CallHtmlHelp(first, 0, 0);
    Settle();
    EXPECT_EQ(nullptr, gvGlobals.HelpOwner);
    EXPECT_EQ(0u, gvGlobals.HelpCookie);
    EXPECT_FALSE(HelpShown());

    std::string chm = BesideTestProgram("quillet.chm");
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(chm.c_str())) << chm;
    gvGlobals.HelpFile = &chm[0];
    CallHtmlHelp(first, 0, 0);
    DWORD_PTR cookie = gvGlobals.HelpCookie;
    EXPECT_EQ(first, gvGlobals.HelpOwner);
    EXPECT_TRUE(WaitFor(HelpShown)) << "no help window";
    CallHtmlHelp(second, 0, 0);
    EXPECT_EQ(first, gvGlobals.HelpOwner) << "HTML Help initialised again";
    EXPECT_EQ(cookie, gvGlobals.HelpCookie);
    Settle();
    TerminateHtmlHelp();
    EXPECT_EQ(nullptr, gvGlobals.HelpOwner);
    EXPECT_EQ(0u, gvGlobals.HelpCookie);
    EXPECT_TRUE(WaitFor([] { return !HelpShown(); })) << "help window left open";
    DestroyWindow(first);
    DestroyWindow(second);
}

TEST_F(Help, LaunchWithoutAssociatedProgramShowsTheSystemMessage)
{
    std::string target = TempPath("quillet-launch.qltest");
    CloseHandle(CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    HWND owner = MakeWindow(), boxOwner = nullptr;
    std::string shown;
    LRESULT icon = 0;
    ExpectBox(APP_NAME, [&](HWND box) {
        boxOwner = GetWindow(box, GW_OWNER);
        // The icon's control id differs between systems.
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                icon = SendMessageA(child, STM_GETICON, 0, 0);
        NoteText(&shown)(box);
    });
    EXPECT_EQ(0, DoLaunch(owner, target.c_str()));
    char text[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_NO_ASSOCIATION,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    EXPECT_EQ(text, shown);
    EXPECT_EQ(owner, boxOwner);
    EXPECT_EQ(reinterpret_cast<LRESULT>(LoadIconA(nullptr, IDI_HAND)), icon);
    DeleteFileA(target.c_str());
    DestroyWindow(owner);
}
