// The cloud clippings manager against the in-memory service. The dialog runs
// here; the box watcher's thread works it and answers the boxes it opens.
#include "boxwatch.h"
#include "fakeservice.h"
#include "mainwindow.h"
#include "testutil.h"
#include "cloud/cloudmgr.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include <gtest/gtest.h>
#include <atomic>
#include <memory>
#include <thread>

namespace {

using Texts = std::vector<std::string>;

// "name/id" of each listed clip.
Texts Items(HWND dlg)
{
    Texts items;
    for (LRESULT i = 0; i < SendDlgItemMessageA(dlg, IDC_CM_LIST, LB_GETCOUNT, 0, 0); i++) {
        char name[64] = "";
        SendDlgItemMessageA(dlg, IDC_CM_LIST, LB_GETTEXT, i, (LPARAM)name);
        items.push_back(name +
                        ("/" + std::to_string(SendDlgItemMessageA(dlg, IDC_CM_LIST, LB_GETITEMDATA, i, 0))));
    }
    return items;
}

// Clicks a button whose action opens a box, and answers the box; the text
// it showed. A name, when given, goes into the name dialog.
std::string Answer(HWND dlg, int id, const char *caption, int button, const char *name = nullptr)
{
    std::thread click([dlg, id] { SendDlgItemMessageA(dlg, id, BM_CLICK, 0, 0); });
    HWND box = nullptr;
    EXPECT_TRUE(WaitFor([&box, caption] {
        return (box = FindWindowA("#32770", caption)) && IsWindowVisible(box);
    })) << caption;
    std::string shown = WindowText(GetDlgItem(box, name ? IDC_CLIPNAME : 0xFFFF));
    if (name)
        SetDlgItemTextA(box, IDC_CLIPNAME, name);
    PostMessageA(box, WM_COMMAND, button, 0);
    click.join();
    return shown;
}

INT_PTR RunManager(std::function<void(HWND)> drive)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    ExpectBox("Manage Cloud Clippings", [drive, done](HWND dlg) {
        drive(dlg);
        *done = true;
    });
    HWND owner = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
    INT_PTR result = CloudMgrDialog(owner);
    EXPECT_TRUE(WaitFor([done] { return done->load(); }, 20000));
    EXPECT_EQ(0, TakePendingBoxes());
    DestroyWindow(owner);
    return result;
}

} // namespace

TEST(CloudMgr, ListsRenamesDeletesAndSynchronises)
{
    FakeService service;
    const int32_t user = service.SignIn();
    service.AddClip(user, 70000, "Alpha", "2018-02-01 00:00:00");
    service.AddClip(user, 3, "Gone", "2018-02-01 00:00:00", 'X');
    service.AddClip(user, 100000, "beta", "2018-02-01 00:00:00");
    WriteSettingsStringA("Clip A", "Name", "Local");
    WriteSettingsStringW("Clip A", "UTF", L"local");
    EXPECT_EQ(1, RunManager([](HWND dlg) {
                  EXPECT_EQ("Manage Cloud Clippings", WindowText(GetDlgItem(dlg, IDC_CM_GROUP)));
                  EXPECT_EQ((Texts{"Alpha/70000", "beta/100000"}), Items(dlg));
                  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg, IDC_CM_SYNC)));
                  SendDlgItemMessageA(dlg, IDC_CM_LIST, LB_SETCURSEL, 1, 0);
                  EXPECT_EQ("beta", Answer(dlg, IDC_CM_RENAME, "Rename Clipping", IDOK, "Gamma"));
                  EXPECT_EQ((Texts{"Alpha/70000", "Gamma/100000"}), Items(dlg));
                  SendDlgItemMessageA(dlg, IDC_CM_LIST, LB_SETCURSEL, 0, 0);
                  EXPECT_EQ("Are you sure you want to delete the clipping \"Alpha\"?",
                            Answer(dlg, IDC_CM_DELETE, "Confirm Delete", IDNO));
                  EXPECT_EQ(2u, Items(dlg).size());
                  Answer(dlg, IDC_CM_DELETE, "Confirm Delete", IDYES);
                  EXPECT_EQ((Texts{"Gamma/100000"}), Items(dlg));
                  Answer(dlg, IDC_CM_SYNC, "Synchronize Clippings", IDOK);
                  const Texts items = Items(dlg);
                  EXPECT_EQ(2u, items.size());
                  EXPECT_EQ("Local/", items.back().substr(0, 6));
                  PostMessageA(dlg, WM_COMMAND, IDOK, 0);
              }));
    const std::vector<FakeClip> clips = service.Clips(user);
    EXPECT_EQ('X', clips.at(0).state);
    EXPECT_EQ("Gamma", clips.at(2).name);
}

TEST(CloudMgr, CopiesTheClipAndRemembersTheChoice)
{
    FakeService service;
    const int32_t user = service.SignIn();
    service.AddClip(user, 123456, "Note", "2018-02-01 00:00:00", 'A', "h\xc3\xa9llo", "{\\rtf1 note}");
    EXPECT_EQ(1, RunManager([](HWND dlg) {
                  EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dlg, IDC_CM_DCRENAME));
                  SendDlgItemMessageA(dlg, IDC_CM_DCCOPY, BM_CLICK, 0, 0);
                  PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_CM_LIST, LBN_DBLCLK), 0);
              }));
    EXPECT_EQ(L"h\u00e9llo", std::wstring((const wchar_t *)ClipboardData(CF_UNICODETEXT).c_str()));
    EXPECT_EQ("{\\rtf1 note}",
              std::string(ClipboardData(RegisterClipboardFormatA("Rich Text Format")).c_str()));
    EXPECT_EQ(298u, GetSettingsInt(nullptr, "DCActCC", 0));
    EXPECT_EQ(0u, GetSettingsInt(nullptr, "DCActLC", 0));

    service.Fail({"getdata"});
    std::string said;
    ExpectBox("Quillet", NoteText(&said));
    EXPECT_EQ(1, RunManager([](HWND dlg) {
                  EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dlg, IDC_CM_DCCOPY));
                  PostMessageA(dlg, WM_COMMAND, IDC_CM_COPY, 0);
              }));
    EXPECT_EQ("The clipping 'Note' could not be downloaded.", said);
}

TEST(CloudMgr, ClosesWhenNothingCanBeListed)
{
    FakeService service;
    const std::string message = LoadedString(IDS_NOCLOUDCLIPS);
    EXPECT_EQ(167u, message.size()); // whole, not cut to 159 characters
    int32_t user = service.SignIn(false);
    for (int round = 0; round < 2; round++) { // unknown account, then no clip
        std::string said;
        ExpectBox("Error", NoteText(&said));
        EXPECT_EQ(2, CloudMgrDialog(nullptr));
        EXPECT_EQ(message, said);
        user = user ? user : service.AddAccount("ann", "Secret99key");
    }
    // Clips deleted in the cloud are not shown, yet the manager opens.
    service.AddClip(user, 4, "Gone", "2018-02-01 00:00:00", 'X');
    EXPECT_EQ(2, RunManager([](HWND dlg) {
                  EXPECT_TRUE(Items(dlg).empty());
                  PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
              }));
}

// Without an account, the menu command and the options button ask for one.
TEST_F(MainWindowTest, CloudCommandsAskForTheAccountFirst)
{
    EXPECT_FALSE(MenuState(IDM_CLOUDCLIPS) & MF_GRAYED);
    ExpectBox("Cloud Account", ClickButton(IDCANCEL));
    Command(IDM_CLOUDCLIPS);
    ExpectBox("Quillet Options", [](HWND dlg) { PostMessageA(dlg, WM_COMMAND, IDC_OPT_ACCOUNT, 0); });
    ExpectBox("Cloud Account", [](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_ACC_KEY, "abcd1234");
        SendDlgItemMessageA(dlg, IDOK, BM_CLICK, 0, 0);
        PostMessageA(FindWindowA("#32770", "Quillet Options"), WM_COMMAND, IDCANCEL, 0);
    });
    Command(IDM_OPTIONS);
    char key[16] = "";
    GetSettingsStringA(nullptr, "AccountKey", "", key, sizeof key);
    EXPECT_STREQ("abcd1234", key);
}
