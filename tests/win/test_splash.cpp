// The splash screen, the about box and the credits, driven from a helper
// thread while the dialog blocks the test thread.
#include <gtest/gtest.h>
#include <windows.h>
#include "boxwatch.h"
#include "app/titlesplash.h"
#include "resources/resource.h"
#include "viewer/jpeg.h"
#include "viewer/png.h"
#include <jconfig.h>
#include <png.h>
#include <zlib.h>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#define TEST_STR2(x) #x
#define TEST_STR(x) TEST_STR2(x)

namespace {

BOOL CALLBACK Visit(HWND hwnd, LPARAM found)
{
    char cls[16] = "", caption[16] = "";
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, caption, sizeof caption);
    if (strcmp(cls, "#32770") || strcmp(caption, "Quillet") || !IsWindowVisible(hwnd))
        return TRUE;
    *(HWND *)found = hwnd;
    return FALSE;
}

// Runs `show` here and, on another thread, `drive` with dialog 950 once it
// shows; returns the time `show` took in ms. A first dialog under Wine may
// take seconds to appear: the helper looks for it as long as `show` runs.
DWORD Drive(const std::function<void()> &show, const std::function<void(HWND)> &drive)
{
    DWORD self = GetCurrentThreadId();
    std::atomic<bool> done(false);
    std::thread helper([&] {
        HWND found = nullptr;
        for (; !found && !done; Sleep(20))
            EnumThreadWindows(self, Visit, (LPARAM)&found);
        if (found)
            drive(found);
    });
    DWORD start = GetTickCount();
    show();
    DWORD took = GetTickCount() - start;
    done = true;
    helper.join();
    return took;
}

std::string ItemText(HWND dlg, int id)
{
    char text[1024] = "";
    GetDlgItemTextA(dlg, id, text, sizeof text);
    return text;
}

bool Shown(HWND dlg, int id)
{
    return IsWindowVisible(GetDlgItem(dlg, id)) != FALSE;
}

} // namespace

TEST(Splash, ClosesOnItsTimerAndShowsNoButtons)
{
    bool close = true, credits = true;
    std::string version;
    DWORD took = Drive([] { ShowTitleSplash(1500); },
                       [&](HWND dlg) {
                           close = Shown(dlg, IDOK);
                           credits = Shown(dlg, IDC_CREDITS);
                           version = ItemText(dlg, IDC_VERSION);
                       });
    EXPECT_GE(took, 1400u);
    EXPECT_LT(took, 10000u);
    EXPECT_FALSE(close);
    EXPECT_FALSE(credits);
    EXPECT_EQ("Version 6.0.200 (12 Feb 2018)", version);

    // 0 is the about box's mode: no time must not mean waiting for the user.
    DWORD start = GetTickCount();
    ShowTitleSplash(0);
    EXPECT_LT(GetTickCount() - start, 5000u);
}

TEST(Splash, EscapeClosesItAtOnce)
{
    bool focused = false;
    int focusId = 0;
    DWORD took =
        Drive([] { ShowTitleSplash(20000); },
              [&](HWND dlg) {
                  // The key goes where the keyboard sends it: the focus, once the dialog is active.
                  GUITHREADINFO info = {};
                  info.cbSize = sizeof info;
                  for (DWORD start = GetTickCount(); !focused && GetTickCount() - start < 2000; Sleep(20)) {
                      GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &info);
                      focused = info.hwndFocus == dlg || IsChild(dlg, info.hwndFocus);
                  }
                  focusId = GetDlgCtrlID(info.hwndFocus);
                  PostMessageA(info.hwndFocus ? info.hwndFocus : dlg, WM_KEYDOWN, VK_ESCAPE, 1);
              });
    EXPECT_TRUE(focused);
    EXPECT_NE(IDC_WEBLINK, focusId) << "Enter would open the web page";
    EXPECT_LT(took, 10000u);
}

TEST(Splash, AboutBoxShowsCloseAndCreditsAndWaits)
{
    bool stayed = false, close = false, credits = false;
    HWND owner = nullptr;
    Drive(ShowAboutBox, [&](HWND dlg) {
        Sleep(600);
        stayed = IsWindowVisible(dlg) != FALSE;
        close = Shown(dlg, IDOK);
        credits = Shown(dlg, IDC_CREDITS);
        owner = GetWindow(dlg, GW_OWNER);
        SendDlgItemMessageA(dlg, IDOK, BM_CLICK, 0, 0);
    });
    EXPECT_TRUE(stayed);
    EXPECT_TRUE(close);
    EXPECT_TRUE(credits);
    // The desktop owns it, so nothing is disabled while it shows.
    EXPECT_TRUE(owner == nullptr || owner == GetDesktopWindow());
}

TEST(Credits, NameTheLinkedLibrariesWithTheirOwnTexts)
{
    std::string text;
    HWND about = nullptr, owner = nullptr;
    std::atomic<bool> answered(false);
    // Seen as a box: the about box that owns it is disabled meanwhile.
    ExpectBox("Quillet Credits", [&](HWND box) {
        text = ItemText(box, IDC_CREDITSTEXT);
        owner = GetWindow(box, GW_OWNER);
        answered = true;
        SendDlgItemMessageA(box, IDOK, BM_CLICK, 0, 0);
    });
    Drive(ShowAboutBox, [&](HWND dlg) {
        about = dlg;
        PostMessageA(dlg, WM_COMMAND, IDC_CREDITS, 0);
        for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(20))
            if (answered && IsWindowEnabled(dlg))
                break;
        PostMessageA(dlg, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(0, TakePendingBoxes());
    EXPECT_EQ(about, owner);
    EXPECT_LE(text.size(), 1023u);
    EXPECT_EQ(std::string(JPGVersion()) + PNGVersion() + "\n" + ZLIBVersion(), text);

    // Versions as the libraries report them, each with its own copyright.
    std::string jpeg = "libjpeg-turbo version " TEST_STR(LIBJPEG_TURBO_VERSION) " (libjpeg ";
    std::string png = std::string("\nlibpng version ") + png_get_libpng_ver(nullptr) + "\nCopyright";
    std::string zlib = std::string("\nzlib version ") + zlibVersion() + "\nCopyright 1995-";
    EXPECT_EQ(0u, text.find(jpeg)) << text;
    EXPECT_NE(std::string::npos, text.find("\nCopyright (C) 1991-")) << text;
    EXPECT_NE(std::string::npos, text.find(png)) << text;
    EXPECT_LT(text.find(png), text.find(zlib)) << text;
    EXPECT_NE(std::string::npos, text.find("Jean-loup Gailly and Mark Adler\n")) << text;
}
