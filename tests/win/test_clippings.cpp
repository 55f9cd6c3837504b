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
#include "viewer/viewer.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

void Seed(const char *section, const char *name, const wchar_t *text = L"text", const char *rtf = nullptr,
          const char *html = nullptr)
{
    WriteSettingsStringA(section, "Name", name);
    WriteSettingsStringW(section, "UTF", text);
    WriteSettingsStringA(section, "RTF", rtf);
    WriteSettingsStringA(section, "HTML", html);
    WriteSettingsStringA(section, "LastUpdate", "2018-02-12 09:05:00");
}

std::string Value(const char *section, const char *name)
{
    char buf[256];
    GetSettingsStringA(section, name, "<none>", buf, sizeof buf);
    return buf;
}

std::wstring WideValue(const char *section, const char *name)
{
    wchar_t buf[256];
    GetSettingsStringW(section, name, "<none>", buf, sizeof buf);
    return buf;
}

// "name/slot" of the loaded clippings in name order.
std::vector<std::string> Loaded()
{
    m_NumClippings = LoadClippingNames(m_Clippings, MAX_CLIPPINGS, m_ClipSort);
    std::vector<std::string> out;
    for (uint32_t k = 0; k < m_NumClippings; k++)
        out.push_back(std::string(m_Clippings[m_ClipSort[k]].name) + "/" +
                      std::to_string(m_Clippings[m_ClipSort[k]].slot));
    return out;
}

UINT Registered(const char *name)
{
    return RegisterClipboardFormatA(name);
}

// Answers the name dialog with a name (OK) and records its caption.
BoxAnswer AnswerName(const std::string &name, std::string *limit = nullptr)
{
    return [name, limit](HWND dlg) {
        if (limit)
            *limit = std::to_string(SendDlgItemMessageA(dlg, IDC_CLIPNAME, EM_GETLIMITTEXT, 0, 0));
        SetDlgItemTextA(dlg, IDC_CLIPNAME, name.c_str());
        SendDlgItemMessageA(dlg, IDOK, BM_CLICK, 0, 0);
    };
}

BoxAnswer ReadMessage(std::string *text)
{
    return [text](HWND box) {
        char buf[512] = "";
        GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf);
        *text = buf;
        SendDlgItemMessageA(box, IDOK, BM_CLICK, 0, 0);
    };
}

std::vector<std::string> MenuTexts(HMENU menu)
{
    std::vector<std::string> out;
    for (int i = 0; i < GetMenuItemCount(menu); i++) {
        char text[64] = "";
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        out.push_back(text);
    }
    return out;
}

class ClippingsTest : public MainWindowTest {
protected:
    HMENU ClippingsSubmenu()
    {
        SendMessageA(Main(), WM_INITMENU, (WPARAM)GetMenu(Main()), 0);
        return GetSubMenu(GetSubMenu(GetMenu(Main()), 2), 0);
    }
};

} // namespace

TEST(ClippingStore, LoadsClipSectionsByTheirLetter)
{
    Seed("clip B", "b");
    Seed("CLIP C", "c");
    Seed("Clip a", "lower");
    Seed("Clip AB", "ignored");
    Seed("Clips", "ignored");
    Seed("Clip D", "");
    Seed("Clip E", std::string(32, 'n').c_str());
    WriteSettingsStringA("Clip F", "UTF", "no name");
    EXPECT_EQ((std::vector<std::string>{"b/1", "c/2", "lower/9"}), Loaded());
    EXPECT_EQ(0, m_Clippings[0].lastUpdate == 0);
    RegDeleteTreeA(HKEY_CURRENT_USER, SETTINGS_ROOT "\\Clip a");
    Seed("Clip K", "k");
    EXPECT_EQ((std::vector<std::string>{"b/1", "c/2", "k/9"}), Loaded());
}

TEST(ClippingStore, StoresUnderUniqueSanitisedNamesInTheLowestFreeSlot)
{
    Seed("Clip A", "notes");
    Seed("Clip C", "other");
    EXPECT_EQ(3u, StoreClipping("Notes", FALSE, L"one", nullptr, nullptr));
    EXPECT_EQ("Notes (1)", Value("Clip B", "Name"));
    EXPECT_EQ(4u, StoreClipping("Notes", FALSE, L"two", nullptr, nullptr));
    EXPECT_EQ("Notes (2)", Value("Clip D", "Name"));
    EXPECT_EQ(4u, GetSettingsInt(nullptr, "ClipCount", 0));
    EXPECT_EQ(19u, Value("Clip D", "LastUpdate").size());

    std::string forty(40, 'x');
    StoreClipping(forty.c_str(), FALSE, L"a", nullptr, nullptr);
    StoreClipping(forty.c_str(), FALSE, L"b", nullptr, nullptr);
    StoreClipping("Tab\there\xe9", FALSE, L"c", nullptr, nullptr);
    EXPECT_EQ(std::string(31, 'x'), Value("Clip E", "Name"));
    EXPECT_EQ(std::string(27, 'x') + " (1)", Value("Clip F", "Name"));
    EXPECT_EQ("Tab-here-", Value("Clip G", "Name"));
    EXPECT_EQ(L"b", WideValue("Clip F", "UTF"));
}

TEST(ClippingStore, ReplacesInPlaceAndRefusesAFullStore)
{
    Seed("Clip A", "Web", L"old", "{\\rtf1 old}", "<b>old</b>");
    EXPECT_EQ(1u, StoreClipping("WEB", TRUE, L"new", "{\\rtf1 new}", nullptr));
    EXPECT_EQ("WEB", Value("Clip A", "Name"));
    EXPECT_EQ(L"new", WideValue("Clip A", "UTF"));
    EXPECT_EQ("{\\rtf1 new}", Value("Clip A", "RTF"));
    EXPECT_EQ("<none>", Value("Clip A", "HTML"));

    WriteSettingsInt(nullptr, "ClipCount", 10);
    EXPECT_FALSE(MayStoreClipping());
    EXPECT_EQ(0u, StoreClipping("WEB", TRUE, L"newer", nullptr, nullptr));
    EXPECT_EQ(L"new", WideValue("Clip A", "UTF"));

    // Ten sections in use although the count says otherwise: no slot is left.
    WriteSettingsInt(nullptr, "ClipCount", 0);
    for (char c = 'B'; c <= 'J'; c++)
        Seed(("Clip " + std::string(1, c)).c_str(), std::string(1, c).c_str());
    EXPECT_EQ(0u, StoreClipping("fresh", FALSE, L"x", nullptr, nullptr));
}

TEST(ClippingStore, DeleteKeepsTheSectionDateAndNeverCountsBelowZero)
{
    Seed("Clip B", "gone", L"t", "{\\rtf1}", "<i>");
    WriteSettingsInt(nullptr, "ClipCount", 1);
    EXPECT_EQ(0u, DeleteLocalClip(1));
    for (const char *value : {"Name", "UTF", "RTF", "HTML"})
        EXPECT_EQ("<none>", Value("Clip B", value)) << value;
    EXPECT_EQ("2018-02-12 09:05:00", Value("Clip B", "LastUpdate"));
    EXPECT_EQ(0u, DeleteLocalClip(1));
    EXPECT_EQ(0u, GetSettingsInt(nullptr, "ClipCount", 99));
    EXPECT_TRUE(Loaded().empty());
}

TEST(ClippingStore, RecallPlacesExactlyTheStoredFormats)
{
    Seed("Clip A", "rich", L"Gr\u00fc\u00dfe", "{\\rtf1 x}", nullptr);
    // A variant stored without its terminating zero is read within its size.
    RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_ROOT "\\Clip A", 0, KEY_SET_VALUE, key.put()));
    RegSetValueExA(key.get(), "HTML", 0, REG_SZ, (const BYTE *)"<p>", 3);
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, "before"}}));
    {
        ClipboardGuard clip(nullptr);
        ASSERT_TRUE(clip.ok());
        EXPECT_EQ(3u, RecallClipping(nullptr, 0));
        // Missing clippings leave the clipboard as it is.
        EXPECT_EQ(0u, RecallClipping(nullptr, 5));
    }
    std::vector<UINT> formats = ClipboardFormats();
    ASSERT_GE(formats.size(), 3u);
    EXPECT_EQ(std::vector<UINT>({CF_UNICODETEXT, Registered("Rich Text Format"), Registered("HTML Format")}),
              std::vector<UINT>(formats.begin(), formats.begin() + 3));
    EXPECT_EQ(std::wstring(L"Gr\u00fc\u00dfe"), (const wchar_t *)ClipboardData(CF_UNICODETEXT).c_str());
    EXPECT_EQ("<p>", std::string(ClipboardData(Registered("HTML Format")).c_str()));
    EXPECT_EQ("{\\rtf1 x}", std::string(ClipboardData(Registered("Rich Text Format")).c_str()));
}

TEST_F(ClippingsTest, SubmenuListsNamesInOrderAndRecallsByItemData)
{
    HMENU sub = ClippingsSubmenu();
    EXPECT_EQ(std::vector<std::string>{"(Empty)"}, MenuTexts(sub));
    EXPECT_TRUE(GetMenuState(sub, IDM_CLIPFIRST, MF_BYCOMMAND) & MF_GRAYED);

    Seed("Clip A", "b", L"bee");
    Seed("Clip C", "A", L"ay", "{\\rtf1 ay}");
    Seed("Clip D", "c", L"sea");
    sub = ClippingsSubmenu();
    EXPECT_EQ((std::vector<std::string>{"A", "b", "c"}), MenuTexts(sub));
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("kept", 5)}}));
    // "A" is the second section found, so its command is 502; its slot is 2.
    EXPECT_EQ(IDM_CLIPFIRST + 1, GetMenuItemID(sub, 0));
    Command(IDM_CLIPFIRST + 1);
    EXPECT_EQ(std::wstring(L"ay"), (const wchar_t *)ClipboardData(CF_UNICODETEXT).c_str());
    EXPECT_EQ("{\\rtf1 ay}", std::string(ClipboardData(Registered("Rich Text Format")).c_str()));
    Command(IDM_UNDO);
    EXPECT_EQ("kept", std::string(ClipboardData(CF_TEXT).c_str()));
    // A command without an item recalls nothing.
    Command(IDM_CLIPFIRST + 9);
    EXPECT_EQ("kept", std::string(ClipboardData(CF_TEXT).c_str()));
}

TEST_F(ClippingsTest, TrayMenuPickRecallsTheSlotOfTheItem)
{
    Seed("Clip A", "zeta", L"zz");
    Seed("Clip C", "alpha", L"aa");
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("kept", 5)}}));
    PostMessageA(Main(), WM_COMMAND, IDM_TRAYICON, WM_RBUTTONDOWN);
    ASSERT_TRUE(WaitFor([] { return FindWindowA("#32768", nullptr) != nullptr; }));
    Settle(200);
    // The menu loop reads keys from the window's thread: "&Clippings" opens
    // with its first item, "alpha", selected.
    PostMessageA(Main(), WM_CHAR, 'c', 0);
    Settle(200);
    PostMessageA(Main(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(WaitFor([] { return std::wstring(L"aa") == (const wchar_t *)ClipboardData(CF_UNICODETEXT).c_str(); }));
}

TEST_F(ClippingsTest, StoreCommandAsksForANameAndStoresThePlainText)
{
    EXPECT_TRUE(MenuState(IDM_CLIPADD) & MF_GRAYED);
    const wchar_t text[] = L"plain \u20ac";
    ASSERT_TRUE(SetClipboardFormats({{CF_UNICODETEXT, std::string((const char *)text, sizeof text)},
                                     {Registered("HTML Format"), "<b>x</b>"}}));
    EXPECT_FALSE(MenuState(IDM_CLIPADD) & MF_GRAYED);
    gvGlobals.HexView = 1;
    m_TextSize = 2000;
    std::string limit;
    ExpectBox("Store Clipping", AnswerName("New Clipping", &limit));
    Command(IDM_CLIPADD);
    ExpectBox("Store Clipping", AnswerName("New Clipping"));
    Command(IDM_CLIPADD);
    gvGlobals.HexView = 0;
    EXPECT_EQ("31", limit);
    EXPECT_EQ("New Clipping", Value("Clip A", "Name"));
    EXPECT_EQ("New Clipping (1)", Value("Clip B", "Name"));
    EXPECT_EQ(text, WideValue("Clip A", "UTF"));
    EXPECT_EQ("<b>x</b>", Value("Clip A", "HTML"));
    EXPECT_EQ("<none>", Value("Clip A", "RTF"));

    // An emptied name is a cancel.
    ExpectBox("Store Clipping", AnswerName(""));
    Command(IDM_CLIPADD);
    EXPECT_EQ(2u, GetSettingsInt(nullptr, "ClipCount", 0));

    std::string message;
    m_TextSize = 2001;
    ExpectBox("Quillet", ReadMessage(&message));
    Command(IDM_CLIPADD);
    EXPECT_EQ("Unable to Save Clipping: Clippings are limited to 2000 characters.", message);
    WriteSettingsInt(nullptr, "ClipCount", 10);
    ExpectBox("Quillet", ReadMessage(&message));
    Command(IDM_CLIPADD);
    EXPECT_EQ("Unable to Save Clipping: Only 10 Clippings are supported in this version.", message);
    m_TextSize = 0;
}

TEST_F(ClippingsTest, ViewerAddButtonStoresTheText)
{
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("from the viewer", 16)}}));
    HWND viewer = nullptr;
    ExpectBox("Clipboard Viewer", [&viewer](HWND box) {
        ExpectBox("Store Clipping", AnswerName("Viewed"));
        PostMessageA(box, WM_COMMAND, IDC_VIEWADD, 0);
        viewer = box;
    });
    PostMessageA(Main(), WM_COMMAND, IDM_VIEW, 0);
    EXPECT_TRUE(WaitFor([] { return Value("Clip A", "Name") == "Viewed"; }));
    EXPECT_EQ(L"from the viewer", WideValue("Clip A", "UTF"));
    PostMessageA(viewer, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&viewer] { return !IsWindow(viewer); }));
}
