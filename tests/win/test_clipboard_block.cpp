#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <string>
#include <vector>
#include "clipboard/clipboard.h"
#include "clipboard/formats.h"
#include "resources/resource.h"
#include "testutil.h"
#include "util/globals.h"
#include "util/guards.h"

namespace {

struct BlockCopy {
    bool valid = false;
    SIZE_T dataSize = 0;
    std::string bytes; // the whole block
    std::string Text() const { return bytes.c_str(); }
    std::wstring WideText() const { return reinterpret_cast<const wchar_t *>(bytes.c_str()); }
};

BlockCopy CopyBlock(HWND viewer, UINT format, int caseMode = CASE_NONE)
{
    BlockCopy copy;
    ClipboardGuard clip(nullptr);
    EXPECT_TRUE(clip.ok());
    HGLOBAL h = GetClipboardBlock(viewer, format, caseMode, &copy.dataSize);
    if (h == INVALID_BLOCK)
        return copy;
    copy.valid = true;
    {
        GlobalLockGuard<char> p(h);
        copy.bytes.assign(p.get(), GlobalSize(h));
    }
    GlobalFree(h);
    return copy;
}

// A popup window with the children the viewer and the main window have.
class TestWindow {
public:
    TestWindow()
    {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&icc);
        hwnd = CreateWindowExA(0, "STATIC", "test", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 400, 300,
                               nullptr, nullptr, nullptr, nullptr);
        progress = Child(PROGRESS_CLASSA, 0, IDC_VIEWPROGRESS);
        list = Child("LISTBOX", LBS_SORT | LBS_NOSEL, IDC_FORMATLIST);
        reduce = Child("BUTTON", BS_PUSHBUTTON, IDC_REDUCE);
        sysMenu = GetSystemMenu(hwnd, FALSE);
        AppendMenuA(sysMenu, MF_STRING, IDM_REDUCE, "Reduce");
    }
    ~TestWindow() { DestroyWindow(hwnd); }
    std::vector<std::string> Items() const
    {
        std::vector<std::string> items;
        for (LRESULT i = 0; i < SendMessageA(list, LB_GETCOUNT, 0, 0); i++) {
            char text[128] = "";
            SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
            items.push_back(text);
        }
        return items;
    }
    bool MenuGrayed() const { return GetMenuState(sysMenu, IDM_REDUCE, MF_BYCOMMAND) & MF_GRAYED; }
    HWND hwnd, progress, list, reduce;
    HMENU sysMenu;

private:
    HWND Child(const char *cls, DWORD style, int id)
    {
        return CreateWindowExA(0, cls, "", WS_CHILD | style, 0, 0, 100, 100, hwnd,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    }
};

class ClipboardBlock : public ::testing::Test {
protected:
    void SetUp() override { ResetModes(); }
    void TearDown() override { ResetModes(); }
    static void ResetModes()
    {
        gvGlobals.HexView = 0;
        gvGlobals.NullChar = 0;
        gvGlobals.KeepUnicode = 0;
        gvGlobals.cfPNG = 0;
    }
};

using FormatCatalogue = ClipboardBlock;

} // namespace

TEST_F(ClipboardBlock, CopyHasZeroAndRoomForDump)
{
    const std::string text("Sixteen bytes!!", 16);
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, text}}));
    BlockCopy copy = CopyBlock(nullptr, CF_TEXT);
    ASSERT_TRUE(copy.valid);
    EXPECT_EQ(copy.dataSize, 16u);
    EXPECT_GE(copy.bytes.size(), 160u);
    EXPECT_EQ(copy.bytes.substr(0, 17), text + '\0');

    ClipboardGuard clip(nullptr);
    SIZE_T size = 0;
    EXPECT_EQ(GetClipboardBlockSize(CF_TEXT, &size), 1);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(GetClipboardBlockSize(CF_DIB, &size), 0);
    EXPECT_EQ(GetClipboardBlock(nullptr, CF_DIB, CASE_NONE, nullptr), INVALID_BLOCK);
}

TEST_F(ClipboardBlock, CaseConversionFollowsKeepUnicode)
{
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("Mixed Case 42", 14)}}));
    EXPECT_EQ(CopyBlock(nullptr, CF_TEXT, CASE_UPPER).Text(), "MIXED CASE 42");
    EXPECT_EQ(CopyBlock(nullptr, CF_TEXT, CASE_LOWER).Text(), "mixed case 42");

    // A byte-wise conversion would stop at the first zero byte of UTF-16.
    gvGlobals.KeepUnicode = 1;
    const wchar_t wide[] = L"\u00e9t\u00e9 ok";
    ASSERT_TRUE(SetClipboardFormats(
        {{CF_UNICODETEXT, std::string(reinterpret_cast<const char *>(wide), sizeof wide)}}));
    EXPECT_EQ(CopyBlock(nullptr, CF_UNICODETEXT, CASE_UPPER).WideText(), L"\u00c9T\u00c9 OK");
    EXPECT_EQ(CopyBlock(nullptr, CF_UNICODETEXT, CASE_LOWER).WideText(), wide);
}

TEST_F(ClipboardBlock, ViewerModes)
{
    TestWindow viewer;
    const UINT bytes = RegisterClipboardFormatA("Quillet Test Bytes");
    const std::string data = std::string("AB\0\x7f", 4) + "cdefghijklmn" + '\0';
    ASSERT_TRUE(SetClipboardFormats({{bytes, data}}));

    gvGlobals.HexView = 1;
    const std::string lastRow = "000010: 00 " + std::string(45, ' ') + "| ." + std::string(15, ' ') + "\r\n";
    EXPECT_EQ(CopyBlock(viewer.hwnd, bytes).Text(),
              "000000: 41 42 00 7f 63 64 65 66 67 68 69 6a 6b 6c 6d 6e | AB..cdefghijklmn\r\n" + lastRow);
    EXPECT_FALSE(GetWindowLongA(viewer.progress, GWL_STYLE) & WS_VISIBLE);

    ASSERT_TRUE(SetClipboardFormats({{bytes, std::string(2048, 'x')}}));
    EXPECT_EQ(CopyBlock(viewer.hwnd, bytes).Text().size(), 128 * 76u);
    EXPECT_EQ(SendMessageA(viewer.progress, PBM_GETPOS, 0, 0), 2);
    EXPECT_EQ(SendMessageA(viewer.progress, PBM_GETRANGE, FALSE, 0), 3);

    gvGlobals.HexView = 0;
    gvGlobals.NullChar = '~';
    ASSERT_TRUE(SetClipboardFormats({{bytes, data}}));
    EXPECT_EQ(CopyBlock(viewer.hwnd, bytes).Text(), "AB~\x7f" + std::string("cdefghijklmn~"));
    // The case mode is for copies without a viewer only.
    gvGlobals.NullChar = 0;
    EXPECT_EQ(CopyBlock(viewer.hwnd, bytes, CASE_UPPER).bytes.substr(0, 18), data + '\0');
}

TEST_F(FormatCatalogue, Names)
{
    char name[64];
    int category = 0;
    gvGlobals.cfPNG = RegisterClipboardFormatA("PNG");
    EXPECT_STREQ(FmtName(gvGlobals.cfPNG, name, sizeof name, &category), "PNG");
    EXPECT_EQ(category, FMT_PICTURE);
    EXPECT_STREQ(FmtName(RegisterClipboardFormatA("Quillet Other"), name, sizeof name, &category),
                 "Quillet Other");
    EXPECT_EQ(category, FMT_OTHER);
    EXPECT_STREQ(FmtName(CF_OWNERDISPLAY, name, sizeof name, &category), "Unknown format (80)");
    const std::string longName(80, 'n');
    FmtName(RegisterClipboardFormatA(longName.c_str()), name, sizeof name, &category);
    EXPECT_EQ(std::string(name), longName.substr(0, 63));
}

TEST_F(FormatCatalogue, RefreshListTracksText)
{
    TestWindow main;
    const UINT rtf = RegisterClipboardFormatA("Rich Text Format");
    ASSERT_TRUE(SetClipboardFormats({{rtf, "{\\rtf1 x}"}, {CF_TEXT, std::string("x", 2)}}));
    RefreshList(main.hwnd, 0);
    std::vector<std::string> items = main.Items();
    EXPECT_EQ(items.size(), ClipboardFormats().size());
    EXPECT_TRUE(std::is_sorted(items.begin(), items.end()));
    auto rtfAt = std::find(items.begin(), items.end(), "Rich Text Format");
    EXPECT_NE(rtfAt, items.end());
    EXPECT_NE(std::find(rtfAt, items.end(), "Text"), items.end());
    EXPECT_TRUE(m_CanReduce);
    EXPECT_TRUE(IsWindowEnabled(main.reduce));
    EXPECT_FALSE(main.MenuGrayed());

    BITMAPINFOHEADER dib = {sizeof dib, 1, 1, 1, 32, BI_RGB, 4, 0, 0, 0, 0};
    std::string header(reinterpret_cast<const char *>(&dib), sizeof dib);
    ASSERT_TRUE(SetClipboardFormats({{CF_DIB, header + std::string(4, '\xff')}}));
    RefreshList(main.hwnd, 0);
    items = main.Items();
    EXPECT_NE(std::find(items.begin(), items.end(), "Device Independent Bitmap"), items.end());
    EXPECT_FALSE(m_CanReduce);
    EXPECT_FALSE(IsWindowEnabled(main.reduce));
    EXPECT_TRUE(main.MenuGrayed());

    ASSERT_TRUE(SetClipboardFormats({{CF_DSPTEXT, std::string("x", 2)}}));
    {
        ClipboardGuard clip(main.hwnd);
        ASSERT_TRUE(clip.ok());
        RefreshList(main.hwnd, 1);
    }
    EXPECT_EQ(main.Items(), std::vector<std::string>{"Text (owner-draw)"});
    EXPECT_TRUE(IsWindowEnabled(main.reduce));
}
