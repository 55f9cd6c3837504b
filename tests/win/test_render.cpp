// Clipboard pictures rendered into the viewer's 600 x 400 frame, checked by
// the pixels of the off-screen bitmap and the reported picture information.
// The fit rule and the decoders' colours are the native tests'.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdlib>
#include <string>
#include "boxwatch.h"
#include "testutil.h"
#include "util/globals.h"
#include "util/guards.h"
#include "viewer/fit.h"
#include "viewer/pictures.h"
#include "viewer/pngdecode.h"
#include "viewer/render.h"

namespace {

const int FRAME_W = 600, FRAME_H = 400;
const COLORREF RED = RGB(255, 0, 0), BLUE = RGB(0, 0, 255);

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

// A packed DIB as CF_DIB holds it, 100 pixels wide, with rows of 24 bits:
// the first `redRows` in memory red, the others blue. The header may claim
// other bits and a colour table that is not there.
std::string Dib(LONG height, int redRows, WORD bits = 24, DWORD clrUsed = 0)
{
    BITMAPINFOHEADER h = {sizeof h, 100, height, 1, bits, BI_RGB, 0, 0, 0, clrUsed, 0};
    std::string dib(reinterpret_cast<const char *>(&h), sizeof h);
    for (int r = 0; r < abs(height); r++)
        for (int x = 0; x < 100; x++)
            dib += std::string(r < redRows ? "\0\0\xFF" : "\xFF\0\0", 3);
    return dib;
}

void Fill(HDC dc, RECT area, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &area, brush);
    DeleteObject(brush);
}

// Hands a GDI handle or a global block to the clipboard, which then owns it.
bool SetHandle(UINT format, HANDLE handle)
{
    ClipboardGuard clip(nullptr);
    return clip.ok() && EmptyClipboard() && SetClipboardData(format, handle);
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
    return SetHandle(CF_METAFILEPICT, block);
}

// A bitmap of the screen's kind in one colour.
HBITMAP Painted(int width, int height, COLORREF colour)
{
    HDC screen = GetDC(nullptr), dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(dc, bitmap);
    Fill(dc, {0, 0, width, height}, colour);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return bitmap;
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

class Render : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dlg = CreateWindowExA(0, "STATIC", "Viewer", WS_POPUP, 0, 0, 700, 500, nullptr, nullptr, nullptr,
                                nullptr);
        CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 10, 10, FRAME_W, FRAME_H,
                        m_dlg, reinterpret_cast<HMENU>(IDC_PICTUREFRAME), nullptr, nullptr);
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
        EXPECT_TRUE(SetClipboardFormats({{format, data}})) << GetLastError();
        Show(format);
    }
    static COLORREF Px(int x, int y) { return At(RenderedPicture(), x, y); }
    static std::string Info()
    {
        return std::to_string(RenderedPictureInfo().width) + "x" +
               std::to_string(RenderedPictureInfo().height);
    }

    // The centre of the placeholder's face, fitted into the frame.
    static bool ShowsPlaceholder()
    {
        HBITMAP art = LoadPlaceholder();
        const COLORREF face = At(art, 189, 79);
        DeleteObject(art);
        FitRect fit = FitPicture(379, 159, FRAME_W, FRAME_H);
        return Near(face, Px((fit.left + fit.right) / 2, (fit.top + fit.bottom) / 2), 6);
    }

    HWND m_dlg = nullptr;
};

// DIBs report the size drawn, top-down ones too; those whose rows or colour
// table the block does not hold are never read. Metafiles are fitted by their extents' magnitudes (none: the
// whole frame) and reported as stored.
TEST_F(Render, DibsAndMetafiles)
{
    Show(CF_DIB, Dib(-50, 25));
    EXPECT_EQ("100x51", Info());
    EXPECT_COLOUR(RED, Px(300, 175));
    EXPECT_COLOUR(BLUE, Px(300, 223));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), Px(300, 172));
    const std::string dib = Dib(50, 50);
    for (const std::string &bad :
         {dib.substr(0, dib.size() - 300), std::string(20, '\x28'), Dib(50, 50, 8, 0x40000000)}) {
        Show(CF_DIB, bad);
        EXPECT_TRUE(ShowsPlaceholder());
        EXPECT_EQ("379x159", Info());
    }

    ASSERT_TRUE(SetMetafilePicture(0, 0)) << GetLastError();
    Show(CF_METAFILEPICT);
    for (POINT in : {POINT{0, 0}, POINT{599, 399}})
        EXPECT_COLOUR(RED, Px(in.x, in.y));
    ASSERT_TRUE(SetMetafilePicture(-2000, -1000)) << GetLastError();
    Show(CF_METAFILEPICT);
    EXPECT_EQ(std::to_string(DWORD(-2000)) + "x" + std::to_string(DWORD(-1000)), Info());
    for (POINT in : {POINT{300, 200}, POINT{3, 53}, POINT{596, 346}})
        EXPECT_COLOUR(RED, Px(in.x, in.y));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), Px(300, 46));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), Px(300, 353));
}

// Bitmaps, enhanced metafiles (bounds inclusive: 201 x 101 pixels) and V5
// DIBs (drawn from the CF_DIB the system derives) lie centred and report
// their size; TIFF is not drawn.
TEST_F(Render, BitmapsEnhancedMetafilesV5DibsAndTiff)
{
    HDC emf = CreateEnhMetaFileA(nullptr, nullptr, nullptr, nullptr);
    Fill(emf, {0, 0, 201, 101}, BLUE);
    std::string v5 = Dib(50, 50);
    v5.insert(40, sizeof(BITMAPV5HEADER) - 40, '\0');
    v5[0] = char(sizeof(BITMAPV5HEADER));
    const struct {
        UINT format;
        HANDLE handle;
        const char *info;
        COLORREF colour;
        POINT outside;
    } cases[] = {{CF_BITMAP, Painted(100, 50, BLUE), "100x50", BLUE, {300, 172}},
                 {CF_ENHMETAFILE, CloseEnhMetaFile(emf), "200x100", BLUE, {300, 146}},
                 {CF_DIBV5, nullptr, "100x51", RED, {300, 172}}};
    for (const auto &c : cases) {
        ASSERT_TRUE(c.handle ? SetHandle(c.format, c.handle) : SetClipboardFormats({{c.format, v5}}))
            << c.format << " " << GetLastError();
        Show(c.format);
        EXPECT_EQ(c.info, Info()) << c.format;
        EXPECT_COLOUR(c.colour, Px(300, 200)) << c.format;
        EXPECT_EQ(GetSysColor(COLOR_BTNFACE), Px(c.outside.x, c.outside.y)) << c.format;
    }
    Show(CF_TIFF, "II*");
    EXPECT_TRUE(ShowsPlaceholder());
    EXPECT_EQ("0x0", Info());
}

// A damaged file shows the library's text and what could be decoded, else
// the placeholder; data that is not a PNG at all silently the placeholder.
TEST_F(Render, PngAndJpeg)
{
    const std::string png = TestImage("libpng-1.6*", "contrib\\pngsuite\\basn2c08.png"),
                      jpeg = TestImage("libjpeg-turbo-*", "testimages\\testorig.jpg");
    if (png.empty() || jpeg.empty())
        GTEST_SKIP() << "test images not found";
    auto decoded = [](const std::string &data) {
        return DecodePng(reinterpret_cast<const uint8_t *>(data.data()), data.size(), 0);
    };
    Show(gvGlobals.cfPNG, png);
    EXPECT_EQ("32x32", Info());
    Show(gvGlobals.cfPNG, "GIF89a" + png.substr(6));
    EXPECT_TRUE(ShowsPlaceholder());
    // The data ends where the clipboard said, not after the zero bytes that
    // pad the copy.
    std::string broken = png, text;
    broken[20] ^= 0x55;
    for (const std::string &bad : {broken, png.substr(0, 33)}) {
        ExpectBox("Quillet", NoteText(&text));
        Show(gvGlobals.cfPNG, bad);
        EXPECT_TRUE(ShowsPlaceholder());
        EXPECT_EQ(0, TakePendingBoxes());
        EXPECT_EQ(decoded(bad).message, text);
    }
    EXPECT_NE(decoded(png.substr(0, 33) + std::string(64, '\0')).message, text);

    // The box waits with the clipboard closed: other programs can copy.
    bool free = false;
    ExpectBox("JPEG Library Error", [&free](HWND box) {
        free = OpenClipboard(nullptr) && CloseClipboard();
        ClickButton(IDOK)(box);
    });
    Show(gvGlobals.cfJFIF, jpeg.substr(0, jpeg.size() / 2));
    EXPECT_EQ(0, TakePendingBoxes());
    EXPECT_TRUE(free);
    EXPECT_EQ("227x149", Info());
    ExpectBox("JPEG Library Error", ClickButton(IDOK));
    Show(gvGlobals.cfJFIF, "\xFF\xD8\xFF\xD9");
    EXPECT_TRUE(ShowsPlaceholder());
}

} // namespace
