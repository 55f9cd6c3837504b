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
#include <fstream>

namespace {

const UINT OTHER = RegisterClipboardFormatA("Quillet Test");

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
    void Click(int id) const { SendMessageA(Item(id), BM_CLICK, 0, 0); }
    LRESULT List(UINT msg, WPARAM w = 0, LPARAM l = 0) const
    {
        return SendMessageA(Item(IDC_VIEWFORMATS), msg, w, l);
    }
    // "name/category" of each listed format.
    std::vector<std::string> FormatList() const
    {
        std::vector<std::string> items;
        for (int i = 0; i < (int)List(CB_GETCOUNT); i++) {
            char name[128] = "";
            List(CB_GETLBTEXT, i, (LPARAM)name);
            items.push_back(name + ("/" + std::to_string(HIWORD(List(CB_GETITEMDATA, i)))));
        }
        return items;
    }
    // Selects the format and presses Refresh.
    void Show(UINT format) const
    {
        for (int i = 0; i < (int)List(CB_GETCOUNT); i++)
            if (LOWORD(List(CB_GETITEMDATA, i)) == format)
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
    void SetUp() override { GetCurrentDirectoryA(sizeof m_cwd, m_cwd); }
    void TearDown() override
    {
        SetCurrentDirectoryA(m_cwd); // the file dialog changes it
    }
    INT_PTR Run(std::function<void(const Dlg &)> drive)
    {
        return RunDialog("Clipboard Viewer", ViewDialog, [drive](HWND dlg) { drive(Dlg{dlg}); });
    }
    char m_cwd[MAX_PATH];
};

} // namespace

// The formats by name and kind; the text up to its zero, measured, Unicode
// converted, zero bytes replaced by "DisplayNullAs" as it stands at each
// turn; Escape does not close the viewer.
TEST_F(Viewer, ListsFormatsAndShowsTextZeroBytesAndDumps)
{
    const wchar_t wide[] = L"Gr\u00fc\u00dfe \u20ac";
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("ab\0cd", 6)},
                                     {CF_UNICODETEXT, std::string((const char *)wide, sizeof wide)},
                                     {OTHER, "0123456789"},
                                     {gvGlobals.cfPNG, "x"}}))
        << GetLastError();
    EXPECT_EQ(1, Run([](const Dlg &d) {
                  EXPECT_EQ((std::vector<std::string>{"ASCII Text/1", "Locale information/2", "PNG/3",
                                                      "Quillet Test/2", "Text/1", "Unicode Text/4"}),
                            d.FormatList());
                  EXPECT_EQ("6 Bytes", d.Text(IDC_VIEWSIZE));
                  d.Show(CF_UNICODETEXT);
                  EXPECT_EQ("Gr\xc3\xbc\xc3\x9f"
                            "e \xe2\x82\xac",
                            d.Text(IDC_VIEWTEXT));
                  d.Show(CF_TEXT);
                  d.Click(IDC_VIEWNULLS);
                  EXPECT_EQ("ab.cd.", d.Text(IDC_VIEWTEXT));
                  for (const char *nulls : {"#", ""}) {
                      WriteSettingsStringA(nullptr, "DisplayNullAs", nulls);
                      d.Click(IDC_VIEWNULLS);
                      d.Click(IDC_VIEWNULLS);
                      EXPECT_EQ(*nulls ? "ab#cd#" : "ab", d.Text(IDC_VIEWTEXT));
                  }
                  PostMessageA(d.hwnd, WM_COMMAND, IDCANCEL, 0);
                  for (int id : {IDC_VIEWTEXT, IDC_VIEWFORMATS})
                      PostMessageA(d.Item(id), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
                  Sleep(500);
                  EXPECT_TRUE(IsWindowVisible(d.hwnd));
                  d.Click(IDOK);
              }));

    // An odd byte count: only the whole characters are converted, never the
    // 'C' that the zero-filled block would pair with a zero. Beyond an edit
    // control's default 32K characters nothing is cut.
    std::string lines;
    for (int i = 0; i < 2000; i++)
        lines += std::string(48, (char)('a' + i % 26)) + "\r\n";
    WriteSettingsStringA(nullptr, "DisplayNullAs", ".");
    ASSERT_TRUE(SetClipboardFormats({{CF_UNICODETEXT, std::string("A\0\0\0C", 5)}, {OTHER, lines}}))
        << GetLastError();
    EXPECT_EQ(2, Run([&lines](const Dlg &d) {
                  d.Show(CF_UNICODETEXT);
                  d.Click(IDC_VIEWNULLS);
                  EXPECT_EQ("\xe2\xb9\x81\xe2\xb8\xae", d.Text(IDC_VIEWTEXT)); // U+2E41 U+2E2E
                  d.Click(IDC_VIEWNULLS);
                  d.Show(OTHER);
                  EXPECT_EQ(lines, d.Text(IDC_VIEWTEXT));
                  PostMessageA(d.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0); // the close box
                  WaitGone(d.hwnd);
              }));
}

// Text too long for the edit control to lay out in a moment goes to the row
// list, whole; what the pane shows is saved exactly, and a file another
// program holds open is said to fail.
TEST_F(Viewer, SixteenMegabytesAreShownAndSavedWhole)
{
    const size_t size = 16 << 20, rows = size / 16;
    std::string data(size, '\0'), row[2], notes[2];
    for (size_t i = 0; i < size; i++)
        data[i] = (char)(i % 251 + 1);
    ASSERT_TRUE(SetClipboardFormats({{OTHER, data}})) << GetLastError();
    const std::string path = TempPath("quillet_viewer_large.txt"), held = TempPath("quillet_viewer_held.txt");
    Run([&](const Dlg &d) {
        d.Click(IDC_VIEWHEX);
        EXPECT_TRUE(IsWindowVisible(d.Item(IDC_VIEWROWS)) && !IsWindowVisible(d.Item(IDC_VIEWTEXT)));
        EXPECT_EQ((LRESULT)rows, SendMessageA(d.Item(IDC_VIEWROWS), LVM_GETITEMCOUNT, 0, 0));
        for (size_t i : {size_t(0), rows - 1}) {
            char text[100] = "";
            LVITEMA item = {};
            item.pszText = text;
            item.cchTextMax = sizeof text;
            SendMessageA(d.Item(IDC_VIEWROWS), LVM_GETITEMTEXTA, i, (LPARAM)&item);
            row[i ? 1 : 0] = text;
        }
        notes[0] = d.SaveAs(path);
        HANDLE hold = CreateFileA(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        notes[1] = d.SaveAs(held);
        CloseHandle(hold);
        d.Click(IDOK);
    });
    EXPECT_EQ("000000: 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 | ................", row[0]);
    EXPECT_EQ(0u, row[1].find("fffff0: ")) << row[1];
    std::string file = ReadFileBytes(path);
    EXPECT_EQ(rows * 76, file.size());
    EXPECT_EQ(row[0] + "\r\n" + row[1] + "\r\n", file.substr(0, 76) + file.substr(file.size() - 76));
    EXPECT_EQ(LoadedString(IDS_FILECREATED), notes[0]);
    EXPECT_TRUE(notes[1] != "" && notes[1] != LoadedString(IDS_FILECREATED)) << "the system's error text";
    DeleteFileA(path.c_str());
    DeleteFileA(held.c_str());
}

// The text pane saves the text it shows, replacing a longer file; a
// picture's Show Source turns to the dump of its data.
TEST_F(Viewer, TheTextPaneSavesWhatItShowsAndShowSourceDumps)
{
    BITMAPINFOHEADER dib = {sizeof dib, 2, 2, 1, 24, BI_RGB, 16, 0, 0, 0, 0};
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("abc", 4)},
                                     {CF_DIB, std::string((char *)&dib, sizeof dib) + std::string(16, '@')}}))
        << GetLastError();
    const std::string path = TempPath("quillet_viewer_text.txt");
    std::ofstream(path, std::ios::binary) << std::string(100, 'L');
    std::string note;
    Run([&](const Dlg &d) {
        d.Show(CF_TEXT);
        note = d.SaveAs(path);
        d.Show(CF_DIB);
        EXPECT_TRUE(IsWindowVisible(d.Item(IDC_PICTUREFRAME)) && IsWindowVisible(d.Item(IDC_VIEWSOURCE)));
        d.Click(IDC_VIEWSOURCE);
        EXPECT_EQ(0u, d.Text(IDC_VIEWTEXT).find("000000: 28 00 00 00 02 00 00 00 02 00 00 00 01 00 18 00 "));
        EXPECT_FALSE(IsWindowVisible(d.Item(IDC_PICTUREFRAME)));
        d.Click(IDOK);
    });
    EXPECT_EQ(LoadedString(IDS_FILECREATED), note);
    EXPECT_EQ("abc", ReadFileBytes(path));
    DeleteFileA(path.c_str());
}

// A copy by another program closes the viewer; the viewers of the chain are
// told of it and of every change after it.
TEST_F(Viewer, ClipboardChangeClosesItAndTheChainHearsOfIt)
{
    ChainedViewer chained;
    Settle();
    chained.draws = 0;
    EXPECT_EQ(2, Run([](const Dlg &d) {
                  EXPECT_EQ(0, RunChild("--child-copy-formatted"));
                  EXPECT_TRUE(WaitGone(d.hwnd));
              }));
    EXPECT_TRUE(WaitFor([&chained] { return chained.draws >= 1; }));
    chained.draws = 0;
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, "y"}})) << GetLastError();
    EXPECT_TRUE(WaitFor([&chained] { return chained.draws > 0; }));
}
