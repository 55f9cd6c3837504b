// Clipboard pictures rendered into the viewer's 600 x 400 frame, checked by
// the pixels of the off-screen bitmap and the reported picture information.
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
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

struct Pixels {
    int width = 0, height = 0;
    std::vector<uint32_t> bgrx; // top row first
    COLORREF At(int x, int y) const
    {
        uint32_t p = bgrx[size_t(y) * width + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
};

Pixels Read(HBITMAP bitmap)
{
    Pixels out;
    BITMAP bm;
    if (!GetObject(bitmap, sizeof bm, &bm))
        return out;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), bm.bmWidth, -bm.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    out.bgrx.resize(size_t(bm.bmWidth) * bm.bmHeight);
    HDC screen = GetDC(nullptr);
    if (GetDIBits(screen, bitmap, 0, bm.bmHeight, out.bgrx.data(), &info, DIB_RGB_COLORS) == bm.bmHeight) {
        out.width = bm.bmWidth;
        out.height = bm.bmHeight;
    }
    ReleaseDC(nullptr, screen);
    return out;
}

bool Near(COLORREF a, COLORREF b, int tolerance)
{
    return abs(GetRValue(a) - GetRValue(b)) <= tolerance && abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

bool SameColour(COLORREF expected, COLORREF actual)
{
    return Near(expected, actual, 2);
}

#define EXPECT_COLOUR(expected, actual) EXPECT_PRED2(SameColour, expected, actual)

std::string Bytes(const void *p, size_t n)
{
    return std::string(static_cast<const char *>(p), n);
}

// A packed DIB as CF_DIB holds it: header, `between` (masks, colour table), rows.
std::string PackedDib(LONG width, LONG height, WORD bits, DWORD compression, DWORD clrUsed,
                      const std::string &between, const std::string &rows)
{
    BITMAPINFOHEADER h = {sizeof h, width, height, 1, bits, compression, 0, 0, 0, clrUsed, 0};
    return Bytes(&h, sizeof h) + between + rows;
}

// 24-bit rows in memory order, each padded to four bytes.
template <typename F> std::string Rows24(int width, int rows, F colourOf)
{
    std::string out;
    for (int r = 0; r < rows; r++) {
        for (int x = 0; x < width; x++) {
            COLORREF c = colourOf(r);
            out += {char(GetBValue(c)), char(GetGValue(c)), char(GetRValue(c))};
        }
        out.append((4 - width * 3 % 4) % 4, '\0');
    }
    return out;
}

std::string RedDib(LONG width, LONG height)
{
    return PackedDib(width, height, 24, BI_RGB, 0, "", Rows24(width, height, [](int) { return RED; }));
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

// A display-compatible bitmap of vertical stripes in the given colours.
bool SetClipboardBitmap(int width, int height, const std::vector<COLORREF> &columns)
{
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    for (int x = 0; x < width; x++) {
        HBRUSH brush = CreateSolidBrush(columns[x % columns.size()]);
        RECT column = {x, 0, x + 1, height};
        FillRect(dc, &column, brush);
        DeleteObject(brush);
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return SetClipboardHandle(CF_BITMAP, bitmap);
}

// A red square over the whole 100 x 100 window of the metafile.
bool SetMetafilePicture(LONG xExt, LONG yExt)
{
    HDC dc = CreateMetaFileA(nullptr);
    SetWindowExtEx(dc, 100, 100, nullptr);
    HBRUSH brush = CreateSolidBrush(RED);
    RECT square = {0, 0, 100, 100};
    FillRect(dc, &square, brush);
    DeleteObject(brush);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(METAFILEPICT));
    *static_cast<METAFILEPICT *>(GlobalLock(block)) = {MM_ANISOTROPIC, xExt, yExt, CloseMetaFile(dc)};
    GlobalUnlock(block);
    return SetClipboardHandle(CF_METAFILEPICT, block);
}

// A file of the unpacked library sources, <exe folder>\..\deps\src\<folder>\<path>;
// empty when they are not there.
std::string SourceFile(const char *folderPattern, const std::string &path)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string src = exe;
    src = src.substr(0, src.find_last_of('\\')) + "\\..\\deps\\src\\";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((src + folderPattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return {};
    FindClose(search);
    std::ifstream in(src + found.cFileName + "\\" + path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string PngSuite(const char *name)
{
    return SourceFile("libpng-1.6*", std::string("contrib\\pngsuite\\") + name);
}

std::string JpegTestImage(const char *name)
{
    return SourceFile("libjpeg-turbo-*", std::string("testimages\\") + name);
}

// The pngsuite files are linear (gAMA 1.0); an sRGB display gets them corrected.
COLORREF Linear(int r, int g, int b)
{
    auto c = [](int v) { return int(std::lround(255 * std::pow(v / 255.0, 1 / 2.2))); };
    return RGB(c(r), c(g), c(b));
}

int ScreenDepth()
{
    HDC screen = GetDC(nullptr);
    int bits = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
    return bits;
}

// Expects the next message box with this caption and keeps its text.
void ExpectBoxText(const char *caption, std::string *text)
{
    ExpectBox(caption, [text](HWND box) {
        char buf[512] = "";
        GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf);
        *text = buf;
        ClickButton(IDOK)(box);
    });
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

    Pixels Show(UINT format)
    {
        ClipboardToBitmap(m_dlg, format);
        return Read(m_bmpLocal);
    }

    // A loader's bitmap for the clipboard's format, read back and deleted.
    Pixels Load(HBITMAP (*loader)(HWND, UINT), UINT format)
    {
        if (!OpenClipboard(nullptr))
            return {};
        HBITMAP bitmap = loader(m_dlg, format);
        CloseClipboard();
        Pixels p = Read(bitmap);
        DeleteObject(bitmap);
        return p;
    }

    static void ExpectInfo(DWORD width, DWORD height, DWORD bits)
    {
        EXPECT_EQ(width, m_mybmpInfo.width);
        EXPECT_EQ(height, m_mybmpInfo.height);
        EXPECT_EQ(bits, m_mybmpInfo.bitsPerPixel);
    }

    // The picture covers exactly `inside` with `colour`: its corners and centre
    // are the colour, the pixels just outside its sides the background.
    static void ExpectPicture(const Pixels &p, RECT inside, COLORREF colour)
    {
        ASSERT_EQ(FRAME_W, p.width);
        const int l = inside.left, t = inside.top, r = inside.right - 1, b = inside.bottom - 1;
        const int cx = (l + r) / 2, cy = (t + b) / 2;
        for (POINT in : {POINT{l, t}, POINT{r, t}, POINT{l, b}, POINT{r, b}, POINT{cx, cy}})
            EXPECT_COLOUR(colour, p.At(in.x, in.y)) << in.x << "," << in.y;
        for (POINT out : {POINT{l - 1, cy}, POINT{r + 1, cy}, POINT{cx, t - 1}, POINT{cx, b + 1}})
            if (out.x >= 0 && out.y >= 0 && out.x < FRAME_W && out.y < FRAME_H) {
                EXPECT_EQ(GetSysColor(COLOR_BTNFACE), p.At(out.x, out.y)) << out.x << "," << out.y;
            }
    }

    // The centre of the placeholder's face, fitted into the frame.
    static bool ShowsPlaceholder(const Pixels &p)
    {
        static const Pixels art = Read(LoadPlaceholder());
        FitRect fit = FitPicture(379, 159, FRAME_W, FRAME_H);
        return p.width == FRAME_W && art.width == 379 &&
               Near(art.At(189, 79), p.At((fit.left + fit.right) / 2, (fit.top + fit.bottom) / 2), 6);
    }

    HWND m_dlg = nullptr;
};

// The fit rule's worked examples, drawn from CF_BITMAP.
TEST_F(Render, BitmapsAreCentredAndNeverEnlarged)
{
    ASSERT_TRUE(SetClipboardBitmap(100, 50, {RED}));
    ExpectPicture(Show(CF_BITMAP), {250, 174, 350, 225}, RED);
    ExpectInfo(100, 50, ScreenDepth());

    ASSERT_TRUE(SetClipboardBitmap(1200, 300, {BLUE}));
    ExpectPicture(Show(CF_BITMAP), {0, 124, 600, 275}, BLUE);
    ExpectInfo(1200, 300, ScreenDepth());

    ASSERT_TRUE(SetClipboardBitmap(300, 300, {GREEN}));
    ExpectPicture(Show(CF_BITMAP), {149, 50, 450, 350}, GREEN);

    ASSERT_TRUE(SetClipboardBitmap(1200, 800, {RED}));
    ExpectPicture(Show(CF_BITMAP), {0, 0, 600, 400}, RED);
}

// Red and green columns halved in width: averaged, not ANDed to black.
TEST_F(Render, ShrunkPicturesKeepTheirColours)
{
    ASSERT_TRUE(SetClipboardBitmap(1200, 300, {RED, GREEN}));
    Pixels p = Show(CF_BITMAP);
    ASSERT_EQ(FRAME_W, p.width);
    for (int x = 10; x < 590; x += 37)
        EXPECT_GT(GetRValue(p.At(x, 200)) + GetGValue(p.At(x, 200)), 200) << x;
}

// A paint copies the rendered picture and never reads the clipboard.
TEST_F(Render, PaintCopiesTheRenderedPicture)
{
    ASSERT_TRUE(SetClipboardBitmap(100, 50, {RED}));
    ClipboardToBitmap(m_dlg, CF_BITMAP);
    ASSERT_TRUE(SetClipboardFormats({}));

    HDC screen = GetDC(nullptr);
    HBITMAP target = CreateCompatibleBitmap(screen, FRAME_W, FRAME_H);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, target);
    DRAWITEMSTRUCT item = {};
    item.CtlType = ODT_BUTTON;
    item.CtlID = IDC_PICTUREFRAME;
    item.itemAction = ODA_DRAWENTIRE;
    item.hDC = dc;
    item.rcItem = {0, 0, FRAME_W, FRAME_H};
    PaintPictureFrame(&item);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    Pixels painted = Read(target);
    DeleteObject(target);
    EXPECT_TRUE(painted.bgrx == Read(m_bmpLocal).bgrx);
    ExpectPicture(painted, {250, 174, 350, 225}, RED);
}

// DIBs report the size drawn, not their own.
TEST_F(Render, DibsReportTheDrawnSize)
{
    ASSERT_TRUE(SetClipboardFormats({{CF_DIB, RedDib(100, 50)}}));
    ExpectPicture(Show(CF_DIB), {250, 174, 350, 225}, RED);
    ExpectInfo(100, 51, 24);

    ASSERT_TRUE(SetClipboardFormats({{CF_DIB, RedDib(1200, 300)}}));
    ExpectPicture(Show(CF_DIB), {0, 124, 600, 275}, RED);
    ExpectInfo(600, 151, 24);

    ASSERT_TRUE(SetClipboardFormats({{CF_DIB, PackedDib(100, 0, 24, BI_RGB, 0, "", "")}}));
    Show(CF_DIB);
    ExpectInfo(FRAME_W, FRAME_H, 24);

    // Only CF_DIBV5 on the clipboard: drawn from the CF_DIB the system derives.
    BITMAPV5HEADER v5 = {};
    v5.bV5Size = sizeof v5;
    v5.bV5Width = 100;
    v5.bV5Height = 50;
    v5.bV5Planes = 1;
    v5.bV5BitCount = 24;
    v5.bV5Compression = BI_RGB;
    ASSERT_TRUE(SetClipboardFormats({{CF_DIBV5, Bytes(&v5, sizeof v5) + RedDib(100, 50).substr(40)}}));
    ExpectPicture(Show(CF_DIBV5), {250, 174, 350, 225}, RED);
    ExpectInfo(100, 51, 24);
}

TEST_F(Render, DibLayouts)
{
    // Top-down, red rows first: red at the top.
    std::string rows = Rows24(100, 50, [](int row) { return row < 25 ? RED : BLUE; });
    ASSERT_TRUE(SetClipboardFormats({{CF_DIB, PackedDib(100, -50, 24, BI_RGB, 0, "", rows)}}));
    Pixels p = Show(CF_DIB);
    ExpectInfo(100, 51, 24);
    EXPECT_COLOUR(RED, p.At(300, 175));
    EXPECT_COLOUR(BLUE, p.At(300, 223));

    // 5-6-5 bit fields, whose masks precede the pixels.
    const DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
    std::string green565;
    for (int i = 0; i < 100 * 50; i++)
        green565 += "\xE0\x07";
    ASSERT_TRUE(
        SetClipboardFormats({{CF_DIB, PackedDib(100, 50, 16, BI_BITFIELDS, 0, Bytes(masks, 12), green565)}}));
    ExpectPicture(Show(CF_DIB), {250, 174, 350, 225}, GREEN);
    ExpectInfo(100, 51, 16);

    // 8 bits with a table of two colours: blue on the left, yellow on the right.
    const RGBQUAD table[2] = {{255, 0, 0, 0}, {0, 255, 255, 0}};
    std::string indices;
    for (int i = 0; i < 100 * 50; i++)
        indices += char(i % 100 < 50 ? 0 : 1);
    ASSERT_TRUE(SetClipboardFormats({{CF_DIB, PackedDib(100, 50, 8, BI_RGB, 2, Bytes(table, 8), indices)}}));
    p = Show(CF_DIB);
    ExpectInfo(100, 51, 8);
    for (int y : {175, 223}) {
        EXPECT_COLOUR(BLUE, p.At(252, y));
        EXPECT_COLOUR(YELLOW, p.At(347, y));
    }
}

TEST_F(Render, PlaceholderCases)
{
    // DIBs whose rows or colour table the block does not hold are never read.
    std::string dib = RedDib(100, 50);
    for (const std::string &bad : {dib.substr(0, dib.size() - 300), std::string(20, '\x28'),
                                   PackedDib(100, 50, 8, BI_RGB, 0x40000000, "", dib.substr(40))}) {
        ASSERT_TRUE(SetClipboardFormats({{CF_DIB, bad}}));
        EXPECT_TRUE(ShowsPlaceholder(Show(CF_DIB)));
        ExpectInfo(379, 159, 24);
    }

    ASSERT_TRUE(SetClipboardFormats({{CF_TIFF, "II*"}}));
    EXPECT_TRUE(ShowsPlaceholder(Show(CF_TIFF)));
    ExpectInfo(0, 0, 0);

    // DrawBMP given something else than a bitmap.
    HBRUSH brush = CreateSolidBrush(RED);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, FRAME_W, FRAME_H);
    HGDIOBJ old = SelectObject(dc, canvas);
    RECT frame = {0, 0, FRAME_W, FRAME_H};
    DrawBMP(dc, reinterpret_cast<HBITMAP>(brush), &frame);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    DeleteObject(brush);
    EXPECT_TRUE(ShowsPlaceholder(Read(canvas)));
    DeleteObject(canvas);
    ExpectInfo(379, 159, 24);
}

TEST_F(Render, FormatsWithoutAPictureKeepTheInformation)
{
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("text", 5)}}));
    m_mybmpInfo = {7, 8, 9};
    Pixels p = Show(CF_TEXT);
    ExpectInfo(7, 8, 9);
    ASSERT_EQ(FRAME_W, p.width);
    for (uint32_t px : p.bgrx)
        ASSERT_EQ(GetSysColor(COLOR_BTNFACE), RGB((px >> 16) & 0xFF, (px >> 8) & 0xFF, px & 0xFF));
}

TEST_F(Render, Metafiles)
{
    // Anisotropic without extents: the whole frame.
    ASSERT_TRUE(SetMetafilePicture(0, 0));
    ExpectPicture(Show(CF_METAFILEPICT), {0, 0, FRAME_W, FRAME_H}, RED);
    ExpectInfo(0, 0, 0);

    // Negative extents: fitted by their magnitude (2:1), reported as stored.
    ASSERT_TRUE(SetMetafilePicture(-2000, -1000));
    Pixels p = Show(CF_METAFILEPICT);
    ExpectInfo(DWORD(-2000), DWORD(-1000), 0);
    for (POINT in : {POINT{300, 200}, POINT{3, 53}, POINT{596, 346}})
        EXPECT_COLOUR(RED, p.At(in.x, in.y)) << in.x << "," << in.y;
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), p.At(300, 46));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), p.At(300, 353));

    // Bounds of 201 x 101 pixels, right and bottom inclusive.
    HDC dc = CreateEnhMetaFileA(nullptr, nullptr, nullptr, nullptr);
    HBRUSH brush = CreateSolidBrush(BLUE);
    RECT area = {0, 0, 201, 101};
    FillRect(dc, &area, brush);
    DeleteObject(brush);
    ASSERT_TRUE(SetClipboardHandle(CF_ENHMETAFILE, CloseEnhMetaFile(dc)));
    p = Show(CF_ENHMETAFILE);
    ExpectInfo(200, 100, 0);
    for (POINT in : {POINT{300, 200}, POINT{203, 153}, POINT{396, 246}})
        EXPECT_COLOUR(BLUE, p.At(in.x, in.y)) << in.x << "," << in.y;
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), p.At(196, 200));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), p.At(300, 146));
}

TEST_F(Render, PngColours)
{
    std::string png = PngSuite("basn2c08.png"), transparent = PngSuite("ftp1n3p08.png");
    if (png.empty() || transparent.empty())
        GTEST_SKIP() << "pngsuite not found";
    ASSERT_TRUE(SetClipboardFormats({{gvGlobals.cfPNG, png}}));
    Pixels p = Load(LoadClipboardPNG, gvGlobals.cfPNG);
    ASSERT_EQ(32, p.width);
    ASSERT_EQ(32, p.height);
    EXPECT_COLOUR(Linear(255, 255, 255), p.At(0, 0));
    EXPECT_COLOUR(Linear(255, 255, 224), p.At(31, 0));
    EXPECT_COLOUR(Linear(31, 31, 31), p.At(0, 31));
    EXPECT_COLOUR(Linear(255, 255, 143), p.At(16, 3));
    EXPECT_COLOUR(Linear(107, 107, 107), p.At(20, 28));
    Show(gvGlobals.cfPNG);
    ExpectInfo(32, 32, ScreenDepth());

    // A palette entry marked transparent and no bKGD: the light 3D colour.
    ASSERT_TRUE(SetClipboardFormats({{gvGlobals.cfPNG, transparent}}));
    p = Load(LoadClipboardPNG, gvGlobals.cfPNG);
    ASSERT_EQ(32, p.width);
    EXPECT_EQ(GetSysColor(COLOR_3DLIGHT), p.At(0, 0));
    EXPECT_EQ(GetSysColor(COLOR_3DLIGHT), p.At(31, 31));
    EXPECT_COLOUR(Linear(158, 158, 158), p.At(16, 16));
}

TEST_F(Render, PngFailures)
{
    std::string png = PngSuite("basn2c08.png");
    if (png.empty())
        GTEST_SKIP() << "pngsuite not found";

    // Not a PNG at all: silently the placeholder.
    ASSERT_TRUE(SetClipboardFormats({{gvGlobals.cfPNG, "GIF89a" + png.substr(6)}}));
    EXPECT_TRUE(ShowsPlaceholder(Show(gvGlobals.cfPNG)));
    ExpectInfo(379, 159, 24);

    // A damaged header: libpng's text in a box, then the placeholder.
    std::string broken = png, text;
    broken[20] ^= 0x55;
    ExpectBoxText("Quillet", &text);
    ASSERT_TRUE(SetClipboardFormats({{gvGlobals.cfPNG, broken}}));
    EXPECT_TRUE(ShowsPlaceholder(Show(gvGlobals.cfPNG)));
    EXPECT_EQ(0, TakePendingBoxes());
    auto message = [](const std::string &data) {
        return DecodePng(reinterpret_cast<const uint8_t *>(data.data()), data.size(), 0).message;
    };
    EXPECT_EQ(message(broken), text);

    // Cut after the header chunk: the data ends where the clipboard said, not
    // after the zero bytes that pad the copy.
    std::string cut = png.substr(0, 33);
    ExpectBoxText("Quillet", &text);
    ASSERT_TRUE(SetClipboardFormats({{gvGlobals.cfPNG, cut}}));
    EXPECT_TRUE(ShowsPlaceholder(Show(gvGlobals.cfPNG)));
    EXPECT_EQ(0, TakePendingBoxes());
    EXPECT_EQ(message(cut), text);
    EXPECT_NE(message(cut + std::string(64, '\0')), text);
}

// Close to the picture the file was compressed from; 227 pixels of three
// bytes make rows that need padding.
TEST_F(Render, JpegColours)
{
    std::string jpeg = JpegTestImage("testorig.jpg"), ppm = JpegTestImage("testorig.ppm");
    if (jpeg.empty() || ppm.empty())
        GTEST_SKIP() << "libjpeg-turbo test images not found";
    int width = 0, height = 0, maxval = 0, used = 0;
    ASSERT_EQ(3, sscanf(ppm.c_str(), "P6 %d %d %d%n", &width, &height, &maxval, &used));
    const unsigned char *rgb = reinterpret_cast<const unsigned char *>(ppm.data()) + used + 1;

    ASSERT_TRUE(SetClipboardFormats({{gvGlobals.cfJFIF, jpeg}}));
    Pixels p = Load(LoadClipboardJPEG, gvGlobals.cfJFIF);
    ASSERT_EQ(width, p.width);
    ASSERT_EQ(height, p.height);
    double error = 0;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++, rgb += 3) {
            COLORREF c = p.At(x, y);
            error += abs(rgb[0] - GetRValue(c)) + abs(rgb[1] - GetGValue(c)) + abs(rgb[2] - GetBValue(c));
        }
    EXPECT_LT(error / (3.0 * width * height), 1.0);

    Show(gvGlobals.cfJFIF);
    ExpectInfo(DWORD(width), DWORD(height), ScreenDepth());
}

TEST_F(Render, JpegFailures)
{
    std::string jpeg = JpegTestImage("testorig.jpg");
    if (jpeg.empty())
        GTEST_SKIP() << "libjpeg-turbo test images not found";

    // Truncated: one box with libjpeg's warning, then what could be decoded.
    ExpectBox("JPEG Library Error", ClickButton(IDOK));
    ASSERT_TRUE(SetClipboardFormats({{gvGlobals.cfJFIF, jpeg.substr(0, jpeg.size() / 2)}}));
    Show(gvGlobals.cfJFIF);
    EXPECT_EQ(0, TakePendingBoxes());
    ExpectInfo(227, 149, ScreenDepth());

    // Fatal: a box and the placeholder.
    ExpectBox("JPEG Library Error", ClickButton(IDOK));
    ASSERT_TRUE(SetClipboardFormats({{gvGlobals.cfJFIF, "\xFF\xD8\xFF\xD9"}}));
    EXPECT_TRUE(ShowsPlaceholder(Show(gvGlobals.cfJFIF)));
    EXPECT_EQ(0, TakePendingBoxes());
    ExpectInfo(379, 159, 24);
}

// Every bitmap a refresh obtains (the frame's, the placeholder, decoded
// pictures) is released again.
TEST_F(Render, RefreshingReleasesItsBitmaps)
{
    std::string png = PngSuite("basn2c08.png"), jpeg = JpegTestImage("testorig.jpg");
    if (png.empty() || jpeg.empty())
        GTEST_SKIP() << "test images not found";
    ASSERT_TRUE(SetClipboardFormats(
        {{gvGlobals.cfPNG, png}, {gvGlobals.cfJFIF, jpeg}, {CF_TIFF, "II*"}, {CF_DIB, RedDib(100, 50)}}));
    const UINT formats[] = {gvGlobals.cfPNG, gvGlobals.cfJFIF, CF_TIFF, CF_DIB, CF_BITMAP};
    for (UINT format : formats)
        ClipboardToBitmap(m_dlg, format);

    PROCESS_MEMORY_COUNTERS before = {}, after = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    const DWORD objectsBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    for (int i = 0; i < 1000; i++)
        ClipboardToBitmap(m_dlg, formats[i % 5]);
    const DWORD objectsAfter = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);

    EXPECT_LE(objectsAfter, objectsBefore);
    // Wine counts no GDI objects (always 0) but does count the memory that
    // bitmaps hold: 200 leaked placeholders alone would be 36 MB.
    const SIZE_T growth =
        after.PagefileUsage > before.PagefileUsage ? after.PagefileUsage - before.PagefileUsage : 0;
    EXPECT_LT(growth, SIZE_T(8) << 20);
}

} // namespace
