// The clipping store against the real registry, and the clippings menu, the
// name dialog and the store command through the real main window.
#include "mainwindow.h"
#include "boxwatch.h"
#include "testutil.h"
#include "clippings/clipmenu.h"
#include "clippings/store.h"
#include "clipboard/reduce.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include "util/guards.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

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

std::wstring Text(UINT format)
{
    return (const wchar_t *)ClipboardData(format).c_str();
}

// Answers the name dialog with a name (OK).
BoxAnswer AnswerName(const std::string &name)
{
    return [name](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_CLIPNAME, name.c_str());
        SendDlgItemMessageA(dlg, IDOK, BM_CLICK, 0, 0);
    };
}

} // namespace

namespace {

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
    WaitForSingleObject(event, INFINITE);
    return 0;
}

// Stores five clippings of one name once `event` is set.
DWORD WINAPI StoreFive(void *event)
{
    WaitForSingleObject(event, INFINITE);
    for (int i = 0; i < 5; i++)
        StoreClipping("same", FALSE, L"x", nullptr, nullptr);
    return 0;
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
    EXPECT_EQ(4u, StoreClipping("new", FALSE, L"n", nullptr, nullptr));
    EXPECT_EQ("Clip a/new", StoredSetting("Clip A", "Name") + "/" + StoredSetting("Clip D", "Name"));
    EXPECT_EQ(3u, DeleteLocalClip(0));
    EXPECT_EQ((Texts{"clip B/1", "CLIP C/2", "new/3"}), Loaded());
    EXPECT_EQ(3u, GetSettingsInt(nullptr, "ClipCount", 0));

    // Nine sections and one beyond "J": the tenth goes into the free slot,
    // and the count says ten.
    ResetProgramState();
    for (char letter : std::string("ABCDEFGHJK"))
        SeedClipping(letter, std::string(1, letter).c_str());
    EXPECT_EQ(10u, StoreClipping("tenth", FALSE, L"t", nullptr, nullptr));
    EXPECT_EQ("tenth", StoredSetting("Clip I", "Name"));
    EXPECT_EQ("K", StoredSetting("Clip K", "Name"));
    EXPECT_EQ(10u, GetSettingsInt(nullptr, "ClipCount", 0));
    EXPECT_FALSE(MayStoreClipping());
    EXPECT_EQ(0u, StoreClipping("eleventh", FALSE, L"e", nullptr, nullptr));
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
    EXPECT_EQ(3u, StoreClipping("Notes", FALSE, L"one", nullptr, nullptr));
    EXPECT_EQ(4u, StoreClipping("Notes", FALSE, L"two", nullptr, nullptr));
    EXPECT_EQ("Notes (1)/Notes (2)/4", StoredSetting("Clip B", "Name") + "/" +
                                           StoredSetting("Clip D", "Name") + "/" +
                                           std::to_string(GetSettingsInt(nullptr, "ClipCount", 0)));
    EXPECT_EQ(19u, StoredSetting("Clip D", "LastUpdate").size());

    EXPECT_EQ(4u, StoreClipping("NOTES", TRUE, L"new", "{\\rtf1 new}", nullptr));
    EXPECT_EQ(L"new", StoredWideSetting("Clip A", "UTF"));
    EXPECT_EQ("NOTES/{\\rtf1 new}/<none>", StoredSetting("Clip A", "Name") + "/" +
                                               StoredSetting("Clip A", "RTF") + "/" +
                                               StoredSetting("Clip A", "HTML"));
    // Ten clippings: nothing more is stored, not even a replacement.
    for (char letter = 'E'; letter <= 'J'; letter++)
        SeedClipping(letter, "x");
    EXPECT_EQ(0u, StoreClipping("fresh", FALSE, L"x", nullptr, nullptr));
    EXPECT_EQ(0u, StoreClipping("NOTES", TRUE, L"newer", nullptr, nullptr));
    EXPECT_EQ(L"new", StoredWideSetting("Clip A", "UTF"));

    EXPECT_EQ(9u, DeleteLocalClip(2));
    EXPECT_EQ(9u, DeleteLocalClip(2));
    EXPECT_EQ(9u, GetSettingsInt(nullptr, "ClipCount", 99));
    EXPECT_EQ("<none>/<none>/2018-02-12 09:05:00", StoredSetting("Clip C", "Name") + "/" +
                                                       StoredSetting("Clip C", "UTF") + "/" +
                                                       StoredSetting("Clip C", "LastUpdate"));
}

// Two running copies store at the same moment: every clipping gets a slot
// of its own. While a synchronisation holds the store, nothing changes it.
TEST(ClippingStore, StoresAtTheSameMomentTakeSlotsOfTheirOwn)
{
    SeedClipping('A', "kept");
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE holder = CreateThread(nullptr, 0, HoldStore, release, 0, nullptr);
    Sleep(100);
    EXPECT_EQ(0u, StoreClipping("busy", FALSE, L"x", nullptr, nullptr));
    EXPECT_EQ(1u, DeleteLocalClip(0));
    SetEvent(release);
    WaitForSingleObject(holder, 5000);
    CloseHandle(holder);
    CloseHandle(release);
    EXPECT_EQ(Texts{"kept/0"}, Loaded());

    for (int round = 0; round < 3; round++) {
        ResetProgramState();
        HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE threads[] = {CreateThread(nullptr, 0, StoreFive, go, 0, nullptr),
                            CreateThread(nullptr, 0, StoreFive, go, 0, nullptr)};
        SetEvent(go);
        WaitForMultipleObjects(2, threads, TRUE, 20000);
        for (HANDLE h : threads)
            CloseHandle(h);
        CloseHandle(go);
        EXPECT_EQ(10u, Loaded().size()) << round;
        EXPECT_EQ(10u, GetSettingsInt(nullptr, "ClipCount", 0)) << round;
    }
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
    EXPECT_EQ(std::vector<UINT>({CF_UNICODETEXT, RegisterClipboardFormatA("Rich Text Format"),
                                 RegisterClipboardFormatA("HTML Format")}),
              formats);
    EXPECT_EQ(L"Gr\u00fc\u00dfe", Text(CF_UNICODETEXT));
    EXPECT_STREQ("{\\rtf1 x}", ClipboardData(formats[1]).c_str());
    EXPECT_STREQ("<p>", ClipboardData(formats[2]).c_str());
}

// The submenu lists the names in order; a command recalls the slot in its
// item's data, from the menu bar and from the tray menu, as one undo step.
TEST_F(MainWindowTest, ClippingsMenusRecallTheSlotOfTheItem)
{
    SendMessageA(Main(), WM_INITMENU, (WPARAM)GetMenu(Main()), 0);
    HMENU sub = GetSubMenu(GetSubMenu(GetMenu(Main()), 2), 0);
    EXPECT_EQ(1, GetMenuItemCount(sub));
    EXPECT_TRUE(GetMenuState(sub, IDM_CLIPFIRST, MF_BYCOMMAND) & MF_GRAYED); // "(Empty)"
    SeedClipping('A', "b", L"bee");
    SeedClipping('C', "A", L"ay");
    SeedClipping('D', "c", L"sea");
    SendMessageA(Main(), WM_INITMENU, (WPARAM)GetMenu(Main()), 0);
    sub = GetSubMenu(GetSubMenu(GetMenu(Main()), 2), 0);
    char first[8] = "";
    GetMenuStringA(sub, 0, first, sizeof first, MF_BYPOSITION);
    EXPECT_EQ("A/3", std::string(first) + "/" + std::to_string(GetMenuItemCount(sub)));
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("kept", 5)}})) << GetLastError();
    // "A" is the second section found, so its command is 502; its slot is 2.
    EXPECT_EQ(IDM_CLIPFIRST + 1, GetMenuItemID(sub, 0));
    Command(IDM_CLIPFIRST + 1);
    EXPECT_EQ(L"ay", Text(CF_UNICODETEXT));
    Command(IDM_UNDO);
    Command(IDM_CLIPFIRST + 9); // no such item: nothing
    EXPECT_EQ("kept", std::string(ClipboardData(CF_TEXT).c_str()));

    // The tray menu, after a change the menu bar has not seen: "&Clippings"
    // opens with its first item, "_first", selected.
    SeedClipping('B', "_first", L"aa");
    PostMessageA(Main(), WM_COMMAND, IDM_TRAYICON, WM_RBUTTONDOWN);
    ASSERT_TRUE(WaitFor([] { return FindWindowA("#32768", nullptr) != nullptr; }));
    Settle(200);
    PostMessageA(Main(), WM_CHAR, 'c', 0);
    Settle(200);
    PostMessageA(Main(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(WaitFor([] { return Text(CF_UNICODETEXT) == L"aa"; }));
}

// The plain text and its HTML are stored under a new name, never the
// viewer's dump; an emptied name cancels; the limits are said. The text is
// measured when the command starts, whatever a viewer measured before, and
// a copy made while the name is asked for stores nothing.
TEST_F(MainWindowTest, StoreCommandAsksForANameAndStoresThePlainText)
{
    EXPECT_TRUE(MenuState(IDM_CLIPADD) & MF_GRAYED);
    const wchar_t text[] = L"plain \u20ac";
    ASSERT_TRUE(SetClipboardFormats({{CF_UNICODETEXT, std::string((const char *)text, sizeof text)},
                                     {RegisterClipboardFormatA("HTML Format"), "<b>x</b>"}}))
        << GetLastError();
    EXPECT_FALSE(MenuState(IDM_CLIPADD) & MF_GRAYED);
    LRESULT limit = 0;
    ExpectBox("Store Clipping", [&limit](HWND dlg) {
        limit = SendDlgItemMessageA(dlg, IDC_CLIPNAME, EM_GETLIMITTEXT, 0, 0); // names fit 31 characters
        AnswerName("New Clipping")(dlg);
    });
    Command(IDM_CLIPADD);
    EXPECT_EQ(31, limit);
    EXPECT_EQ("New Clipping", StoredSetting("Clip A", "Name"));
    EXPECT_EQ(text, StoredWideSetting("Clip A", "UTF"));
    EXPECT_EQ("<b>x</b>", StoredSetting("Clip A", "HTML"));
    ExpectBox("Store Clipping", AnswerName(""));
    Command(IDM_CLIPADD);
    EXPECT_EQ(1u, GetSettingsInt(nullptr, "ClipCount", 0));

    // 2000 bytes of CF_TEXT with its zero are allowed, 2001 are not.
    std::string message;
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string(2000, 'x')}})) << GetLastError();
    ExpectBox("Store Clipping", AnswerName("long"));
    Command(IDM_CLIPADD);
    EXPECT_EQ(0, TakePendingBoxes());
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string(2001, 'x')}})) << GetLastError();
    ExpectBox("Quillet", NoteText(&message));
    Command(IDM_CLIPADD);
    EXPECT_EQ("Unable to Save Clipping: Clippings are limited to 2000 characters.", message);

    // A long text seen in the viewer says nothing of the next copy.
    ExpectBox("Clipboard Viewer", ClickButton(IDOK));
    Command(IDM_VIEW);
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("hello", 6)}})) << GetLastError();
    ExpectBox("Store Clipping", AnswerName("short"));
    Command(IDM_CLIPADD);
    EXPECT_EQ(0, TakePendingBoxes());
    EXPECT_EQ(3u, GetSettingsInt(nullptr, "ClipCount", 0));

    // Another program copies while the name is asked for.
    ExpectBox("Store Clipping", [](HWND dlg) {
        SetClipboardFormats({{CF_TEXT, std::string("secret", 7)}});
        AnswerName("stale")(dlg);
    });
    ExpectBox("Quillet", NoteText(&message));
    Command(IDM_CLIPADD);
    EXPECT_EQ("The clipboard changed while the clipping was being named, so nothing was stored.", message);
    EXPECT_EQ(3u, GetSettingsInt(nullptr, "ClipCount", 0));

    for (char letter = 'D'; letter <= 'J'; letter++)
        SeedClipping(letter, "x");
    ExpectBox("Quillet", NoteText(&message));
    Command(IDM_CLIPADD);
    EXPECT_EQ("Unable to Save Clipping: Only 10 Clippings are supported in this version.", message);
}
