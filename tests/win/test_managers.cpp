// The local and cloud clippings managers (dialog 912) through the real
// dialog, store and clipboard, the cloud one against the real service. The
// dialog runs here; the box watcher's thread drives it and answers the boxes
// it opens itself.
#include "boxwatch.h"
#include "testutil.h"
#include "clipboard/reduce.h"
#include "clippings/clipmgr.h"
#include "clippings/store.h"
#include "cloud/cloudmgr.h"
#include "cloud/sync.h"
#include "cloud/syncproto.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include <gtest/gtest.h>
#include <functional>

namespace {

using Names = std::vector<std::string>;

LRESULT List(HWND dlg, UINT msg, WPARAM w = 0, LPARAM l = 0)
{
    return SendDlgItemMessageA(dlg, IDC_CM_LIST, msg, w, l);
}

void Select(HWND dlg, int item, WORD notification = LBN_SELCHANGE)
{
    List(dlg, LB_SETCURSEL, item);
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_CM_LIST, notification), 0);
}

bool Enabled(HWND dlg, int id)
{
    return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE;
}

INT_PTR RunManager(std::function<void(HWND)> drive)
{
    return RunDialog("Manage Local Clippings", ClipMgrDialog, drive);
}

// "name/id" of each clip present in the cloud, in the service's order.
std::vector<std::string> Present()
{
    std::vector<std::string> clips;
    for (const CloudClipEntry &clip : CloudClips())
        if (clip.state == 'A')
            clips.push_back(clip.name + ("/" + std::to_string(clip.id)));
    return clips;
}

void SelectName(HWND dlg, const char *name)
{
    SendDlgItemMessageA(dlg, IDC_CM_LIST, LB_SELECTSTRING, -1, (LPARAM)name);
}

} // namespace

TEST(ClipMgr, RenamesDeletesAndFollowsTheSelection)
{
    ExpectBox("Error", ClickButton(IDNO)); // nothing to manage: no download either
    EXPECT_EQ(2, ClipMgrDialog(nullptr));
    SeedClipping('A', "beta", L"two");
    SeedClipping('C', "Alpha", L"one");
    WriteSettingsInt(nullptr, "ClipCount", 2);
    EXPECT_EQ(2, RunManager([](HWND dlg) {
                  EXPECT_EQ((Names{"Alpha/2", "beta/0"}), ManagerItems(dlg));
                  EXPECT_EQ(0, List(dlg, LB_GETCURSEL));
                  Select(dlg, -1, LBN_SELCANCEL);
                  for (int id : {IDC_CM_RENAME, IDC_CM_DELETE, IDC_CM_COPY})
                      EXPECT_FALSE(Enabled(dlg, id)) << id;

                  // A double click renames by default, even to a name in use.
                  Select(dlg, 1);
                  EXPECT_TRUE(Enabled(dlg, IDC_CM_RENAME));
                  EXPECT_EQ("beta", AnswerBox(dlg, MAKEWPARAM(IDC_CM_LIST, LBN_DBLCLK), "Rename Clipping",
                                              IDOK, "Alpha"));
                  EXPECT_EQ((Names{"Alpha/0", "Alpha/2"}), ManagerItems(dlg));
                  EXPECT_EQ(LB_ERR, List(dlg, LB_GETCURSEL));
                  EXPECT_EQ("2018-02-12 09:05:00", StoredSetting("Clip A", "LastUpdate"));

                  for (int button : {IDNO, IDYES, IDYES}) {
                      Select(dlg, 0);
                      EXPECT_EQ("Are you sure you want to delete the clipping \"Alpha\"?",
                                AnswerBox(dlg, IDC_CM_DELETE, "Confirm Delete", button));
                  }
                  // Nothing left: the buttons do nothing.
                  EXPECT_TRUE(ManagerItems(dlg).empty());
                  for (int id : {IDC_CM_RENAME, IDC_CM_DELETE, IDC_CM_COPY})
                      PostMessageA(dlg, WM_COMMAND, id, 0);
                  Sleep(300);
                  EXPECT_TRUE(IsWindowVisible(dlg) && IsWindowEnabled(dlg));
                  PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
              }));
    EXPECT_EQ("<none>", StoredSetting("Clip A", "Name"));
    EXPECT_EQ("<none>", StoredSetting("Clip C", "UTF"));
    EXPECT_EQ(0u, GetSettingsInt(nullptr, "ClipCount", 9));
}

// Another running copy of the program changes the store under the manager:
// Delete, Rename and Copy of a clipping that is no longer what the list
// shows say so, show the store as it is, and leave the other's clipping.
TEST(ClipMgr, AClippingChangedByAnotherCopyIsLeftAlone)
{
    SeedClipping('A', "Notes", L"notes");
    SeedClipping('B', "Other", L"other");
    EXPECT_EQ(2, RunManager([](HWND dlg) {
                  const struct {
                      WPARAM command;
                      std::function<void()> meanwhile;
                      Names listed; // afterwards
                  } cases[] = {
                      {IDC_CM_DELETE,
                       [] {
                           DeleteLocalClip(0);
                           StoreClipping("Bank details", FALSE, L"1234", nullptr, nullptr);
                       },
                       {"Bank details/0", "Other/1"}},
                      {IDC_CM_RENAME,
                       [] { SeedClipping('A', "Bank details", L"5678", "2019-01-01 00:00:00"); },
                       {"Bank details/0", "Other/1"}},
                      {IDC_CM_COPY, [] { DeleteLocalClip(0); }, {"Other/1"}},
                  };
                  for (const auto &c : cases) {
                      Select(dlg, 0);
                      c.meanwhile();
                      const std::string said = AnswerBox(dlg, c.command, "Quillet", IDOK);
                      EXPECT_NE(std::string::npos, said.find("another running copy")) << said;
                      EXPECT_EQ(c.listed, ManagerItems(dlg)) << c.command;
                  }
                  PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
              }));
    EXPECT_EQ("<none>/Other", StoredSetting("Clip A", "Name") + "/" + StoredSetting("Clip B", "Name"));
    EXPECT_EQ(1u, GetSettingsInt(nullptr, "ClipCount", 0));
}

// Copy places the clipping as one undoable change, closes, and the choice of
// the double click is remembered.
TEST(ClipMgr, CopyPlacesTheClippingClosesAndRemembersTheChoice)
{
    SeedClipping('B', "Notes", L"h\u00e9llo");
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("before", 7)}})) << GetLastError();
    EXPECT_EQ(1, RunManager([](HWND dlg) {
                  SendDlgItemMessageA(dlg, IDC_CM_DCCOPY, BM_CLICK, 0, 0);
                  SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_CM_LIST, LBN_DBLCLK), 0);
              }));
    EXPECT_EQ(L"h\u00e9llo", std::wstring((const wchar_t *)ClipboardData(CF_UNICODETEXT).c_str()));
    EXPECT_EQ(298u, GetSettingsInt(nullptr, "DCActLC", 0));
    OnUndo(nullptr); // one undoable change
    EXPECT_EQ("before", std::string(ClipboardData(CF_TEXT).c_str()));
    EXPECT_EQ(1, RunManager([](HWND dlg) {
                  EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dlg, IDC_CM_DCCOPY));
                  PostMessageA(dlg, WM_COMMAND, IDOK, 0);
              }));
}

// Only present clips are listed, by their ids; rename, delete and the
// synchronisation reach the service; a copy puts the clip on the clipboard,
// and one that no longer arrives is said.
TEST_F(RealService, CloudManagerListsRenamesDeletesCopiesAndSynchronises)
{
    std::string said;
    ASSERT_NE(-1, SyncRegisterUser());
    ExpectBox("Error", NoteText(&said));
    EXPECT_EQ(2, CloudMgrDialog(nullptr));           // nothing to manage
    EXPECT_EQ(LoadedString(IDS_NOCLOUDCLIPS), said); // whole, not cut to 159 characters
    StoreClipping("Alpha", FALSE, L"a", nullptr, nullptr);
    StoreClipping("beta", FALSE, L"b", nullptr, nullptr);
    StoreClipping("Note", FALSE, L"h\u00e9llo", nullptr, nullptr);
    ExpectBox("Synchronize Clippings", ClickButton(IDOK));
    ASSERT_EQ(1, SyncClips(nullptr));
    for (uint32_t slot = 0; slot < 3; slot++)
        DeleteLocalClip(slot);
    StoreClipping("Local", FALSE, L"local", nullptr, nullptr);

    EXPECT_EQ(1, RunDialog("Manage Cloud Clippings", CloudMgrDialog, [](HWND dlg) {
                  EXPECT_EQ(Present(), ManagerItems(dlg));
                  SelectName(dlg, "beta");
                  EXPECT_EQ("beta", AnswerBox(dlg, IDC_CM_RENAME, "Rename Clipping", IDOK, "Gamma"));
                  SelectName(dlg, "Alpha");
                  AnswerBox(dlg, IDC_CM_DELETE, "Confirm Delete", IDYES);
                  EXPECT_EQ(Present(), ManagerItems(dlg));
                  EXPECT_NE(0, CloudIdOf("Gamma"));
                  AnswerBox(dlg, IDC_CM_SYNC, "Synchronize Clippings", IDOK);
                  EXPECT_EQ(Present(), ManagerItems(dlg));
                  EXPECT_EQ(3u, ManagerItems(dlg).size()); // Local came up
                  // A double click copies once that is the choice.
                  SelectName(dlg, "Note");
                  SendDlgItemMessageA(dlg, IDC_CM_DCCOPY, BM_CLICK, 0, 0);
                  PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_CM_LIST, LBN_DBLCLK), 0);
              }));
    EXPECT_EQ(L"h\u00e9llo", std::wstring((const wchar_t *)ClipboardData(CF_UNICODETEXT).c_str()));
    EXPECT_EQ(298u, GetSettingsInt(nullptr, "DCActCC", 0));
    EXPECT_EQ(0u, GetSettingsInt(nullptr, "DCActLC", 0));

    ExpectBox("Quillet", NoteText(&said));
    EXPECT_EQ(1, RunDialog("Manage Cloud Clippings", CloudMgrDialog, [](HWND dlg) {
                  EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dlg, IDC_CM_DCCOPY));
                  SelectName(dlg, "Note");
                  SyncFailure failure;
                  SyncDeleteClip(SyncGetUserID(), CloudIdOf("Note"), &failure);
                  PostMessageA(dlg, WM_COMMAND, IDC_CM_COPY, 0);
              }));
    EXPECT_EQ("The clipping 'Note' could not be downloaded.", said);
}
