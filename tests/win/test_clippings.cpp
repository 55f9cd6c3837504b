// The clipping store in the real registry; the clippings menu and store
// command in the real main window; the managers (dialog 912) run here while
// the box watcher's thread drives them, the cloud one against the service.
#include "mainwindow.h"
#include "boxwatch.h"
#include "testutil.h"
#include "clipboard/reduce.h"
#include "clippings/clipmenu.h"
#include "clippings/clipmgr.h"
#include "clippings/store.h"
#include "cloud/clipcrypt.h"
#include "cloud/cloudmgr.h"
#include "cloud/sync.h"
#include "cloud/syncproto.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/guards.h"

namespace {

using Texts = std::vector<std::string>;

// "name/slot" of the loaded clippings in name order.
Texts Loaded()
{
    ClippingEntry table[MAX_CLIPPINGS];
    uint32_t order[MAX_CLIPPINGS];
    const uint32_t count = LoadClippingNames(table, MAX_CLIPPINGS, order);
    Texts out;
    for (uint32_t k = 0; k < count; k++)
        out.push_back(std::string(table[order[k]].name) + "/" + std::to_string(table[order[k]].slot));
    return out;
}

// Stored values by "section/name", joined by "/".
std::string Stored(std::initializer_list<std::string> keys)
{
    std::string out;
    for (const std::string &key : keys) {
        const size_t cut = key.find('/');
        out += (out.empty() ? "" : "/") + StoredSetting(key.substr(0, cut).c_str(), key.c_str() + cut + 1);
    }
    return out;
}

DWORD Count()
{
    return GetSettingsInt(nullptr, "ClipCount", 99);
}

uint32_t Store(const char *name, const wchar_t *text = L"x")
{
    return StoreClipping(name, FALSE, text, nullptr, nullptr);
}

// A stored clipping read and put on the clipboard; the formats placed.
UINT Recall(uint32_t slot)
{
    StoredClipping clipping;
    ClipboardGuard clip(nullptr);
    return clip.ok() && ReadClipping(slot, &clipping) ? RecallClipping(clipping) : 0;
}

// Holds the store's lock until `event` is set, as a synchronisation does.
DWORD WINAPI HoldStore(void *event)
{
    ClippingStoreLock lock;
    return WaitForSingleObject(event, INFINITE);
}

// Stores five clippings of one name once `event` is set.
DWORD WINAPI StoreFive(void *event)
{
    WaitForSingleObject(event, INFINITE);
    for (int i = 0; i < 5; i++)
        Store("same");
    return 0;
}

// The store command, answering the name dialog with `name` (none: no dialog
// is expected) after `meanwhile`; the text of the box it shows then, if any.
std::string StoreAs(
    const char *name, const std::function<void()> &meanwhile = [] {})
{
    if (name)
        ExpectBox("Store Clipping", [name, meanwhile](HWND dlg) {
            EXPECT_EQ(31, SendDlgItemMessageA(dlg, IDC_CLIPNAME, EM_GETLIMITTEXT, 0, 0));
            meanwhile();
            SetDlgItemTextA(dlg, IDC_CLIPNAME, name);
            SendDlgItemMessageA(dlg, IDOK, BM_CLICK, 0, 0);
        });
    std::string said;
    ExpectBox("Quillet", NoteText(&said));
    Command(IDM_CLIPADD);
    EXPECT_EQ(said.empty() ? 1 : 0, TakePendingBoxes());
    return said;
}

LRESULT List(HWND dlg, UINT msg, WPARAM w = 0, LPARAM l = 0)
{
    return SendDlgItemMessageA(dlg, IDC_CM_LIST, msg, w, l);
}

void Select(HWND dlg, int item, WORD notification = LBN_SELCHANGE)
{
    List(dlg, LB_SETCURSEL, item);
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_CM_LIST, notification), 0);
}

INT_PTR RunManager(std::function<void(HWND)> drive)
{
    return RunDialog("Manage Local Clippings", ClipMgrDialog, drive);
}

// "name/id" of each clip present in the cloud, in the service's order.
Texts Present()
{
    Texts clips;
    for (const CloudClipEntry &clip : CloudClips())
        if (clip.state == 'A')
            clips.push_back(clip.name + ("/" + std::to_string(clip.id)));
    return clips;
}

} // namespace

// Sections "Clip A".."Clip J" are found by their letter in either case, as
// the registry finds them; names too long or missing and other sections are
// passed over. "ClipCount" follows the sections after every change.
TEST(ClippingStore, SlotsFollowTheRegistrysSectionsAndTheirCount)
{
    for (const char *section :
         {"clip B", "CLIP C", "Clip a", "Clip AB", "Clips", "Clip D", "Clip E", "Clip K"})
        WriteSettingsStringA(section, "Name", section);
    WriteSettingsStringA("Clip D", "Name", "");
    WriteSettingsStringA("Clip E", "Name", std::string(32, 'n').c_str());
    EXPECT_EQ((Texts{"Clip a/0", "clip B/1", "CLIP C/2"}), Loaded());
    // "Clip a" is the key "Clip A": a new clipping goes elsewhere, and a
    // deletion of slot 0 removes it.
    EXPECT_EQ(4u, Store("new"));
    EXPECT_EQ("Clip a/new", Stored({"Clip A/Name", "Clip D/Name"}));
    EXPECT_EQ(3u, DeleteLocalClip(0));
    EXPECT_EQ((Texts{"clip B/1", "CLIP C/2", "new/3"}), Loaded());
    EXPECT_EQ(3u, Count());

    // Nine sections and one beyond "J": the tenth goes into the free slot,
    // and the count says ten.
    ResetProgramState();
    for (char letter : std::string("ABCDEFGHJK"))
        SeedClipping(letter, std::string(1, letter).c_str());
    EXPECT_EQ(10u, Store("tenth"));
    EXPECT_EQ("tenth/K", Stored({"Clip I/Name", "Clip K/Name"}));
    EXPECT_EQ(10u, Count());
    EXPECT_FALSE(MayStoreClipping());
    EXPECT_EQ(0u, Store("eleventh"));
}

// New clippings take the lowest free slot under a unique name; a replacement
// keeps its slot and drops the variants it lacks; a full store takes nothing;
// a deletion keeps the section's date. The count is of the clippings there
// are, whatever "ClipCount" said before.
TEST(ClippingStore, StoresReplacesAndDeletesInTheirSections)
{
    SeedClipping('A', "notes", L"old");
    WriteSettingsStringA("Clip A", "HTML", "<b>old</b>");
    SeedClipping('C', "other");
    WriteSettingsInt(nullptr, "ClipCount", 10);
    EXPECT_TRUE(MayStoreClipping());
    EXPECT_EQ(3u, Store("Notes"));
    EXPECT_EQ(4u, Store("Notes"));
    EXPECT_EQ("Notes (1)/Notes (2)/4",
              Stored({"Clip B/Name", "Clip D/Name"}) + "/" + std::to_string(Count()));
    EXPECT_EQ(19u, StoredSetting("Clip D", "LastUpdate").size());

    EXPECT_EQ(4u, StoreClipping("NOTES", TRUE, L"new", "{\\rtf1 new}", nullptr));
    EXPECT_EQ(L"new", StoredWideSetting("Clip A", "UTF"));
    EXPECT_EQ("NOTES/{\\rtf1 new}/<none>", Stored({"Clip A/Name", "Clip A/RTF", "Clip A/HTML"}));
    // Ten clippings: nothing more is stored, not even a replacement.
    for (char letter = 'E'; letter <= 'J'; letter++)
        SeedClipping(letter, "x");
    EXPECT_EQ(0u, Store("fresh"));
    EXPECT_EQ(0u, StoreClipping("NOTES", TRUE, L"newer", nullptr, nullptr));
    EXPECT_EQ(L"new", StoredWideSetting("Clip A", "UTF"));

    EXPECT_EQ(9u, DeleteLocalClip(2));
    EXPECT_EQ(9u, DeleteLocalClip(2));
    EXPECT_EQ(9u, Count());
    EXPECT_EQ("<none>/<none>/2018-02-12 09:05:00",
              Stored({"Clip C/Name", "Clip C/UTF", "Clip C/LastUpdate"}));
}

// Two running copies store at the same moment: every clipping gets a slot
// of its own. While a synchronisation holds the store, nothing changes it.
TEST(ClippingStore, StoresAtTheSameMomentTakeSlotsOfTheirOwn)
{
    SeedClipping('A', "kept");
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE holder = CreateThread(nullptr, 0, HoldStore, release, 0, nullptr);
    Sleep(100);
    EXPECT_EQ(0u, Store("busy"));
    EXPECT_EQ(1u, DeleteLocalClip(0));
    SetEvent(release);
    WaitForSingleObject(holder, 5000);
    EXPECT_EQ(Texts{"kept/0"}, Loaded());
    for (int round = 0; round < 3; round++) {
        ResetProgramState();
        HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE threads[] = {CreateThread(nullptr, 0, StoreFive, go, 0, nullptr),
                            CreateThread(nullptr, 0, StoreFive, go, 0, nullptr), go};
        SetEvent(go);
        WaitForMultipleObjects(2, threads, TRUE, 20000);
        for (HANDLE h : threads)
            CloseHandle(h);
        EXPECT_EQ(10u, Loaded().size()) << round;
        EXPECT_EQ(10u, Count()) << round;
    }
    CloseHandle(holder);
    CloseHandle(release);
}

TEST(ClippingStore, RecallPlacesExactlyTheStoredFormats)
{
    SeedClipping('A', "rich", L"Gr\u00fc\u00dfe");
    WriteSettingsStringA("Clip A", "RTF", "{\\rtf1 x}");
    // A variant stored without its terminating zero is read within its size.
    ASSERT_EQ(ERROR_SUCCESS, StoreRaw("Clip A", "HTML", REG_SZ, "<p>x", 3));
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, "before"}})) << GetLastError();
    EXPECT_EQ(3u, Recall(0));
    EXPECT_EQ(0u, Recall(5)); // missing: the clipboard as it is
    std::vector<UINT> formats = ClipboardFormats();
    formats.resize(3);
    EXPECT_EQ(std::vector<UINT>({CF_UNICODETEXT, RTF, HTML}), formats);
    EXPECT_EQ(L"Gr\u00fc\u00dfe", ClipWide());
    EXPECT_EQ("{\\rtf1 x}/<p>", ClipboardData(RTF).c_str() + std::string("/") + ClipboardData(HTML).c_str());
}

// The submenu is filled in place, never replaced, so the handle the system
// is about to show stays valid; it lists the names in order, and a command
// recalls the slot in its item's data, from the menu bar and from the tray
// menu, as one undo step.
TEST_F(MainWindowTest, ClippingsMenusRecallTheSlotOfTheItem)
{
    HMENU clippings = GetSubMenu(GetMenu(Main()), 2), sub = GetSubMenu(clippings, 0);
    EXPECT_TRUE(MenuState(IDM_CLIPFIRST) & MF_GRAYED); // "(Empty)"
    EXPECT_EQ(1, GetMenuItemCount(sub));
    SeedClipping('A', "b", L"bee");
    SeedClipping('C', "A", L"ay");
    SeedClipping('D', "c", L"sea");
    SendMessageA(Main(), WM_INITMENUPOPUP, (WPARAM)sub, 0);
    EXPECT_EQ(sub, GetSubMenu(clippings, 0));
    char first[8] = "";
    GetMenuStringA(sub, 0, first, sizeof first, MF_BYPOSITION);
    EXPECT_EQ("A/3", std::string(first) + "/" + std::to_string(GetMenuItemCount(sub)));
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("kept", 5)}})) << GetLastError();
    // "A" is the second section found, so its command is 502; its slot is 2.
    EXPECT_EQ(IDM_CLIPFIRST + 1, GetMenuItemID(sub, 0));
    Command(IDM_CLIPFIRST + 1);
    EXPECT_EQ(L"ay", ClipWide());
    Command(IDM_UNDO);
    Command(IDM_CLIPFIRST + 9); // no such item: nothing
    EXPECT_EQ("kept", ClipText());

    // The tray menu, after a change the menu bar has not seen: "&Clippings"
    // opens with its first item, "_first", selected.
    SeedClipping('B', "_first", L"aa");
    PostMessageA(Main(), WM_COMMAND, IDM_TRAYICON, WM_RBUTTONDOWN);
    ASSERT_TRUE(WaitFor([] { return FindWindowA("#32768", nullptr) != nullptr; }));
    Settle(200);
    PostMessageA(Main(), WM_CHAR, 'c', 0);
    Settle(200);
    PostMessageA(Main(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(WaitFor([] { return ClipWide() == L"aa"; }));
}

// The plain text and its HTML are stored under a new name of at most 31
// characters, never the viewer's dump; an emptied name cancels; the limits
// are said. The text is measured when the command starts, whatever a viewer
// measured before, and a copy made while the name is asked for stores nothing.
TEST_F(MainWindowTest, StoreCommandAsksForANameAndStoresThePlainText)
{
    EXPECT_TRUE(MenuState(IDM_CLIPADD) & MF_GRAYED);
    const wchar_t text[] = L"plain \u20ac";
    ASSERT_TRUE(SetClipboardFormats(
        {{CF_UNICODETEXT, std::string((const char *)text, sizeof text)}, {HTML, "<b>x</b>"}}))
        << GetLastError();
    EXPECT_FALSE(MenuState(IDM_CLIPADD) & MF_GRAYED);
    EXPECT_EQ("", StoreAs("New Clipping"));
    EXPECT_EQ("New Clipping/<b>x</b>", Stored({"Clip A/Name", "Clip A/HTML"}));
    EXPECT_EQ(text, StoredWideSetting("Clip A", "UTF"));
    EXPECT_EQ("", StoreAs(""));
    EXPECT_EQ(1u, Count());
    // 2000 bytes of CF_TEXT with its zero are allowed, 2001 are not.
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string(2000, 'x')}})) << GetLastError();
    EXPECT_EQ("", StoreAs("long"));
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string(2001, 'x')}})) << GetLastError();
    EXPECT_EQ("Unable to Save Clipping: Clippings are limited to 2000 characters.", StoreAs(nullptr));
    // A long text seen in the viewer says nothing of the next copy.
    ExpectBox("Clipboard Viewer", ClickButton(IDOK));
    Command(IDM_VIEW);
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("hello", 6)}})) << GetLastError();
    EXPECT_EQ("", StoreAs("short"));
    EXPECT_EQ(3u, Count());
    EXPECT_EQ("The clipboard changed while the clipping was being named, so nothing was stored.",
              StoreAs("stale", [] {
                  SetClipboardFormats({{CF_TEXT, std::string("secret", 7)}});
              }));
    EXPECT_EQ(3u, Count());
    for (char letter = 'D'; letter <= 'J'; letter++)
        SeedClipping(letter, "x");
    EXPECT_EQ("Unable to Save Clipping: Only 10 Clippings are supported in this version.", StoreAs(nullptr));
}

TEST(ClipMgr, RenamesDeletesAndFollowsTheSelection)
{
    ExpectBox("Error", ClickButton(IDNO)); // nothing to manage: no download either
    EXPECT_EQ(2, ClipMgrDialog(nullptr));
    SeedClipping('A', "beta", L"two");
    SeedClipping('C', "Alpha", L"one");
    WriteSettingsInt(nullptr, "ClipCount", 2);
    EXPECT_EQ(2, RunManager([](HWND dlg) {
                  EXPECT_EQ((Texts{"Alpha/2", "beta/0"}), ManagerItems(dlg));
                  EXPECT_EQ(0, List(dlg, LB_GETCURSEL));
                  auto enabled = [dlg] {
                      std::string on;
                      for (int id : {IDC_CM_RENAME, IDC_CM_DELETE, IDC_CM_COPY})
                          on += IsWindowEnabled(GetDlgItem(dlg, id)) ? "e" : "-";
                      return on;
                  };
                  Select(dlg, -1, LBN_SELCANCEL);
                  EXPECT_EQ("---", enabled());
                  // A double click renames by default, even to a name in use.
                  Select(dlg, 1);
                  EXPECT_EQ("eee", enabled());
                  EXPECT_EQ("beta", AnswerBox(dlg, MAKEWPARAM(IDC_CM_LIST, LBN_DBLCLK), "Rename Clipping",
                                              IDOK, "Alpha"));
                  EXPECT_EQ((Texts{"Alpha/0", "Alpha/2"}), ManagerItems(dlg));
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
    EXPECT_EQ("<none>/<none>/0", Stored({"Clip A/Name", "Clip C/UTF"}) + "/" + std::to_string(Count()));
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
                      Texts listed; // afterwards
                  } cases[] = {
                      {IDC_CM_DELETE,
                       [] {
                           DeleteLocalClip(0);
                           Store("Bank details", L"1234");
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
    EXPECT_EQ("<none>/Other/1", Stored({"Clip A/Name", "Clip B/Name"}) + "/" + std::to_string(Count()));
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
    EXPECT_EQ(L"h\u00e9llo", ClipWide());
    EXPECT_EQ(298u, GetSettingsInt(nullptr, "DCActLC", 0));
    OnUndo(nullptr); // one undoable change
    EXPECT_EQ("before", ClipText());
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
    CloudKeys keys;
    PrepareCloudKeys(&keys);
    ASSERT_NE(-1, SyncRegisterUser(keys));
    ExpectBox("Error", NoteText(&said));
    EXPECT_EQ(2, CloudMgrDialog(nullptr));           // nothing to manage
    EXPECT_EQ(LoadedString(IDS_NOCLOUDCLIPS), said); // whole, not cut to 159 characters
    Store("Alpha", L"a");
    Store("beta", L"b");
    Store("Note", L"h\u00e9llo");
    ExpectBox("Synchronize Clippings", ClickButton(IDOK));
    ASSERT_EQ(1, SyncClips(nullptr));
    for (uint32_t slot = 0; slot < 3; slot++)
        DeleteLocalClip(slot);
    Store("Local", L"local");
    auto select = [](HWND dlg, const char *name) { List(dlg, LB_SELECTSTRING, WPARAM(-1), (LPARAM)name); };
    EXPECT_EQ(1, RunDialog("Manage Cloud Clippings", CloudMgrDialog, [select](HWND dlg) {
                  EXPECT_EQ(Present(), ManagerItems(dlg));
                  select(dlg, "beta");
                  EXPECT_EQ("beta", AnswerBox(dlg, IDC_CM_RENAME, "Rename Clipping", IDOK, "Gamma"));
                  select(dlg, "Alpha");
                  AnswerBox(dlg, IDC_CM_DELETE, "Confirm Delete", IDYES);
                  EXPECT_EQ(Present(), ManagerItems(dlg));
                  EXPECT_NE(0, CloudIdOf("Gamma"));
                  AnswerBox(dlg, IDC_CM_SYNC, "Synchronize Clippings", IDOK);
                  EXPECT_EQ(Present(), ManagerItems(dlg));
                  EXPECT_EQ(3u, ManagerItems(dlg).size()); // Local came up
                  // A double click copies once that is the choice.
                  select(dlg, "Note");
                  SendDlgItemMessageA(dlg, IDC_CM_DCCOPY, BM_CLICK, 0, 0);
                  PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_CM_LIST, LBN_DBLCLK), 0);
              }));
    EXPECT_EQ(L"h\u00e9llo", ClipWide());
    EXPECT_EQ(298u, GetSettingsInt(nullptr, "DCActCC", 0));
    EXPECT_EQ(0u, GetSettingsInt(nullptr, "DCActLC", 0));

    ExpectBox("Quillet", NoteText(&said));
    EXPECT_EQ(1, RunDialog("Manage Cloud Clippings", CloudMgrDialog, [select](HWND dlg) {
                  EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dlg, IDC_CM_DCCOPY));
                  select(dlg, "Note");
                  SyncFailure failure;
                  SyncDeleteClip(SignedInUser(), CloudIdOf("Note"), &failure);
                  PostMessageA(dlg, WM_COMMAND, IDC_CM_COPY, 0);
              }));
    EXPECT_EQ("The clipping 'Note' could not be downloaded.", said);
}
