// The splash screen, the about box and the credits, driven from a helper
// thread while the dialog blocks the test thread.
#include <gtest/gtest.h>
#include <windows.h>
#include "boxwatch.h"
#include "testutil.h"
#include "app/titlesplash.h"
#include "resources/resource.h"
#include "viewer/jpeg.h"
#include "viewer/png.h"
#include <jconfig.h>
#include <png.h>
#include <zlib.h>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#define TEST_STR2(x) #x
#define TEST_STR(x) TEST_STR2(x)

namespace {

BOOL CALLBACK Visit(HWND hwnd, LPARAM found)
{
    char cls[16] = "";
    GetClassNameA(hwnd, cls, sizeof cls);
    if (std::string(cls) != "#32770" || WindowText(hwnd) != "Quillet" || !IsWindowVisible(hwnd))
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

bool Shown(HWND dlg, int id)
{
    return IsWindowVisible(GetDlgItem(dlg, id)) != FALSE;
}

} // namespace

TEST(Splash, ClosesOnItsTimerOrEscapeAndShowsNoButtons)
{
    bool buttons = true;
    std::string version;
    DWORD took = Drive([] { ShowTitleSplash(1500); },
                       [&](HWND dlg) {
                           buttons = Shown(dlg, IDOK) || Shown(dlg, IDC_CREDITS);
                           version = WindowText(GetDlgItem(dlg, IDC_VERSION));
                       });
    EXPECT_GE(took, 1400u);
    EXPECT_LT(took, 10000u);
    EXPECT_FALSE(buttons);
    EXPECT_EQ("Version 6.0.200 (12 Feb 2018)", version);

    // 0 is the about box's mode: no time must not mean waiting for the user.
    DWORD start = GetTickCount();
    ShowTitleSplash(0);
    EXPECT_LT(GetTickCount() - start, 5000u);

    // Escape goes where the keyboard sends it: the focus, once the dialog is
    // active; never the web link, where Enter would open the web page.
    bool focused = false;
    int focusId = 0;
    took = Drive([] { ShowTitleSplash(20000); },
                 [&](HWND dlg) {
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
    EXPECT_NE(IDC_WEBLINK, focusId);
    EXPECT_LT(took, 10000u);
}

// The about box waits with Close and Credits, owned by the desktop so that
// nothing is disabled while it shows; the credits box it opens (and which
// disables it) names the linked libraries with their own texts.
TEST(Splash, AboutBoxAndCredits)
{
    bool stayed = false, buttons = false;
    HWND about = nullptr, owner = nullptr, creditsOwner = nullptr;
    std::string text;
    std::atomic<bool> answered(false);
    ExpectBox("Quillet Credits", [&](HWND box) {
        text = WindowText(GetDlgItem(box, IDC_CREDITSTEXT));
        creditsOwner = GetWindow(box, GW_OWNER);
        answered = true;
        SendDlgItemMessageA(box, IDOK, BM_CLICK, 0, 0);
    });
    Drive(ShowAboutBox, [&](HWND dlg) {
        about = dlg;
        Sleep(600);
        stayed = IsWindowVisible(dlg) != FALSE;
        buttons = Shown(dlg, IDOK) && Shown(dlg, IDC_CREDITS);
        owner = GetWindow(dlg, GW_OWNER);
        PostMessageA(dlg, WM_COMMAND, IDC_CREDITS, 0);
        for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(20))
            if (answered && IsWindowEnabled(dlg))
                break;
        SendDlgItemMessageA(dlg, IDOK, BM_CLICK, 0, 0);
    });
    EXPECT_TRUE(stayed && buttons);
    EXPECT_TRUE(owner == nullptr || owner == GetDesktopWindow());
    EXPECT_EQ(0, TakePendingBoxes());
    EXPECT_EQ(about, creditsOwner);
    EXPECT_LE(text.size(), 1023u);
    EXPECT_EQ(std::string(JPGVersion()) + PNGVersion() + "\n" + ZLIBVersion(), text);
    std::string jpeg = "libjpeg-turbo version " TEST_STR(LIBJPEG_TURBO_VERSION) " (libjpeg ";
    std::string png = std::string("\nlibpng version ") + png_get_libpng_ver(nullptr) + "\nCopyright";
    std::string zlib = std::string("\nzlib version ") + zlibVersion() + "\nCopyright 1995-";
    EXPECT_EQ(0u, text.find(jpeg)) << text;
    EXPECT_NE(std::string::npos, text.find(png)) << text;
    EXPECT_LT(text.find(png), text.find(zlib)) << text;
}
