// Clipboard pictures rendered into the viewer's 600 x 400 frame, checked by
// the pixels of the off-screen bitmap and the reported picture information.
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>
#include "boxwatch.h"
#include "testutil.h"
#include "util/globals.h"
#include "viewer/fit.h"
#include "viewer/pictures.h"
#include "viewer/pngdecode.h"
#include "viewer/render.h"

namespace {

const int FRAME_W = 600, FRAME_H = 400;
const COLORREF RED = RGB(255, 0, 0), GREEN = RGB(0, 255, 0), BLUE = RGB(0, 0, 255), YELLOW = RGB(255, 255, 0);
const RECT SMALL = {250, 174, 350, 225}, WIDE = {0, 124, 600, 275}; // 100 x 50 and 1200 x 300, fitted

COLORREF At(HBITMAP bitmap, int x, int y)
{
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    COLORREF colour = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteDC(dc);
    return colour;
}

bool Near(COLORREF a, COLORREF b, int tolerance)
{
    return abs(GetRValue(a) - GetRValue(b)) <= tolerance && abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

#define EXPECT_COLOUR(expected, actual) EXPECT_PRED3(Near, expected, actual, 2)

// A display-compatible bitmap after `paint` drew on it.
HBITMAP Painted(int width, int height, const std::function<void(HDC)> &paint)
{
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    paint(dc);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

void Fill(HDC dc, RECT area, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &area, brush);
    DeleteObject(brush);
}

// A packed DIB as CF_DIB holds it: header, colour table, rows.
std::string PackedDib(LONG width, LONG height, WORD bits, DWORD clrUsed, const std::string &table,
                      const std::string &rows)
{
    BITMAPINFOHEADER h = {sizeof h, width, height, 1, bits, BI_RGB, 0, 0, 0, clrUsed, 0};
    return std::string(reinterpret_cast<const char *>(&h), sizeof h) + table + rows;
}

// 24 bits: the first `redRows` rows in memory red, the others blue.
std::string Dib24(LONG width, LONG height, int redRows)
{
    std::string rows;
    for (int r = 0; r < abs(height); r++) {
        for (int x = 0; x < width; x++)
            rows += std::string(r < redRows ? "\0\0\xFF" : "\xFF\0\0", 3);
        rows.append((4 - width * 3 % 4) % 4, '\0');
    }
    return PackedDib(width, height, 24, 0, "", rows);
}

// Hands a GDI handle or a global block to the clipboard, which then owns it.
bool SetClipboardHandle(UINT format, HANDLE handle)
{
    if (!OpenClipboard(nullptr))
        return false;
    EmptyClipboard();
    bool ok = SetClipboardData(format, handle) != nullptr;
    CloseClipboard();
    return ok;
}

// Vertical stripes in the given colours.
bool SetClipboardBitmap(int width, int height, const std::vector<COLORREF> &columns)
{
    return SetClipboardHandle(CF_BITMAP, Painted(width, height, [&](HDC dc) {
                                  for (int x = 0; x < width; x++)
                                      Fill(dc, {x, 0, x + 1, height}, columns[x % columns.size()]);
                              }));
}

// A red square over the whole 100 x 100 window of the metafile.
bool SetMetafilePicture(LONG xExt, LONG yExt)
{
    HDC dc = CreateMetaFileA(nullptr);
    SetWindowExtEx(dc, 100, 100, nullptr);
    Fill(dc, {0, 0, 100, 100}, RED);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(METAFILEPICT));
    *static_cast<METAFILEPICT *>(GlobalLock(block)) = {MM_ANISOTROPIC, xExt, yExt, CloseMetaFile(dc)};
    GlobalUnlock(block);
    return SetClipboardHandle(CF_METAFILEPICT, block);
}

// A file of the library sources unpacked beside the build folder; empty when
// they are not there.
std::string TestImage(const char *folderPattern, const char *path)
{
    const std::string src = BesideTestProgram("..\\deps\\src\\");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((src + folderPattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return {};
    FindClose(search);
    return ReadFileBytes(src + found.cFileName + "\\" + path);
}

// The pngsuite files are linear (gAMA 1.0); an sRGB display gets them corrected.
COLORREF Linear(int r, int g, int b)
{
    auto c = [](int v) { return int(std::lround(255 * std::pow(v / 255.0, 1 / 2.2))); };
    return RGB(c(r), c(g), c(b));
}

DWORD ScreenDepth()
{
    HDC screen = GetDC(nullptr);
    int bits = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
    return DWORD(bits);
}

class Render : public ::testing::Test {
protected:
    void SetUp() override
    {
        gvGlobals.cfPNG = RegisterClipboardFormatA("PNG");
        gvGlobals.cfJFIF = RegisterClipboardFormatA("JFIF");
        m_dlg = CreateWindowExA(0, "STATIC", "Viewer", WS_POPUP, 0, 0, 700, 500, nullptr, nullptr, nullptr,
                                nullptr);
        CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 10, 10, FRAME_W, FRAME_H,
                        m_dlg, reinterpret_cast<HMENU>(IDC_PICTUREFRAME), nullptr, nullptr);
        m_mybmpInfo = {};
    }
    void TearDown() override
    {
        FreePicture();
        DestroyWindow(m_dlg);
        EXPECT_EQ(0, TakePendingBoxes());
    }

    // Renders the clipboard's format, with `data` put there first if given.
    void Show(UINT format) { ClipboardToBitmap(m_dlg, format); }
    void Show(UINT format, const std::string &data)
    {
        EXPECT_TRUE(SetClipboardFormats({{format, data}}));
        Show(format);
    }
    static COLORREF Px(int x, int y) { return At(m_bmpLocal, x, y); }

    // A loader's bitmap for the clipboard's format; the caller deletes it.
    HBITMAP Load(HBITMAP (*loader)(HWND, UINT), UINT format)
    {
        if (!OpenClipboard(nullptr))
            return nullptr;
        HBITMAP bitmap = loader(m_dlg, format);
        CloseClipboard();
        return bitmap;
    }

    static void ExpectInfo(DWORD width, DWORD height, DWORD bits)
    {
        EXPECT_EQ(width, m_mybmpInfo.width);
        EXPECT_EQ(height, m_mybmpInfo.height);
        EXPECT_EQ(bits, m_mybmpInfo.bitsPerPixel);
    }

    // The picture covers exactly `inside` with `colour`: its corners and centre
    // are the colour, the pixels just outside its sides the background.
    static void ExpectPicture(RECT inside, COLORREF colour, HBITMAP bitmap = m_bmpLocal)
    {
        const int l = inside.left, t = inside.top, r = inside.right - 1, b = inside.bottom - 1;
        const int cx = (l + r) / 2, cy = (t + b) / 2;
        for (POINT in : {POINT{l, t}, POINT{r, t}, POINT{l, b}, POINT{r, b}, POINT{cx, cy}})
            EXPECT_COLOUR(colour, At(bitmap, in.x, in.y)) << in.x << "," << in.y;
        for (POINT out : {POINT{l - 1, cy}, POINT{r + 1, cy}, POINT{cx, t - 1}, POINT{cx, b + 1}})
            if (out.x >= 0 && out.y >= 0 && out.x < FRAME_W && out.y < FRAME_H) {
                EXPECT_EQ(GetSysColor(COLOR_BTNFACE), At(bitmap, out.x, out.y)) << out.x << "," << out.y;
            }
    }

    // The centre of the placeholder's face, fitted into the frame.
    static bool ShowsPlaceholder(HBITMAP bitmap = m_bmpLocal)
    {
        HBITMAP art = LoadPlaceholder();
        const COLORREF face = At(art, 189, 79);
        DeleteObject(art);
        FitRect fit = FitPicture(379, 159, FRAME_W, FRAME_H);
        return Near(face, At(bitmap, (fit.left + fit.right) / 2, (fit.top + fit.bottom) / 2), 6);
    }

    HWND m_dlg = nullptr;
};

TEST_F(Render, Bitmaps)
{
    ASSERT_TRUE(SetClipboardBitmap(100, 50, {BLUE}));
    Show(CF_BITMAP);
    ExpectPicture(SMALL, BLUE);
    ExpectInfo(100, 50, ScreenDepth());
    // A paint copies the rendered picture and never reads the clipboard.
    ASSERT_TRUE(SetClipboardFormats({}));
    HBITMAP painted = Painted(FRAME_W, FRAME_H, [](HDC dc) {
        DRAWITEMSTRUCT item = {ODT_BUTTON, IDC_PICTUREFRAME, 0, ODA_DRAWENTIRE, 0, nullptr, dc,
                               {0, 0, FRAME_W, FRAME_H}, 0};
        PaintPictureFrame(&item);
    });
    ExpectPicture(SMALL, BLUE, painted);
    DeleteObject(painted);

    // Red and green columns halved in width: averaged, not ANDed to black.
    ASSERT_TRUE(SetClipboardBitmap(1200, 300, {RED, GREEN}));
    Show(CF_BITMAP);
    ExpectInfo(1200, 300, ScreenDepth());
    for (int x = 10; x < 590; x += 37)
        EXPECT_GT(GetRValue(Px(x, 200)) + GetGValue(Px(x, 200)), 200) << x;
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), Px(300, WIDE.top - 1));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), Px(300, WIDE.bottom));
}

// DIBs report the size drawn; GDI reads their rows after the colour table,
// bottom-up or top-down.
TEST_F(Render, Dibs)
{
    std::string v5 = Dib24(100, 50, 50);
    v5.insert(40, sizeof(BITMAPV5HEADER) - 40, '\0');
    v5[0] = char(sizeof(BITMAPV5HEADER));
    const struct {
        UINT format;
        std::string data;
        RECT drawn;
    } cases[] = {{CF_DIB, Dib24(100, 50, 50), SMALL},
                 {CF_DIB, Dib24(1200, 300, 300), WIDE},
                 {CF_DIBV5, v5, SMALL}}; // drawn from the CF_DIB the system derives
    for (const auto &c : cases) {
        Show(c.format, c.data);
        ExpectPicture(c.drawn, RED);
        ExpectInfo(c.drawn.right - c.drawn.left, c.drawn.bottom - c.drawn.top, 24);
    }
    Show(CF_DIB, PackedDib(100, 0, 24, 0, "", ""));
    ExpectInfo(FRAME_W, FRAME_H, 24);

    Show(CF_DIB, Dib24(100, -50, 25));
    EXPECT_COLOUR(RED, Px(300, 175));
    EXPECT_COLOUR(BLUE, Px(300, 223));

    // Two table colours: blue on the left, yellow on the right.
    const char table[] = "\xFF\0\0\0\0\xFF\xFF\0";
    std::string indices;
    for (int i = 0; i < 100 * 50; i++)
        indices += char(i % 100 < 50 ? 0 : 1);
    Show(CF_DIB, PackedDib(100, 50, 8, 2, std::string(table, 8), indices));
    ExpectInfo(100, 51, 8);
    for (int y : {175, 223}) {
        EXPECT_COLOUR(BLUE, Px(252, y));
        EXPECT_COLOUR(YELLOW, Px(347, y));
    }
}

// DIBs whose rows or colour table the block does not hold are never read.
TEST_F(Render, PlaceholderCases)
{
    std::string dib = Dib24(100, 50, 50);
    for (const std::string &bad : {dib.substr(0, dib.size() - 300), std::string(20, '\x28'),
                                   PackedDib(100, 50, 8, 0x40000000, "", dib.substr(40))}) {
        Show(CF_DIB, bad);
        EXPECT_TRUE(ShowsPlaceholder());
        ExpectInfo(379, 159, 24);
    }
    Show(CF_TIFF, "II*");
    EXPECT_TRUE(ShowsPlaceholder());
    ExpectInfo(0, 0, 0);

    HBRUSH brush = CreateSolidBrush(RED);
    HBITMAP drawn = Painted(FRAME_W, FRAME_H, [brush](HDC dc) {
        RECT frame = {0, 0, FRAME_W, FRAME_H};
        DrawBMP(dc, reinterpret_cast<HBITMAP>(brush), &frame);
    });
    EXPECT_TRUE(ShowsPlaceholder(drawn));
    DeleteObject(drawn);
    DeleteObject(brush);
    ExpectInfo(379, 159, 24);

    // A format without a picture: an empty frame, the information kept.
    m_mybmpInfo = {7, 8, 9};
    Show(CF_TEXT, std::string("text", 5));
    ExpectInfo(7, 8, 9);
    for (int y = 0; y < FRAME_H; y += 57)
        for (int x = 0; x < FRAME_W; x += 57)
            ASSERT_EQ(GetSysColor(COLOR_BTNFACE), Px(x, y)) << x << "," << y;
}

TEST_F(Render, Metafiles)
{
    // Anisotropic without extents: the whole frame.
    ASSERT_TRUE(SetMetafilePicture(0, 0));
    Show(CF_METAFILEPICT);
    ExpectPicture({0, 0, FRAME_W, FRAME_H}, RED);
    ExpectInfo(0, 0, 0);

    // Negative extents: fitted by their magnitude (2:1), reported as stored.
    ASSERT_TRUE(SetMetafilePicture(-2000, -1000));
    Show(CF_METAFILEPICT);
    ExpectInfo(DWORD(-2000), DWORD(-1000), 0);
    for (POINT in : {POINT{300, 200}, POINT{3, 53}, POINT{596, 346}})
        EXPECT_COLOUR(RED, Px(in.x, in.y)) << in.x << "," << in.y;
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), Px(300, 46));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), Px(300, 353));

    // Bounds of 201 x 101 pixels, right and bottom inclusive.
    HDC dc = CreateEnhMetaFileA(nullptr, nullptr, nullptr, nullptr);
    Fill(dc, {0, 0, 201, 101}, BLUE);
    ASSERT_TRUE(SetClipboardHandle(CF_ENHMETAFILE, CloseEnhMetaFile(dc)));
    Show(CF_ENHMETAFILE);
    ExpectInfo(200, 100, 0);
    for (POINT in : {POINT{300, 200}, POINT{203, 153}, POINT{396, 246}})
        EXPECT_COLOUR(BLUE, Px(in.x, in.y)) << in.x << "," << in.y;
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), Px(196, 200));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), Px(300, 146));
}

TEST_F(Render, Png)
{
    const std::string png = TestImage("libpng-1.6*", "contrib\\pngsuite\\basn2c08.png"),
                      transparent = TestImage("libpng-1.6*", "contrib\\pngsuite\\ftp1n3p08.png");
    if (png.empty() || transparent.empty())
        GTEST_SKIP() << "pngsuite not found";
    Show(gvGlobals.cfPNG, png);
    ExpectInfo(32, 32, ScreenDepth());
    // Top row first, in the screen's colour order.
    HBITMAP bitmap = Load(LoadClipboardPNG, gvGlobals.cfPNG);
    EXPECT_COLOUR(Linear(255, 255, 224), At(bitmap, 31, 0));
    EXPECT_COLOUR(Linear(31, 31, 31), At(bitmap, 0, 31));
    DeleteObject(bitmap);

    // A palette entry marked transparent and no bKGD: the light 3D colour.
    ASSERT_TRUE(SetClipboardFormats({{gvGlobals.cfPNG, transparent}}));
    bitmap = Load(LoadClipboardPNG, gvGlobals.cfPNG);
    EXPECT_EQ(GetSysColor(COLOR_3DLIGHT), At(bitmap, 0, 0));
    EXPECT_COLOUR(Linear(158, 158, 158), At(bitmap, 16, 16));
    DeleteObject(bitmap);

    // Not a PNG at all: silently the placeholder.
    Show(gvGlobals.cfPNG, "GIF89a" + png.substr(6));
    EXPECT_TRUE(ShowsPlaceholder());
    ExpectInfo(379, 159, 24);

    // A damaged header, or data cut after it: libpng's text in a box, then the
    // placeholder. The data ends where the clipboard said, not after the zero
    // bytes that pad the copy.
    auto message = [](const std::string &data) {
        return DecodePng(reinterpret_cast<const uint8_t *>(data.data()), data.size(), 0).message;
    };
    std::string broken = png, text;
    broken[20] ^= 0x55;
    for (const std::string &bad : {broken, png.substr(0, 33)}) {
        ExpectBox("Quillet", NoteText(&text));
        Show(gvGlobals.cfPNG, bad);
        EXPECT_TRUE(ShowsPlaceholder());
        EXPECT_EQ(0, TakePendingBoxes());
        EXPECT_EQ(message(bad), text);
    }
    EXPECT_NE(message(png.substr(0, 33) + std::string(64, '\0')), text);
}

// A truncated file gives one box with libjpeg's warning and what could be
// decoded; a fatal error a box and the placeholder.
TEST_F(Render, Jpeg)
{
    const std::string jpeg = TestImage("libjpeg-turbo-*", "testimages\\testorig.jpg");
    if (jpeg.empty())
        GTEST_SKIP() << "libjpeg-turbo test images not found";
    Show(gvGlobals.cfJFIF, jpeg);
    ExpectInfo(227, 149, ScreenDepth());

    ExpectBox("JPEG Library Error", ClickButton(IDOK));
    Show(gvGlobals.cfJFIF, jpeg.substr(0, jpeg.size() / 2));
    EXPECT_EQ(0, TakePendingBoxes());
    ExpectInfo(227, 149, ScreenDepth());

    ExpectBox("JPEG Library Error", ClickButton(IDOK));
    Show(gvGlobals.cfJFIF, "\xFF\xD8\xFF\xD9");
    EXPECT_TRUE(ShowsPlaceholder());
    EXPECT_EQ(0, TakePendingBoxes());
    ExpectInfo(379, 159, 24);
}

// Every bitmap a refresh obtains (the frame's, the placeholder, decoded
// pictures) is released again.
TEST_F(Render, RefreshingReleasesItsBitmaps)
{
    const std::string png = TestImage("libpng-1.6*", "contrib\\pngsuite\\basn2c08.png"),
                      jpeg = TestImage("libjpeg-turbo-*", "testimages\\testorig.jpg");
    if (png.empty() || jpeg.empty())
        GTEST_SKIP() << "test images not found";
    ASSERT_TRUE(SetClipboardFormats(
        {{gvGlobals.cfPNG, png}, {gvGlobals.cfJFIF, jpeg}, {CF_TIFF, "II*"}, {CF_DIB, Dib24(100, 50, 50)}}));
    const UINT formats[] = {gvGlobals.cfPNG, gvGlobals.cfJFIF, CF_TIFF, CF_DIB, CF_BITMAP};
    for (UINT format : formats)
        Show(format);
    PROCESS_MEMORY_COUNTERS before = {}, after = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    const DWORD objects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    for (int i = 0; i < 1000; i++)
        Show(formats[i % 5]);
    EXPECT_LE(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), objects);
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    // Wine counts no GDI objects (always 0) but does count the memory that
    // bitmaps hold: 200 leaked placeholders alone would be 36 MB.
    EXPECT_LT(after.PagefileUsage, before.PagefileUsage + (SIZE_T(8) << 20));
}

} // namespace
