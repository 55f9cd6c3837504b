// The splash, the about box with its credits, and the help loader.
#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>
#include <functional>
#include <thread>
#include "app/helploader.h"
#include "app/titlesplash.h"
#include "boxwatch.h"
#include "resources/resource.h"
#include "testutil.h"
#include "viewer/jpeg.h"
#include "viewer/png.h"

namespace {

int m_located;

int LocateNowhere(char *path)
{
    ++m_located;
    lstrcpyA(path, "C:\\quillet-nowhere\\hhctrl.ocx");
    return 1;
}

bool Shown(HWND dlg, int id)
{
    return IsWindowVisible(GetDlgItem(dlg, id)) != FALSE;
}

// Runs `show` here while a helper thread hands dialog 950 ("Quillet", no box
// to the watcher) to `drive` once it shows, and closes it if it then stays
// for ten seconds.
void WhileShown(const std::function<void()> &show, const std::function<void(HWND)> &drive)
{
    std::atomic<bool> done{false};
    std::thread helper([&done, &drive] {
        HWND dlg = nullptr;
        while (!done && !((dlg = FindWindowA("#32770", "Quillet")) && IsWindowVisible(dlg)))
            Sleep(20);
        if (done)
            return;
        drive(dlg);
        for (int i = 0; i < 500 && IsWindow(dlg); i++)
            Sleep(20);
        EXPECT_FALSE(IsWindow(dlg)) << "the dialog stayed";
        PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
    });
    show();
    done = true;
    helper.join();
}

} // namespace

// The splash shows the version without buttons and ends by itself; no time
// is no splash. The about box waits with Close and Credits, whose box over
// it names the libraries.
TEST(About, TheSplashEndsByItselfAndTheAboutBoxWaits)
{
    std::string version, credits;
    bool buttons = true;
    WhileShown([] { ShowTitleSplash(1500); },
               [&](HWND dlg) {
                   buttons = Shown(dlg, IDOK) || Shown(dlg, IDC_CREDITS);
                   version = WindowText(GetDlgItem(dlg, IDC_VERSION));
               });
    EXPECT_FALSE(buttons);
    EXPECT_EQ("Version 6.0.200 (12 Feb 2018)", version);
    ShowTitleSplash(0);

    HWND about = nullptr, creditsOwner = nullptr;
    ExpectBox("Quillet Credits", [&](HWND box) {
        credits = WindowText(GetDlgItem(box, IDC_CREDITSTEXT));
        creditsOwner = GetWindow(box, GW_OWNER);
        SendDlgItemMessageA(box, IDOK, BM_CLICK, 0, 0);
        PostMessageA(creditsOwner, WM_COMMAND, IDOK, 0);
    });
    WhileShown(ShowAboutBox, [&about](HWND dlg) {
        Sleep(600); // longer than a splash without time would stay
        about = IsWindowVisible(dlg) && Shown(dlg, IDOK) && Shown(dlg, IDC_CREDITS) ? dlg : nullptr;
        PostMessageA(dlg, WM_COMMAND, IDC_CREDITS, 0);
    });
    EXPECT_EQ(0, TakePendingBoxes());
    EXPECT_NE(nullptr, about);
    EXPECT_EQ(about, creditsOwner);
    EXPECT_EQ(std::string(JPGVersion()) + PNGVersion() + "\n" + ZLIBVersion(), credits);
    EXPECT_EQ(0u, credits.find("libjpeg-turbo version ")) << credits;
}

// A module that cannot be found, or that lacks the entry point, is tried once
// and never again; the control itself is found on the search path, once.
TEST(HelpLoader, TriesOnceAndNeverAgainAfterAFailure)
{
    HelpEntryLoader noModule = {LocateNowhere, "quillet-nowhere.ocx", 14, nullptr, FALSE, nullptr};
    HelpEntryLoader noEntry = {LocateNowhere, "hhctrl.ocx", 9999, nullptr, FALSE, nullptr};
    HelpEntryLoader found = {LocateNowhere, "hhctrl.ocx", 14, nullptr, FALSE, nullptr};
    for (HelpEntryLoader *loader : {&noModule, &noEntry, &found}) {
        m_located = 0;
        const FARPROC entry = ResolveHelpEntry(*loader);
        EXPECT_EQ(entry, ResolveHelpEntry(*loader));
        EXPECT_EQ(loader == &found, entry != nullptr);
        EXPECT_EQ(1, m_located);
    }
    EXPECT_TRUE(noEntry.failed);
    EXPECT_EQ(GetProcAddress(GetModuleHandleA("hhctrl.ocx"), MAKEINTRESOURCEA(14)), ResolveHelpEntry(found));
}
