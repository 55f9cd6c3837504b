// The splash, the about box with its credits, and the help loader.
#include <atomic>
#include <thread>
#include "app/helploader.h"
#include "app/titlesplash.h"
#include "boxwatch.h"
#include "resources/resource.h"
#include "testutil.h"
#include "viewer/jpeg.h"
#include "viewer/png.h"

namespace {

bool Shown(HWND dlg, int id)
{
    return IsWindowVisible(GetDlgItem(dlg, id)) != FALSE;
}

// Runs `show` here while a helper thread hands dialog 950 ("Quillet", no box
// to the watcher) to `drive` once it shows, and closes it if it then stays
// for ten seconds; whether it showed.
bool WhileShown(const std::function<void()> &show, const std::function<void(HWND)> &drive)
{
    std::atomic<bool> done{false}, shown{false};
    std::thread helper([&] {
        HWND dlg = nullptr;
        while (!done && !((dlg = FindWindowA("#32770", "Quillet")) && IsWindowVisible(dlg)))
            Sleep(20);
        if (done)
            return;
        shown = true;
        drive(dlg);
        if (!WaitFor([dlg] { return !IsWindow(dlg); }, 10000)) {
            ADD_FAILURE() << "the dialog stayed";
            PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
        }
    });
    show();
    done = true;
    helper.join();
    return shown;
}

} // namespace

// The splash shows the version without buttons and ends by itself; no time
// is no splash. The about box waits with Close and Credits, whose box over
// it names the libraries.
TEST(About, TheSplashEndsByItselfAndTheAboutBoxWaits)
{
    EXPECT_TRUE(WhileShown([] { ShowTitleSplash(1500); },
                           [](HWND dlg) {
                               EXPECT_FALSE(Shown(dlg, IDOK) || Shown(dlg, IDC_CREDITS));
                               EXPECT_EQ("Version 6.0.200 (12 Feb 2018)",
                                         WindowText(GetDlgItem(dlg, IDC_VERSION)));
                           }));
    EXPECT_FALSE(WhileShown([] { ShowTitleSplash(0); }, [](HWND) {}));

    HWND about = nullptr, creditsOwner = nullptr;
    std::string credits;
    ExpectBox("Quillet Credits", [&](HWND box) {
        credits = WindowText(GetDlgItem(box, IDC_CREDITSTEXT));
        creditsOwner = GetWindow(box, GW_OWNER);
        SendDlgItemMessageA(box, IDOK, BM_CLICK, 0, 0);
        PostMessageA(creditsOwner, WM_COMMAND, IDOK, 0);
    });
    EXPECT_TRUE(WhileShown(ShowAboutBox, [&about](HWND dlg) {
        Sleep(600); // longer than a splash without time would stay
        EXPECT_TRUE(IsWindowVisible(dlg) && Shown(dlg, IDOK) && Shown(dlg, IDC_CREDITS));
        PostMessageA(about = dlg, WM_COMMAND, IDC_CREDITS, 0);
    }));
    EXPECT_EQ(0, TakePendingBoxes());
    EXPECT_EQ(about, creditsOwner);
    EXPECT_EQ(std::string(JPGVersion()) + PNGVersion() + "\n" + ZLIBVersion(), credits);
    EXPECT_EQ(0u, credits.find("libjpeg-turbo version ")) << credits;
}

// A module that cannot be found, or that lacks the entry point, is tried once
// and never again; the control itself is found on the search path, once.
TEST(HelpLoader, TriesOnceAndNeverAgainAfterAFailure)
{
    static int located;
    const auto nowhere = [](char *path) {
        ++located;
        lstrcpyA(path, "C:\\quillet-nowhere\\hhctrl.ocx");
        return 1;
    };
    HelpEntryLoader loaders[] = {{nowhere, "quillet-nowhere.ocx", 14, nullptr, FALSE, nullptr},
                                 {nowhere, "hhctrl.ocx", 9999, nullptr, FALSE, nullptr},
                                 {nowhere, "hhctrl.ocx", 14, nullptr, FALSE, nullptr}};
    for (HelpEntryLoader &loader : loaders) {
        located = 0;
        const FARPROC entry = ResolveHelpEntry(loader);
        EXPECT_EQ(entry, ResolveHelpEntry(loader));
        EXPECT_EQ(&loader == &loaders[2], entry != nullptr);
        EXPECT_EQ(1, located);
    }
    EXPECT_TRUE(loaders[1].failed);
    EXPECT_EQ(GetProcAddress(GetModuleHandleA("hhctrl.ocx"), MAKEINTRESOURCEA(14)),
              ResolveHelpEntry(loaders[2]));
}
