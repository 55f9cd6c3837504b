// The local clippings manager through the real dialog, store and clipboard.
// The dialog runs here; the box watcher's thread drives it and answers the
// boxes it opens itself.
#include "boxwatch.h"
#include "testutil.h"
#include "clipboard/reduce.h"
#include "clippings/clipmgr.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include <gtest/gtest.h>
#include <atomic>
#include <memory>
#include <thread>

namespace {

using Names = std::vector<std::string>;

void Seed(const char *section, const char *name, const wchar_t *text, const char *rtf = nullptr)
{
    WriteSettingsStringA(section, "Name", name);
    WriteSettingsStringW(section, "UTF", text);
    WriteSettingsStringA(section, "RTF", rtf);
    WriteSettingsStringA(section, "LastUpdate", "2018-02-12 09:05:00");
}

std::string Value(const char *section, const char *name)
{
    char buf[64];
    GetSettingsStringA(section, name, "<none>", buf, sizeof buf);
    return buf;
}

HWND Await(const char *caption)
{
    HWND hwnd = nullptr;
    for (int i = 0; i < 250 && !(hwnd && IsWindowVisible(hwnd)); i++, Sleep(20))
        hwnd = FindWindowA("#32770", caption);
    return hwnd;
}

// The manager as the driving thread sees it.
struct Mgr {
    HWND dlg;
    LRESULT List(UINT msg, WPARAM w = 0, LPARAM l = 0) const
    {
        return SendDlgItemMessageA(dlg, IDC_CM_LIST, msg, w, l);
    }
    // "name/slot" of each item.
    Names Items() const
    {
        Names names;
        for (LRESULT i = 0; i < List(LB_GETCOUNT); i++) {
            char name[64] = "";
            List(LB_GETTEXT, i, (LPARAM)name);
            names.push_back(name + ("/" + std::to_string(List(LB_GETITEMDATA, i))));
        }
        return names;
    }
    void Select(int item, WORD notification = LBN_SELCHANGE) const
    {
        List(LB_SETCURSEL, item);
        SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_CM_LIST, notification), 0);
    }
    bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE; }
    LPARAM Image(int id) const { return SendDlgItemMessageA(dlg, id, BM_GETIMAGE, IMAGE_BITMAP, 0); }
    void Post(int id, WORD code = BN_CLICKED) const
    {
        PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, code), 0);
    }
    // Runs a command that opens a box and answers the box, typing `name`
    // into the name dialog; returns the text the box showed.
    std::string Answer(int id, WORD code, const char *caption, int button, const char *name = nullptr) const
    {
        std::thread command([this, id, code] { SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, code), 0); });
        HWND box = Await(caption);
        EXPECT_FALSE(IsWindowEnabled(dlg)) << caption;
        char shown[128] = "";
        GetDlgItemTextA(box, name ? IDC_CLIPNAME : 0xFFFF, shown, sizeof shown);
        if (name)
            SetDlgItemTextA(box, IDC_CLIPNAME, name);
        PostMessageA(box, WM_COMMAND, button, 0);
        command.join();
        return shown;
    }
};

INT_PTR RunManager(std::function<void(const Mgr &)> drive)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    ExpectBox("Manage Local Clippings", [drive, done](HWND dlg) {
        drive(Mgr{dlg});
        *done = true;
    });
    HWND owner = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
    INT_PTR result = ClipMgrDialog(owner);
    EXPECT_TRUE(WaitFor([done] { return done->load(); }, 20000));
    EXPECT_EQ(0, TakePendingBoxes());
    DestroyWindow(owner);
    return result;
}

} // namespace

TEST(ClipMgr, RenamesDeletesAndFollowsTheSelection)
{
    ExpectBox("Error", ClickButton(IDNO)); // nothing to manage: no download either
    EXPECT_EQ(2, ClipMgrDialog(nullptr));
    Seed("Clip A", "beta", L"two");
    Seed("Clip C", "Alpha", L"one");
    WriteSettingsInt(nullptr, "ClipCount", 2);
    EXPECT_EQ(2, RunManager([](const Mgr &m) {
                  EXPECT_EQ((Names{"Alpha/2", "beta/0"}), m.Items());
                  EXPECT_EQ(0, m.List(LB_GETCURSEL));
                  const LPARAM copyImage = m.Image(IDC_CM_COPY);
                  // The enabled images' ground is the button face (the bottom row comes first).
                  DIBSECTION dib;
                  ASSERT_EQ((int)sizeof dib, GetObjectA((HBITMAP)copyImage, sizeof dib, &dib));
                  const BYTE *corner = static_cast<const BYTE *>(dib.dsBm.bmBits);
                  EXPECT_EQ(GetSysColor(COLOR_BTNFACE), RGB(corner[2], corner[1], corner[0]));
                  EXPECT_TRUE(m.Enabled(IDC_CM_COPY) && m.Enabled(IDC_CM_SYNC) && m.Image(IDC_CM_SYNC));
                  m.Select(-1, LBN_SELCANCEL);
                  for (int id : {IDC_CM_RENAME, IDC_CM_DELETE, IDC_CM_COPY})
                      EXPECT_FALSE(m.Enabled(id)) << id;
                  EXPECT_NE(copyImage, m.Image(IDC_CM_COPY));

                  // A double click renames by default, even to a name in use.
                  m.Select(1);
                  EXPECT_TRUE(m.Enabled(IDC_CM_RENAME) && copyImage == m.Image(IDC_CM_COPY));
                  EXPECT_EQ("beta", m.Answer(IDC_CM_LIST, LBN_DBLCLK, "Rename Clipping", IDOK, "Alpha"));
                  EXPECT_EQ((Names{"Alpha/0", "Alpha/2"}), m.Items());
                  EXPECT_EQ(LB_ERR, m.List(LB_GETCURSEL));
                  EXPECT_EQ("2018-02-12 09:05:00", Value("Clip A", "LastUpdate"));

                  const std::string question = "Are you sure you want to delete the clipping \"Alpha\"?";
                  for (int button : {IDNO, IDYES, IDYES}) {
                      m.Select(0);
                      EXPECT_EQ(question, m.Answer(IDC_CM_DELETE, BN_CLICKED, "Confirm Delete", button));
                  }
                  // Nothing left: the buttons keep their look but do nothing.
                  EXPECT_TRUE(m.Items().empty() && m.Enabled(IDC_CM_COPY));
                  for (int id : {IDC_CM_RENAME, IDC_CM_DELETE, IDC_CM_COPY})
                      m.Post(id);
                  Sleep(300);
                  EXPECT_TRUE(IsWindowVisible(m.dlg) && IsWindowEnabled(m.dlg));
                  m.Post(IDCANCEL);
              }));
    EXPECT_EQ("<none>", Value("Clip A", "Name"));
    EXPECT_EQ("<none>", Value("Clip C", "UTF"));
    EXPECT_EQ(0u, GetSettingsInt(nullptr, "ClipCount", 9));
    EXPECT_EQ(297u, GetSettingsInt(nullptr, "DCActLC", 0));
}

TEST(ClipMgr, CopyPlacesTheClippingClosesAndRemembersTheChoice)
{
    Seed("Clip B", "Notes", L"h\u00e9llo", "{\\rtf1 x}");
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("before", 7)}}));
    EXPECT_EQ(1, RunManager([](const Mgr &m) {
                  SendDlgItemMessageA(m.dlg, IDC_CM_DCCOPY, BM_CLICK, 0, 0);
                  SendMessageA(m.dlg, WM_COMMAND, MAKEWPARAM(IDC_CM_LIST, LBN_DBLCLK), 0);
              }));
    EXPECT_EQ(L"h\u00e9llo", std::wstring((const wchar_t *)ClipboardData(CF_UNICODETEXT).c_str()));
    EXPECT_EQ("{\\rtf1 x}", std::string(ClipboardData(RegisterClipboardFormatA("Rich Text Format")).c_str()));
    ASSERT_GT(m_UndoCount, 0);
    EXPECT_EQ(UINT(CF_TEXT), m_Undo[0].format);
    EXPECT_EQ(298u, GetSettingsInt(nullptr, "DCActLC", 0));

    EXPECT_EQ(1, RunManager([](const Mgr &m) {
                  EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(m.dlg, IDC_CM_DCCOPY));
                  SendDlgItemMessageA(m.dlg, IDC_CM_DCRENAME, BM_CLICK, 0, 0);
                  m.Post(IDOK);
              }));
    EXPECT_EQ(297u, GetSettingsInt(nullptr, "DCActLC", 0));
}
