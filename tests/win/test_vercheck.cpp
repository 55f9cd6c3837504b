// The update check against a scripted server: its boxes, the menu command
// and what it costs the program's start.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "boxwatch.h"
#include "mainwindow.h"
#include "net/http.h"
#include "net/vercheck.h"
#include "resources/resource.h"
#include "scriptedserver.h"
#include "settings/registry.h"
#include "testutil.h"

namespace {

const std::string CURRENT =
    "HTTP/1.1 200 OK\r\n\r\nRelDate=12 Feb 2018\r\nVmajor=6\r\nVminor=0\r\nVbuild=200\r\n";

// Notes the box's text (and owner), then clicks `id`.
BoxAnswer Note(std::string *text, int id, HWND *owner = nullptr)
{
    return [=](HWND box) {
        *text = WindowText(GetDlgItem(box, 0xFFFF));
        if (owner)
            *owner = GetWindow(box, GW_OWNER);
        ClickButton(id)(box);
    };
}

// Starts quillet.exe without its splash; the milliseconds until its main
// window shows, or -1.
long StartupMs()
{
    WriteSettingsInt(nullptr, "HideSplash", 1);
    std::string cmd = "\"" + BesideTestProgram("quillet.exe") + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    DWORD start = GetTickCount();
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    HWND main = nullptr;
    bool shown = WaitFor(
        [&] { return (main = FindWindowA(nullptr, "Quillet 6.0.200")) && IsWindowVisible(main); }, 15000);
    long ms = shown ? static_cast<long>(GetTickCount() - start) : -1;
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return ms;
}

class UpdateMenu : public MainWindowTest {};

} // namespace

TEST(VersionCheck, AnyOtherReleaseIsOfferedAndFailuresShowNothing)
{
    std::string date(600, 'd');
    struct {
        std::string keys, release;
    } cases[] = {
        {"RelDate=1 Mar 2019\r\nVmajor=6\r\nVminor=1\r\nVbuild=210\r\n",
         "6.1 Build 210 was released 1 Mar 2019"},
        {"Vbuild=199\r\nVminor=0\r\nVmajor=6\r\n", "6.0 Build 199 was released "},
        {"Vmajor=5\r\nVminor=9\r\nVbuild=300\r\n", "5.9 Build 300 was released "},
        {"Vmajor=6\r\nVminor=0\r\nVbuild =200\r\n", "6.0 Build 4294967295 was released "},
        {"RelDate=soon\nVmajor=6\nVminor=0\n",
         "6.0 Build 4294967295 was released soon\nVmajor=6\nVminor=0\n"},
        {"RelDate=" + date + "\r\nVmajor=7\r\n", "7.4294967295 Build 4294967295 was released " + date},
    };
    int interactive = 0;
    for (const auto &c : cases) {
        ScriptedServer server({"HTTP/1.1 200 OK\r\n\r\n" + c.keys});
        std::string text;
        ExpectBox("Update Available", Note(&text, IDNO));
        EXPECT_EQ(1, GetCurrentVersionInfo(GetDesktopWindow(), interactive ^= 1));
        EXPECT_EQ("A new version of Quillet is available: Version " + c.release +
                      ".\n\nYou are currently running Version 6.0 Build 200.\n\nWould you like to learn more "
                      "about this new version now?",
                  text);
    }
    ScriptedServer notFound({"HTTP/1.1 404 Not Found" + CURRENT.substr(15)});
    EXPECT_EQ(1, GetCurrentVersionInfo(GetDesktopWindow(), 1));
    WriteSettingsStringA(nullptr, "ServerHost", "127.0.0.1:1");
    EXPECT_EQ(1, GetCurrentVersionInfo(GetDesktopWindow(), 1));
}

TEST_F(UpdateMenu, CurrentReleaseIsConfirmedOnlyWhenAsked)
{
    ScriptedServer server({CURRENT});
    EXPECT_EQ(0, GetCurrentVersionInfo(GetDesktopWindow(), 0));
    std::string text;
    HWND owner = nullptr;
    ExpectBox("Quillet is up-to-date", Note(&text, IDOK, &owner));
    Command(IDM_UPDATECHECK);
    EXPECT_EQ("You are currently running Version 6.0 Build 200, the current version of Quillet.", text);
    EXPECT_EQ(Main(), owner);
    EXPECT_EQ(std::vector<std::string>(2, "GET " VCHK_PATH "?app=Quillet HTTP/1.1\r\nHost: " + server.host +
                                              "\r\n\r\n"),
              server.Requests());
}

TEST(VersionCheck, StartWaitsForTheCheckAtMostTwoAndAHalfSeconds)
{
    WriteSettingsInt(nullptr, "NoVerCheck", 1);
    ScriptedServer silent({}, true);
    long unchecked = StartupMs();
    WriteSettingsInt(nullptr, "NoVerCheck", 0);
    long waited = StartupMs();
    EXPECT_EQ(1u, silent.Requests().size());
    long current = [] {
        ScriptedServer server({CURRENT});
        return StartupMs();
    }();
    WriteSettingsStringA(nullptr, "ServerHost", "127.0.0.1:1");
    long refused = StartupMs();
    printf("start: no check %ld ms, current %ld ms, refused %ld ms, silent %ld ms\n", unchecked, current,
           refused, waited);
    EXPECT_TRUE(unchecked >= 0 && current >= 0 && refused >= 0);
    EXPECT_LT(refused, unchecked + 2000);
    EXPECT_GE(waited, 2400);
    EXPECT_LT(waited, unchecked + 3500);
    EXPECT_EQ(nullptr, FindWindowA(nullptr, "Update Available"));

    // The start-up thread shows its own box; start-up waits for the answer.
    ScriptedServer newer({"HTTP/1.1 200 OK\r\n\r\nVmajor=6\r\nVminor=1\r\nVbuild=1\r\n"});
    std::string text;
    ExpectBox("Update Available", Note(&text, IDNO));
    ASSERT_NE(nullptr, LaunchVersionCheck(GetDesktopWindow()));
    TerminateVersionCheck();
    EXPECT_NE(std::string::npos, text.find("Version 6.1 Build 1 was released ."));
}
