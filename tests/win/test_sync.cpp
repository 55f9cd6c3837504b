// The synchronisation against the in-memory service, through the real store,
// progress dialog and message boxes; the account dialog; the local manager's
// way into the cloud.
#include "boxwatch.h"
#include "fakeservice.h"
#include "testutil.h"
#include "clippings/clipmgr.h"
#include "clippings/store.h"
#include "cloud/account.h"
#include "cloud/sync.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <thread>

namespace {

using Texts = std::vector<std::string>;

void Local(char letter, const std::string &name, const char *date)
{
    const std::string section = std::string("Clip ") + letter;
    WriteSettingsStringA(section.c_str(), "Name", name.c_str());
    WriteSettingsStringW(section.c_str(), "UTF", std::wstring(name.begin(), name.end()).c_str());
    WriteSettingsStringA(section.c_str(), "LastUpdate", date);
}

std::string Setting(const char *section, const char *name)
{
    char buf[64];
    GetSettingsStringA(section, name, "<none>", buf, sizeof buf);
    return buf;
}

Texts LocalNames()
{
    ClippingEntry table[MAX_CLIPPINGS];
    uint32_t order[MAX_CLIPPINGS];
    Texts names;
    for (uint32_t k = 0, n = LoadClippingNames(table, MAX_CLIPPINGS, order); k < n; k++)
        names.push_back(table[order[k]].name);
    return names;
}

// The progress texts with their bar positions ("text@percent"), as the
// dialog on this thread is told them.
Texts m_progress;

LRESULT CALLBACK RecordProgress(int code, WPARAM wParam, LPARAM lParam)
{
    auto *sent = reinterpret_cast<CWPSTRUCT *>(lParam);
    if (sent->message == WM_SETTEXT && GetDlgCtrlID(sent->hwnd) == IDC_SP_TEXT)
        m_progress.push_back(reinterpret_cast<const char *>(sent->lParam));
    else if (sent->message == PBM_SETPOS && GetDlgCtrlID(sent->hwnd) == IDC_SP_BAR && !m_progress.empty())
        m_progress.back() += "@" + std::to_string(sent->wParam);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Runs a synchronisation here; the text of the box it ends with.
std::string Sync(int result = 1, const char *caption = "Synchronize Clippings")
{
    m_progress.clear();
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, RecordProgress, nullptr, GetCurrentThreadId());
    std::string text;
    ExpectBox(caption, NoteText(&text));
    EXPECT_EQ(result, SyncClips(nullptr));
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(0, TakePendingBoxes());
    return text;
}

std::string Summary(unsigned up, unsigned down, unsigned deleted, unsigned same, const char *more = "")
{
    char text[512];
    snprintf(text, sizeof text,
             "Synchronization Completed at %s\n%4u Clips uploaded\n%4u Clips downloaded\n%4u Clips deleted\n"
             "%4u Clips unchanged.%s",
             Setting(nullptr, "LastSync").c_str(), up, down, deleted, same, more);
    return text;
}

// A window that starts a run when asked with WM_APP; 10 + the run's result.
LRESULT CALLBACK SyncOnRequest(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return msg == WM_APP ? SyncClips(hwnd) + 10 : DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

TEST(Sync, FollowsTheDecisionsThroughARealRun)
{
    FakeService service;
    const int32_t user = service.SignIn();
    WriteSettingsStringA(nullptr, "LastSync", "2018-01-01 00:00:00");
    Local('A', "New", "2017-06-01 00:00:00");
    Local('B', "Older", "2018-03-01 00:00:00");
    Local('C', "Same", "2017-06-01 00:00:00");
    Local('D', "fresh", "2017-06-01 00:00:00");
    Local('E', "Gone", "2017-06-01 00:00:00");
    WriteSettingsInt(nullptr, "ClipCount", 5);
    service.AddClip(user, 11, "Older", "2018-02-01 00:00:00");
    service.AddClip(user, 12, "Same", "2017-12-01 00:00:00");
    service.AddClip(user, 13, "FRESH", "2018-02-01 00:00:00", 'A', "fresh\r\nfrom $ the cloud");
    service.AddClip(user, 14, "Gone", "2018-02-01 00:00:00", 'X');
    service.AddClip(user, 15, "Extra", "2018-02-01 00:00:00", 'A', "extra", "{\\rtf1 x}");
    service.AddClip(user, 16, "Dead", "2018-02-01 00:00:00", 'X');

    EXPECT_EQ(Summary(2, 2, 1, 1), Sync());
    EXPECT_EQ((Texts{"Starting Synchronization...@0", "Getting registered User ID...@0",
                     "Getting your clippings from the cloud...@0", "Uploading 'New' to the server.@14",
                     "Updating 'Older' on the server.@28", "Clip 'Same' unchanged.@42",
                     "Downloading 'FRESH' from the server.@57", "Deleting the local clipping 'Gone'.@71",
                     "Downloading 'Extra' from the server.@85"}),
              m_progress);
    EXPECT_EQ((Texts{"Extra", "FRESH", "New", "Older", "Same"}), LocalNames());
    EXPECT_EQ("fresh\r\nfrom $ the cloud", Setting("Clip D", "UTF"));
    EXPECT_EQ("{\\rtf1 x}", Setting("Clip E", "RTF"));
    const std::vector<FakeClip> clips = service.Clips(user);
    ASSERT_EQ(7u, clips.size());
    EXPECT_EQ("New", clips.back().name);
    EXPECT_EQ("New", service.Plain(user, clips.back().id, PART_UTF));
    EXPECT_EQ("Older", service.Plain(user, 11, PART_UTF));
    EXPECT_NE("2018-01-01 00:00:00", Setting(nullptr, "LastSync"));
}

TEST(Sync, SkipsWhatTheFullStoreCannotTake)
{
    FakeService service;
    const int32_t user = service.SignIn();
    for (char letter = 'A'; letter < 'I'; letter++)
        Local(letter, std::string("Local ") + letter, "2018-02-12 09:05:00");
    WriteSettingsInt(nullptr, "ClipCount", 8);
    for (int32_t id = 1; id <= 4; id++)
        service.AddClip(user, id, "Cloud " + std::to_string(id), "2018-02-01 00:00:00");
    EXPECT_EQ(Summary(8, 2, 0, 0, "\n\n   2 Clips skipped because the local storage is full."), Sync());
    EXPECT_EQ("Skipping 'Cloud 4' - local storage full.@100", m_progress.back());
    EXPECT_EQ(10u, LocalNames().size());
}

// A failure never passes for a completed run, nor for a download.
TEST(Sync, ReportsFailuresWithoutLosingTheNextRun)
{
    FakeService service;
    service.AddClip(service.SignIn(), 5, "Theirs", "2018-02-01 00:00:00");
    WriteSettingsStringA(nullptr, "LastSync", "2018-01-01 00:00:00");
    Local('A', "Mine", "2018-02-12 09:05:00");

    service.Fail({"knock", "open"});
    EXPECT_EQ(LoadedString(IDS_NOSYNCACCOUNT), Sync(0, "Error"));
    service.Fail({"list"});
    EXPECT_EQ("Your clippings in the cloud could not be listed, so nothing was synchronized. Please try "
              "again later.",
              Sync(0));
    EXPECT_EQ((Texts{"knock", "open", "knock", "list"}), service.Acts());
    EXPECT_EQ("2018-01-01 00:00:00", Setting(nullptr, "LastSync"));

    service.Fail({"getdata"});
    EXPECT_EQ(Summary(1, 0, 0, 0, "\n\n   1 Clips could not be downloaded."), Sync());
    EXPECT_EQ((Texts{"Mine"}), LocalNames());

    // An empty cloud is no failure: the clipping goes up.
    service.Fail({});
    WriteSettingsStringA(nullptr, "AccountName", "bob");
    const int32_t bob = service.AddAccount("bob", "Secret99key");
    EXPECT_EQ(Summary(1, 0, 0, 0), Sync());
    EXPECT_EQ("Mine", service.Plain(bob, service.Clips(bob).at(0).id, PART_UTF));
}

// While the service holds the list, the progress dialog is painted, and
// neither another thread nor a message reaching this one starts a run.
TEST(Sync, RunsOnceAndKeepsTheProgressPainted)
{
    FakeService service;
    service.SignIn();
    service.Gate("list");
    WNDCLASSA wc = {};
    wc.lpszClassName = "QuilletTestSyncOwner";
    wc.lpfnWndProc = SyncOnRequest;
    RegisterClassA(&wc);
    HWND owner =
        CreateWindowA(wc.lpszClassName, "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
    std::thread other([&service, owner] {
        ASSERT_TRUE(WaitFor([&service] { return service.Waiting(); }));
        HWND progress = FindWindowA("#32770", "Syncronize Clips");
        EXPECT_TRUE(progress && IsWindowVisible(progress));
        InvalidateRect(progress, nullptr, TRUE);
        EXPECT_TRUE(WaitFor([progress] { return !GetUpdateRect(progress, nullptr, FALSE); }));
        EXPECT_EQ(0, SyncClips(nullptr));
        DWORD_PTR result = 0;
        EXPECT_TRUE(SendMessageTimeoutA(owner, WM_APP, 0, 0, SMTO_BLOCK, 5000, &result));
        EXPECT_EQ(10u, result);
        service.Open();
    });
    EXPECT_EQ(Summary(0, 0, 0, 0), Sync());
    other.join();
    DestroyWindow(owner);
    EXPECT_EQ((Texts{"knock", "list"}), service.Acts());
}

// The dialog proposes the user's name and random keys, refuses a weak key,
// and a cancelled dialog cancels the run.
TEST(CloudAccount, RefusesWeakKeysGeneratesAndCancels)
{
    FakeService service;
    ExpectBox("Cloud Account", ClickButton(IDCANCEL));
    EXPECT_EQ(0, SyncClips(nullptr));
    EXPECT_TRUE(service.Acts().empty());

    Texts seen;
    ExpectBox("Cloud Account", [&seen](HWND dlg) {
        seen.push_back(WindowText(GetDlgItem(dlg, IDC_ACC_NAME)));
        for (int i = 0; i < 2; i++) {
            SendDlgItemMessageA(dlg, IDC_ACC_GENERATE, BM_CLICK, 0, 0);
            seen.push_back(WindowText(GetDlgItem(dlg, IDC_ACC_KEY)));
        }
        SetDlgItemTextA(dlg, IDC_ACC_KEY, "ab-cd-12-x!");
        std::thread ok([dlg] { SendDlgItemMessageA(dlg, IDOK, BM_CLICK, 0, 0); });
        HWND box = nullptr;
        EXPECT_TRUE(WaitFor([&box] { return (box = FindWindowA("#32770", "Quillet")) != nullptr; }));
        seen.push_back(WindowText(GetDlgItem(box, 0xFFFF)));
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        ok.join();
        SetDlgItemTextA(dlg, IDC_ACC_KEY, "ab-cd-12-xy");
        SetDlgItemTextA(dlg, IDC_ACC_SERVER, "");
        SendDlgItemMessageA(dlg, IDOK, BM_CLICK, 0, 0);
    });
    EXPECT_TRUE(EnsureCloudAccount(nullptr));
    char user[256];
    DWORD size = sizeof user;
    GetUserNameA(user, &size);
    ASSERT_EQ(4u, seen.size());
    EXPECT_EQ(user, seen[0]);
    for (const std::string &key : {seen[1], seen[2]})
        EXPECT_EQ(20u, strspn(key.c_str(), "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"))
            << key;
    EXPECT_NE(seen[1], seen[2]);
    EXPECT_EQ("The account key needs at least 8 letters or digits.", seen[3]);
    EXPECT_EQ("ab-cd-12-xy", Setting(nullptr, "AccountKey"));
    EXPECT_EQ("<none>", Setting(nullptr, "ServerHost"));
    EXPECT_TRUE(EnsureCloudAccount(nullptr)); // no dialog once an account is set
}

TEST(Sync, LocalManagerFetchesFromTheCloudWhenEmpty)
{
    ExpectBox("Error", ClickButton(IDNO));
    EXPECT_EQ(2, ClipMgrDialog(nullptr));

    FakeService service;
    service.AddClip(service.SignIn(), 7, "Cloudy", "2018-02-01 00:00:00");
    Texts listed;
    ExpectBox("Error", ClickButton(IDYES));
    ExpectBox("Synchronize Clippings", ClickButton(IDOK));
    HWND owner = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
    ExpectBox("Manage Local Clippings", [&listed](HWND dlg) {
        listed.push_back(std::to_string(SendDlgItemMessageA(dlg, IDC_CM_LIST, LB_GETCOUNT, 0, 0)));
        listed.push_back(IsWindowEnabled(GetDlgItem(dlg, IDC_CM_SYNC)) ? "sync" : "no sync");
        PostMessageA(dlg, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(1, ClipMgrDialog(owner));
    DestroyWindow(owner);
    EXPECT_EQ((Texts{"1", "sync"}), listed);
    EXPECT_EQ(0, TakePendingBoxes());
}
