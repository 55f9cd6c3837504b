// The clipboard viewer, run modally on the test thread and driven from the
// box watcher's thread, on the real clipboard.
#include "boxwatch.h"
#include "testutil.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include "viewer/viewer.h"
#include <commctrl.h>
#include <fstream>

namespace {

const UINT OTHER = RegisterClipboardFormatA("Quillet Test");

// The viewer as the watcher thread sees it.
struct Dlg {
    HWND hwnd;
    HWND Item(int id) const { return GetDlgItem(hwnd, id); }
    std::string Text(int id) const { return WindowText(Item(id)); }
    bool Visible(int id) const { return IsWindowVisible(Item(id)) != FALSE; }
    void Click(int id) const { SendMessageA(Item(id), BM_CLICK, 0, 0); }
    LRESULT List(UINT msg, WPARAM w = 0, LPARAM l = 0) const
    {
        return SendDlgItemMessageA(hwnd, IDC_VIEWFORMATS, msg, w, l);
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
    // Selects the format by its name and presses Refresh.
    void Show(const char *name) const
    {
        List(CB_SELECTSTRING, (WPARAM)-1, (LPARAM)name);
        Click(IDC_VIEWREFRESH);
    }
    // Saves through the file dialog; the text of the message that follows.
    std::string SaveAs(const std::string &path) const
    {
        const auto shown = [](const char *caption) {
            HWND box = nullptr;
            WaitFor([&] { return (box = FindWindowA("#32770", caption)) && IsWindowVisible(box); }, 20000);
            return box;
        };
        PostMessageA(hwnd, WM_COMMAND, IDC_VIEWSAVE, 0);
        TypePath(path)(shown("Save As"));
        HWND box = shown(APP_NAME);
        std::string text = WindowText(GetDlgItem(box, 0xFFFF));
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        WaitFor([box] { return !IsWindowVisible(box); });
        return text;
    }
};

// The viewer's result; the file dialog's change of the current folder is undone.
INT_PTR RunViewer(const std::function<void(const Dlg &)> &drive)
{
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof cwd, cwd);
    const INT_PTR result = RunDialog("Clipboard Viewer", ViewDialog, [drive](HWND dlg) { drive(Dlg{dlg}); });
    SetCurrentDirectoryA(cwd);
    return result;
}

} // namespace

// The formats by name and kind; the text up to its zero, measured, Unicode
// converted, zero bytes replaced by "DisplayNullAs" as it stands at each
// turn; rich text rendered; beyond an edit control's default 32K characters
// nothing is cut. The text pane saves what it shows, replacing a longer
// file; a picture's Show Source turns to the dump of its data. Escape does
// not close the viewer.
TEST(Viewer, ListsFormatsAndShowsTextZeroBytesAndDumps)
{
    const wchar_t wide[] = L"Gr\u00fc\u00dfe \u20ac";
    std::string lines;
    for (int i = 0; i < 2000; i++)
        lines += std::string(48, (char)('a' + i % 26)) + "\r\n";
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("ab\0cd", 6)},
                                     {CF_UNICODETEXT, std::string((const char *)wide, sizeof wide)},
                                     {RTF, "{\\rtf1 Hello {\\b World}}"},
                                     {OTHER, lines},
                                     {gvGlobals.cfPNG, "x"}}))
        << GetLastError();
    const std::string path = TempPath("quillet_viewer_text.txt");
    std::ofstream(path, std::ios::binary) << std::string(100, 'L');
    std::string note;
    EXPECT_EQ(1, RunViewer([&](const Dlg &d) {
                  EXPECT_EQ((std::vector<std::string>{"ASCII Text/1", "Locale information/2", "PNG/3",
                                                      "Quillet Test/2", "Rich Text Format/2", "Text/1",
                                                      "Unicode Text/4"}),
                            d.FormatList());
                  EXPECT_EQ("6 Bytes", d.Text(IDC_VIEWSIZE));
                  d.Show("Unicode Text");
                  EXPECT_EQ("Gr\xc3\xbc\xc3\x9f"
                            "e \xe2\x82\xac",
                            d.Text(IDC_VIEWTEXT));
                  d.Show("Rich Text Format");
                  EXPECT_TRUE(d.Visible(IDC_VIEWRTF) && !d.Visible(IDC_VIEWTEXT));
                  EXPECT_EQ("Hello World", d.Text(IDC_VIEWRTF));
                  d.Show("Text");
                  d.Click(IDC_VIEWNULLS);
                  EXPECT_EQ("ab.cd.", d.Text(IDC_VIEWTEXT));
                  for (const char *nulls : {"#", ""}) {
                      WriteSettingsStringA(nullptr, "DisplayNullAs", nulls);
                      d.Click(IDC_VIEWNULLS);
                      d.Click(IDC_VIEWNULLS);
                      EXPECT_EQ(*nulls ? "ab#cd#" : "ab", d.Text(IDC_VIEWTEXT));
                  }
                  note = d.SaveAs(path);
                  d.Show("Quillet Test");
                  EXPECT_EQ(lines, d.Text(IDC_VIEWTEXT));
                  d.Show("PNG");
                  EXPECT_TRUE(d.Visible(IDC_PICTUREFRAME) && d.Visible(IDC_VIEWSOURCE));
                  d.Click(IDC_VIEWSOURCE);
                  EXPECT_EQ(0u, d.Text(IDC_VIEWTEXT).find("000000: 78 ")) << d.Text(IDC_VIEWTEXT);
                  EXPECT_FALSE(d.Visible(IDC_PICTUREFRAME));
                  PostMessageA(d.hwnd, WM_COMMAND, IDCANCEL, 0);
                  for (int id : {IDC_VIEWTEXT, IDC_VIEWFORMATS})
                      PostMessageA(d.Item(id), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
                  Sleep(500);
                  EXPECT_TRUE(IsWindowVisible(d.hwnd));
                  d.Click(IDOK);
              }));
    EXPECT_EQ(LoadedString(IDS_FILECREATED), note);
    EXPECT_EQ("ab", ReadFileBytes(path));
    DeleteFileA(path.c_str());
}

// Text too long for the edit control to lay out in a moment goes to the row
// list, whole; what the pane shows is saved exactly, and a file another
// program holds open is said to fail. Of Unicode text with an odd byte count
// only the whole characters are converted, never the 'C' that the
// zero-filled block would pair with a zero. The close box ends the viewer.
TEST(Viewer, SixteenMegabytesAreShownAndSavedWhole)
{
    const size_t size = 16 << 20, rows = size / 16;
    std::string data(size, '\0'), row[2], notes[2];
    for (size_t i = 0; i < size; i++)
        data[i] = (char)(i % 251 + 1);
    ASSERT_TRUE(SetClipboardFormats({{OTHER, data}, {CF_UNICODETEXT, std::string("A\0\0\0C", 5)}}))
        << GetLastError();
    const std::string path = TempPath("quillet_viewer_large.txt"), held = TempPath("quillet_viewer_held.txt");
    EXPECT_EQ(2, RunViewer([&](const Dlg &d) {
                  d.Show("Unicode Text");
                  d.Click(IDC_VIEWNULLS);
                  EXPECT_EQ("\xe2\xb9\x81\xe2\xb8\xae", d.Text(IDC_VIEWTEXT)); // U+2E41 U+2E2E
                  d.Click(IDC_VIEWNULLS);
                  d.Show("Quillet Test");
                  d.Click(IDC_VIEWHEX);
                  EXPECT_TRUE(d.Visible(IDC_VIEWROWS) && !d.Visible(IDC_VIEWTEXT));
                  EXPECT_EQ((LRESULT)rows, SendMessageA(d.Item(IDC_VIEWROWS), LVM_GETITEMCOUNT, 0, 0));
                  for (size_t i : {size_t(0), rows - 1}) {
                      char text[100] = "";
                      ListView_GetItemText(d.Item(IDC_VIEWROWS), i, 0, text, sizeof text);
                      row[i ? 1 : 0] = text;
                  }
                  notes[0] = d.SaveAs(path);
                  HANDLE hold =
                      CreateFileA(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
                  notes[1] = d.SaveAs(held);
                  CloseHandle(hold);
                  PostMessageA(d.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
                  WaitFor([&d] { return !IsWindowVisible(d.hwnd); });
              }));
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

// A copy by another program closes the viewer; the viewers of the chain are
// told of it and of every change after it.
TEST(Viewer, ClipboardChangeClosesItAndTheChainHearsOfIt)
{
    ChainedViewer chained;
    Settle();
    chained.draws = 0;
    EXPECT_EQ(2, RunViewer([](const Dlg &d) {
                  EXPECT_EQ(0, RunChild("--child-copy-formatted"));
                  EXPECT_TRUE(WaitFor([&d] { return !IsWindowVisible(d.hwnd); }));
              }));
    EXPECT_TRUE(WaitFor([&chained] { return chained.draws >= 1; }));
    chained.draws = 0;
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, "y"}})) << GetLastError();
    EXPECT_TRUE(WaitFor([&chained] { return chained.draws > 0; }));
}
