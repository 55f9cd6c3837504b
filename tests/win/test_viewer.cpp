// The clipboard viewer, run modally on the test thread and driven from the
// box watcher's thread, on the real clipboard.
#include <gtest/gtest.h>
#include "boxwatch.h"
#include "testutil.h"
#include "clipboard/formats.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include "viewer/viewer.h"
#include <commctrl.h>
#include <atomic>
#include <fstream>
#include <memory>

namespace {

const UINT RTF = RegisterClipboardFormatA("Rich Text Format");
const UINT OTHER = RegisterClipboardFormatA("Quillet Test");
using Items = std::vector<std::pair<std::string, DWORD>>;

HWND WaitForDialog(const char *caption)
{
    HWND box = nullptr;
    for (int i = 0; i < 500 && !(box && IsWindowVisible(box)); i++, Sleep(20))
        box = FindWindowA("#32770", caption);
    return box;
}

bool WaitGone(HWND box)
{
    for (int i = 0; i < 500 && IsWindowVisible(box); i++)
        Sleep(20);
    return !IsWindowVisible(box);
}

// The viewer as the watcher thread sees it.
struct Dlg {
    HWND hwnd;
    HWND Item(int id) const { return GetDlgItem(hwnd, id); }
    std::string Text(int id) const { return WindowText(Item(id)); }
    bool Visible(int id) const { return IsWindowVisible(Item(id)) != FALSE; }
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    void Click(int id) const { SendMessageA(Item(id), BM_CLICK, 0, 0); }
    RECT Rect(int id) const
    {
        RECT r;
        GetWindowRect(Item(id), &r);
        return r;
    }
    LRESULT List(UINT msg, WPARAM w = 0, LPARAM l = 0) const
    {
        return SendMessageA(Item(IDC_VIEWFORMATS), msg, w, l);
    }
    Items FormatList() const
    {
        Items items;
        for (int i = 0; i < (int)List(CB_GETCOUNT); i++) {
            char name[128] = "";
            List(CB_GETLBTEXT, i, (LPARAM)name);
            items.push_back({name, (DWORD)List(CB_GETITEMDATA, i)});
        }
        return items;
    }
    // Selects the format and presses Refresh.
    void Show(UINT format) const
    {
        Items items = FormatList();
        for (size_t i = 0; i < items.size(); i++)
            if (LOWORD(items[i].second) == format)
                List(CB_SETCURSEL, i);
        Click(IDC_VIEWREFRESH);
    }
    // Saves through the file dialog; the text of the message that follows.
    std::string SaveAs(const std::string &path) const
    {
        PostMessageA(hwnd, WM_COMMAND, IDC_VIEWSAVE, 0);
        TypePath(path)(WaitForDialog("Save As"));
        HWND box = WaitForDialog(APP_NAME);
        std::string text = WindowText(GetDlgItem(box, 0xFFFF));
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        WaitGone(box);
        return text;
    }
};

class Viewer : public ::testing::Test {
protected:
    void SetUp() override
    {
        gvGlobals.cfPNG = RegisterClipboardFormatA("PNG");
        gvGlobals.cfJFIF = RegisterClipboardFormatA("JFIF");
        gvGlobals.cfRTF = RTF;
        m_owner =
            CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(m_owner);
        EXPECT_EQ(0, TakePendingBoxes()) << "the viewer never showed";
    }
    // Runs the viewer here and `drive`, which closes it, on the watcher
    // thread; all of drive's checks count, even when the viewer ends early.
    INT_PTR Run(std::function<void(const Dlg &)> drive)
    {
        auto done = std::make_shared<std::atomic<bool>>(false);
        ExpectBox("Clipboard Viewer", [drive, done](HWND dlg) {
            drive(Dlg{dlg});
            *done = true;
        });
        INT_PTR code = ViewDialog(m_owner);
        EXPECT_TRUE(WaitFor([done] { return done->load(); }, 20000));
        return code;
    }
    HWND m_owner = nullptr;
};

} // namespace

TEST_F(Viewer, ListsFormatsMeasuresTheTextAndIgnoresEscape)
{
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("Hello", 6)}, {OTHER, "0123456789"}}));
    EXPECT_EQ(1, Run([](const Dlg &d) {
                  Items expected = {{"ASCII Text", FMT_TEXT << 16 | CF_OEMTEXT},
                                    {"Locale information", FMT_OTHER << 16 | CF_LOCALE},
                                    {"Quillet Test", FMT_OTHER << 16 | OTHER},
                                    {"Text", FMT_TEXT << 16 | CF_TEXT},
                                    {"Unicode Text", FMT_UNICODE << 16 | CF_UNICODETEXT}};
                  EXPECT_EQ(expected, d.FormatList());
                  EXPECT_EQ(0, d.List(CB_GETCURSEL));
                  EXPECT_EQ("Hello", d.Text(IDC_VIEWTEXT));
                  EXPECT_TRUE(d.Visible(IDC_VIEWTEXT) && d.Enabled(IDC_VIEWSAVE) && d.Enabled(IDC_VIEWADD));
                  EXPECT_FALSE(d.Visible(IDC_PICTUREFRAME) || d.Visible(IDC_VIEWSOURCE));
                  EXPECT_EQ(6u, m_TextSize);
                  // A new selection shows only after Refresh; the label keeps the text's size.
                  d.List(CB_SETCURSEL, 2);
                  EXPECT_EQ("Hello", d.Text(IDC_VIEWTEXT));
                  d.Click(IDC_VIEWREFRESH);
                  EXPECT_EQ("0123456789", d.Text(IDC_VIEWTEXT));
                  EXPECT_EQ("6 Bytes", d.Text(IDC_VIEWSIZE));
                  // Escape does not close it; a multi-line edit answers it with WM_CLOSE.
                  PostMessageA(d.hwnd, WM_COMMAND, IDCANCEL, 0);
                  for (int id : {IDC_VIEWTEXT, IDC_VIEWFORMATS})
                      PostMessageA(d.Item(id), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
                  Sleep(500);
                  EXPECT_TRUE(IsWindowVisible(d.hwnd));
                  d.Click(IDOK);
              }));

    // Beyond an edit control's default 32K characters nothing is cut.
    std::string lines;
    for (int i = 0; i < 2000; i++)
        lines += std::string(48, (char)('a' + i % 26)) + "\r\n";
    ASSERT_TRUE(SetClipboardFormats({{OTHER, lines}}));
    EXPECT_EQ(2, Run([&lines](const Dlg &d) {
                  EXPECT_EQ(lines, d.Text(IDC_VIEWTEXT));
                  EXPECT_EQ("100000 Bytes", d.Text(IDC_VIEWSIZE));
                  EXPECT_FALSE(d.Enabled(IDC_VIEWADD));
                  EXPECT_EQ(0u, m_TextSize);
                  PostMessageA(d.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0); // the close box
                  WaitGone(d.hwnd);
              }));
}

TEST_F(Viewer, LayoutFollowsTheFormat)
{
    BITMAPINFOHEADER dib = {sizeof dib, 2, 2, 1, 24, BI_RGB, 16, 0, 0, 0, 0};
    ASSERT_TRUE(
        SetClipboardFormats({{CF_TEXT, std::string("plain", 6)},
                             {RTF, "{\\rtf1 Hello {\\b bold}}"},
                             {CF_DIB, std::string((char *)&dib, sizeof dib) + std::string(16, '@')}}));
    Run([](const Dlg &d) {
        d.Show(RTF);
        EXPECT_EQ(0u, d.Text(IDC_VIEWRTF).find("Hello bold"));
        EXPECT_FALSE(d.Visible(IDC_VIEWTEXT) || d.Enabled(IDC_VIEWSAVE) || d.Enabled(IDC_VIEWNULLS));
        d.Click(IDC_VIEWHEX); // as a dump it is text again
        EXPECT_EQ(nullptr, d.Item(IDC_VIEWRTF));
        EXPECT_EQ(0u, d.Text(IDC_VIEWTEXT).find("000000: 7b 5c 72 74 66 31 "));
        d.Click(IDC_VIEWHEX);

        d.Show(CF_DIB);
        std::string info = d.Text(IDC_VIEWTEXT);
        EXPECT_EQ(0u, info.find("Image Type:   Device Independent Bitmap\r\nImage Size:   ")) << info;
        EXPECT_NE(std::string::npos, info.find(" px (height)\r\nColor Depth:  24 bits per pixel")) << info;
        EXPECT_TRUE(d.Visible(IDC_PICTUREFRAME) && d.Visible(IDC_VIEWSOURCE));
        EXPECT_FALSE(d.Visible(IDC_VIEWHEX) || d.Visible(IDC_VIEWNULLS) || d.Enabled(IDC_VIEWSAVE) ||
                     d.Enabled(IDC_VIEWADD));
        EXPECT_LT(d.Rect(IDC_VIEWTEXT).bottom, d.Rect(IDC_PICTUREFRAME).top);
        EXPECT_EQ("", d.Text(IDC_VIEWSIZE));
        EXPECT_EQ(0u, m_TextSize);
        // Show Source: the data as a dump until hex view is turned off.
        d.Click(IDC_VIEWSOURCE);
        EXPECT_EQ((UINT)BST_CHECKED, IsDlgButtonChecked(d.hwnd, IDC_VIEWHEX));
        EXPECT_EQ(0u, d.Text(IDC_VIEWTEXT).find("000000: 28 00 00 00 02 00 00 00 02 00 00 00 01 00 18 00 "));
        EXPECT_FALSE(d.Visible(IDC_PICTUREFRAME) || d.Visible(IDC_VIEWSOURCE));
        EXPECT_EQ(d.Rect(IDC_PICTUREFRAME).bottom, d.Rect(IDC_VIEWTEXT).bottom);
        EXPECT_EQ("6 Bytes", d.Text(IDC_VIEWSIZE));
        d.Click(IDC_VIEWHEX);
        EXPECT_TRUE(d.Visible(IDC_PICTUREFRAME));
        d.Click(IDOK);
    });

    // Rich text beyond a rich edit's default 32K characters is not cut.
    std::string longRtf = "{\\rtf1 ";
    for (int i = 0; i < 8000; i++)
        longRtf += i % 20 == 19 ? "word\\par " : "word ";
    ASSERT_TRUE(SetClipboardFormats({{RTF, longRtf + "}"}}));
    Run([](const Dlg &d) {
        EXPECT_GE(GetWindowTextLengthA(d.Item(IDC_VIEWRTF)), 39000);
        d.Click(IDOK);
    });
}

TEST_F(Viewer, ZeroBytesUnicodeAndHexView)
{
    const wchar_t wide[] = L"Gr\u00fc\u00dfe \u20ac";
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("ab\0cd", 6)},
                                     {CF_UNICODETEXT, std::string((const char *)wide, sizeof wide)}}));
    Run([](const Dlg &d) {
        d.Show(CF_UNICODETEXT);
        EXPECT_EQ("Gr\xc3\xbc\xc3\x9f"
                  "e \xe2\x82\xac",
                  d.Text(IDC_VIEWTEXT));
        d.Show(CF_TEXT);
        EXPECT_EQ("ab", d.Text(IDC_VIEWTEXT));
        d.Click(IDC_VIEWNULLS);
        EXPECT_EQ("ab.cd.", d.Text(IDC_VIEWTEXT));
        EXPECT_FALSE(d.Enabled(IDC_VIEWHEX));
        // The replacement is read at every turn; an empty one means none.
        for (const char *nulls : {"#", ""}) {
            WriteSettingsStringA(nullptr, "DisplayNullAs", nulls);
            d.Click(IDC_VIEWNULLS);
            d.Click(IDC_VIEWNULLS);
            EXPECT_EQ(*nulls ? "ab#cd#" : "ab", d.Text(IDC_VIEWTEXT));
        }
        EXPECT_EQ((UINT)BST_UNCHECKED, IsDlgButtonChecked(d.hwnd, IDC_VIEWNULLS));
        d.Click(IDC_VIEWHEX);
        EXPECT_EQ("000000: 61 62 00 63 64 00 " + std::string(30, ' ') + "| ab.cd." + std::string(10, ' ') +
                      "\r\n",
                  d.Text(IDC_VIEWTEXT));
        EXPECT_FALSE(d.Enabled(IDC_VIEWNULLS));
        d.Click(IDOK);
    });

    // An odd byte count: only the two whole characters are converted, never
    // the 'C' that the zero-filled block would pair with a zero.
    WriteSettingsStringA(nullptr, "DisplayNullAs", ".");
    ASSERT_TRUE(SetClipboardFormats({{CF_UNICODETEXT, std::string("A\0\0\0C", 5)}}));
    Run([](const Dlg &d) {
        d.Show(CF_UNICODETEXT);
        EXPECT_EQ("A", d.Text(IDC_VIEWTEXT));
        d.Click(IDC_VIEWNULLS);
        EXPECT_EQ("\xe2\xb9\x81\xe2\xb8\xae", d.Text(IDC_VIEWTEXT)); // U+2E41 U+2E2E
        d.Click(IDOK);
    });
}

TEST_F(Viewer, SaveWritesExactlyWhatThePaneShows)
{
    const std::string text = TempPath("quillet_viewer_text.txt"), dump = TempPath("quillet_viewer_dump.txt"),
                      held = TempPath("quillet_viewer_held.txt");
    std::ofstream(text, std::ios::binary) << std::string(100, 'L');
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof cwd, cwd);
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("abc", 4)}}));
    std::string notes[3], shown;
    Run([&](const Dlg &d) {
        notes[0] = d.SaveAs(text);
        d.Click(IDC_VIEWHEX);
        shown = d.Text(IDC_VIEWTEXT);
        notes[1] = d.SaveAs(dump);
        // A file that another program holds open cannot be replaced.
        HANDLE hold = CreateFileA(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        notes[2] = d.SaveAs(held);
        CloseHandle(hold);
        d.Click(IDOK);
    });
    SetCurrentDirectoryA(cwd); // the file dialog changes it
    const std::string created = LoadedString(IDS_FILECREATED);
    EXPECT_EQ(created, notes[0]);
    EXPECT_EQ("abc", ReadFileBytes(text));
    EXPECT_EQ(created, notes[1]);
    EXPECT_EQ(76u, shown.size());
    EXPECT_EQ(shown, ReadFileBytes(dump));
    EXPECT_NE(created, notes[2]);
    EXPECT_NE("", notes[2]) << "the system's text for the error";
    for (const std::string &path : {text, dump, held})
        DeleteFileA(path.c_str());
}

// Text too long for the edit control to lay out in a moment goes to the row
// list, whole, and is saved whole.
TEST_F(Viewer, SixteenMegabytesAreShownWholeWithinSeconds)
{
    const size_t size = 16 << 20, rows = size / 16;
    std::string data(size, '\0'), row[2];
    for (size_t i = 0; i < size; i++)
        data[i] = (char)(i % 251 + 1);
    ASSERT_TRUE(SetClipboardFormats({{OTHER, data}}));
    const std::string path = TempPath("quillet_viewer_large.txt");
    DWORD opened = GetTickCount(), shown = 0, dumped = 0;
    Run([&](const Dlg &d) {
        shown = GetTickCount() - opened;
        DWORD start = GetTickCount();
        d.Click(IDC_VIEWHEX);
        dumped = GetTickCount() - start;
        EXPECT_TRUE(d.Visible(IDC_VIEWROWS) && !d.Visible(IDC_VIEWTEXT));
        EXPECT_EQ((LRESULT)rows, SendMessageA(d.Item(IDC_VIEWROWS), LVM_GETITEMCOUNT, 0, 0));
        for (size_t i : {size_t(0), rows - 1}) {
            char text[100] = "";
            LVITEMA item = {};
            item.pszText = text;
            item.cchTextMax = sizeof text;
            SendMessageA(d.Item(IDC_VIEWROWS), LVM_GETITEMTEXTA, i, (LPARAM)&item);
            row[i ? 1 : 0] = text;
        }
        d.SaveAs(path);
        d.Click(IDOK);
    });
    EXPECT_EQ("000000: 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 | ................", row[0]);
    EXPECT_EQ(0u, row[1].find("fffff0: ")) << row[1];
    std::string file = ReadFileBytes(path);
    DeleteFileA(path.c_str());
    EXPECT_EQ(rows * 76, file.size());
    EXPECT_EQ(row[0] + "\r\n" + row[1] + "\r\n", file.substr(0, 76) + file.substr(file.size() - 76));
    EXPECT_LT(shown, 5000u);
    EXPECT_LT(dumped, 10000u);
}

// A copy by another program closes the viewer, which passes the change on
// and leaves the chain.
TEST_F(Viewer, ClipboardChangeClosesItAndGoesOnDownTheChain)
{
    ChainedViewer chained;
    Settle();
    chained.draws = 0;
    EXPECT_EQ(2, Run([](const Dlg &d) {
                  EXPECT_EQ(0, RunChild("--child-copy-formatted"));
                  EXPECT_TRUE(WaitGone(d.hwnd));
              }));
    EXPECT_GE(chained.draws, 1);
    chained.draws = 0;
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, "y"}}));
    EXPECT_TRUE(WaitFor([&chained] { return chained.draws > 0; }));
}
