// Clipboard pictures rendered into the viewer's 600 x 400 frame, checked by
// the pixels of the off-screen bitmap and the reported size. The fit rule's
// arithmetic and the decoders' colours are the native tests'.
#include <cstdlib>
#include <filesystem>
#include "boxwatch.h"
#include "testutil.h"
#include "util/globals.h"
#include "util/guards.h"
#include "viewer/jpegdecode.h"
#include "viewer/pictures.h"
#include "viewer/pngdecode.h"
#include "viewer/render.h"

namespace {

const COLORREF RED = RGB(255, 0, 0), BLUE = RGB(0, 0, 255), FACE = GetSysColor(COLOR_BTNFACE);
const char *const PLACEHOLDER = "379x159";

COLORREF At(HBITMAP bitmap, int x, int y)
{
    MemoryDC dc(nullptr);
    SelectedObject selected(dc.get(), bitmap);
    return GetPixel(dc.get(), x, y);
}

void Fill(HDC dc, RECT area, COLORREF colour)
{
    GdiObject brush(CreateSolidBrush(colour));
    FillRect(dc, &area, static_cast<HBRUSH>(brush.get()));
}

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

// A red square over the whole 100 x 100 window of a metafile.
HGLOBAL MetafilePict(LONG xExt, LONG yExt)
{
    HDC dc = CreateMetaFileA(nullptr);
    SetWindowExtEx(dc, 100, 100, nullptr);
    Fill(dc, {0, 0, 100, 100}, RED);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(METAFILEPICT));
    *static_cast<METAFILEPICT *>(GlobalLock(block)) = {MM_ANISOTROPIC, xExt, yExt, CloseMetaFile(dc)};
    GlobalUnlock(block);
    return block;
}

// Hands a GDI handle or a global block to the clipboard, which then owns it.
bool SetHandle(UINT format, HANDLE handle)
{
    ClipboardGuard clip(nullptr);
    return clip.ok() && EmptyClipboard() && SetClipboardData(format, handle);
}

// A file of the library sources unpacked beside the build folder, in the
// folder whose name starts with `prefix`; empty when there is none.
std::string TestImage(const std::string &prefix, const char *path)
{
    for (const auto &entry : std::filesystem::directory_iterator(BesideTestProgram("..\\deps\\src")))
        if (entry.path().filename().string().rfind(prefix, 0) == 0 && entry.is_directory())
            return ReadFileBytes((entry.path() / path).string());
    return {};
}

struct Pixel {
    int x, y;
    COLORREF colour;
};

struct Picture {
    UINT format;
    std::string data; // put on the clipboard unless there is a handle
    const char *info; // the size reported; the placeholder's also shows it at the centre
    std::vector<Pixel> pixels;
    HANDLE handle = nullptr;
    const char *box = nullptr; // the caption of the box that tells the decoder's message
};

class Render : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dlg = CreateWindowExA(0, "STATIC", "Viewer", WS_POPUP, 0, 0, 700, 500, nullptr, nullptr, nullptr,
                                nullptr);
        CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 10, 10, 600, 400, m_dlg,
                        reinterpret_cast<HMENU>(IDC_PICTUREFRAME), nullptr, nullptr);
        GdiObject art(LoadPlaceholder());
        m_placeholder = At(static_cast<HBITMAP>(art.get()), 189, 79);
    }
    void TearDown() override
    {
        FreePicture();
        DestroyWindow(m_dlg);
    }

    void Check(const Picture &p)
    {
        SCOPED_TRACE(::testing::Message() << "format " << p.format << ", " << p.info);
        bool free = false;
        std::string text;
        if (p.box)
            ExpectBox(p.box, [&free, &text](HWND box) {
                free = OpenClipboard(nullptr) && CloseClipboard(); // other programs can copy meanwhile
                text = WindowText(GetDlgItem(box, 0xFFFF));
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            });
        ASSERT_TRUE(p.handle ? SetHandle(p.format, p.handle) : SetClipboardFormats({{p.format, p.data}}))
            << GetLastError();
        ClipboardToBitmap(m_dlg, p.format);
        EXPECT_EQ(0, TakePendingBoxes());
        const MyBmpInfo info = RenderedPictureInfo();
        EXPECT_EQ(p.info, std::to_string(info.width) + "x" + std::to_string(info.height));
        std::vector<Pixel> pixels = p.pixels;
        if (p.info == std::string(PLACEHOLDER))
            pixels.push_back({300, 200, m_placeholder});
        for (const Pixel &pixel : pixels) {
            const COLORREF got = At(RenderedPicture(), pixel.x, pixel.y);
            for (int shift : {0, 8, 16})
                EXPECT_NEAR(pixel.colour >> shift & 0xFF, got >> shift & 0xFF, 6)
                    << pixel.x << "," << pixel.y << " " << std::hex << got;
        }
        EXPECT_EQ(p.box != nullptr, free);
        EXPECT_EQ(p.box ? Decoded(p.format, p.data).message : "", text);
    }
    static DecodedPicture Decoded(UINT format, const std::string &data)
    {
        const auto *bytes = reinterpret_cast<const uint8_t *>(data.data());
        return format == gvGlobals.cfPNG ? DecodePng(bytes, data.size(), 0) : DecodeJpeg(bytes, data.size());
    }

    HWND m_dlg = nullptr;
    COLORREF m_placeholder = 0;
};

// Pictures lie centred, never enlarged; top-down DIBs too. DIBs whose rows,
// header or colour table the block does not hold are never read. Enhanced
// metafiles' bounds are inclusive (201 x 101 pixels). Metafiles are fitted by
// their extents' magnitudes (none: the whole frame) and reported as stored.
// V5 DIBs are drawn from the CF_DIB the system derives; TIFF is not drawn.
// A damaged PNG or JPEG shows the library's text, with the clipboard closed,
// and what could be decoded, else the placeholder; data that is not a PNG at
// all silently the placeholder. Decoded rows lie top first: the PNG's top row
// is nearly white, its bottom one black.
TEST_F(Render, EveryPictureFormat)
{
    const std::string png = TestImage("libpng-", "contrib\\pngsuite\\basn2c08.png"),
                      jpeg = TestImage("libjpeg-turbo-", "testimages\\testorig.jpg"), dib = Dib(50, 50);
    ASSERT_FALSE(png.empty() || jpeg.empty()) << "no test images: run scripts/setup.sh";
    std::string broken = png, v5 = dib;
    broken[20] ^= 0x55;
    v5.insert(40, sizeof(BITMAPV5HEADER) - 40, '\0');
    v5[0] = char(sizeof(BITMAPV5HEADER));
    const std::vector<DWORD> blue(100 * 50, 0xFF);
    HDC emf = CreateEnhMetaFileA(nullptr, nullptr, nullptr, nullptr);
    Fill(emf, {0, 0, 201, 101}, BLUE);
    const UINT PNG = gvGlobals.cfPNG, JFIF = gvGlobals.cfJFIF;
    const char *const JPEG_BOX = "JPEG Library Error";
    const Picture pictures[] = {
        {CF_DIB, Dib(-50, 25), "100x51", {{300, 175, RED}, {300, 223, BLUE}, {300, 172, FACE}}},
        {CF_DIB, dib.substr(0, dib.size() - 300), PLACEHOLDER, {}},
        {CF_DIB, std::string(20, '\x28'), PLACEHOLDER, {}},
        {CF_DIB, Dib(50, 50, 8, 0x40000000), PLACEHOLDER, {}},
        {CF_DIBV5, v5, "100x51", {{300, 200, RED}, {300, 172, FACE}}},
        {CF_BITMAP,
         "",
         "100x50",
         {{300, 200, BLUE}, {300, 172, FACE}},
         CreateBitmap(100, 50, 1, 32, &blue[0])},
        {CF_ENHMETAFILE, "", "200x100", {{300, 200, BLUE}, {300, 146, FACE}}, CloseEnhMetaFile(emf)},
        {CF_METAFILEPICT, "", "0x0", {{0, 0, RED}, {599, 399, RED}}, MetafilePict(0, 0)},
        {CF_METAFILEPICT,
         "",
         "4294965296x4294966296",
         {{300, 200, RED}, {3, 53, RED}, {596, 346, RED}, {300, 46, FACE}, {300, 353, FACE}},
         MetafilePict(-2000, -1000)},
        {CF_TIFF, "II*", "0x0", {{300, 200, m_placeholder}}},
        {PNG, png, "32x32", {{299, 184, RGB(255, 255, 244)}}},
        {PNG, "GIF89a" + png.substr(6), PLACEHOLDER, {}},
        {PNG, broken, PLACEHOLDER, {}, nullptr, APP_NAME},
        // The data ends where the clipboard said, not after the zero bytes
        // that pad the copy.
        {PNG, png.substr(0, 33), PLACEHOLDER, {}, nullptr, APP_NAME},
        {JFIF, jpeg.substr(0, jpeg.size() / 2), "227x149", {}, nullptr, JPEG_BOX},
        {JFIF, "\xFF\xD8\xFF\xD9", PLACEHOLDER, {}, nullptr, JPEG_BOX}};
    for (const Picture &p : pictures)
        Check(p);
    EXPECT_NE(Decoded(PNG, png.substr(0, 33)).message,
              Decoded(PNG, png.substr(0, 33) + std::string(64, '\0')).message);
}

} // namespace
