// Rendering of a clipboard picture into the viewer's off-screen bitmap.
#include "viewer/render.h"

#include <cstdint>

#include "clipboard/clipboard.h"
#include "util/globals.h"
#include "util/guards.h"
#include "viewer/fit.h"
#include "viewer/pictures.h"

namespace {

HBITMAP m_bmpLocal = nullptr;
MyBmpInfo m_mybmpInfo = {};

RECT Fit(uint32_t w, uint32_t h, const RECT *frame)
{
    FitRect fit = FitPicture(w, h, frame->right, frame->bottom);
    return {fit.left, fit.top, fit.right, fit.bottom};
}

// For the bitmaps rendering obtains itself: they are not needed once drawn.
void DrawAndDelete(HDC dc, HBITMAP bitmap, const RECT *frame)
{
    DrawBMP(dc, bitmap, frame);
    DeleteObject(bitmap);
}

void DrawPlaceholder(HDC dc, const RECT *frame)
{
    DrawAndDelete(dc, LoadPlaceholder(), frame);
}

uint32_t Magnitude(LONG v)
{
    return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
}

// Whether the pixel data that GDI will read lies within `available` bytes.
bool PixelsFit(const BITMAPINFOHEADER *header, const DibHeader &dib, size_t available)
{
    if (dib.width <= 0)
        return false;
    switch (dib.compression) {
    case BI_RGB:
    case BI_BITFIELDS: {
        uint64_t stride = (uint64_t(dib.width) * dib.bitCount + 31) / 32 * 4;
        return stride * Magnitude(dib.height) <= available;
    }
    case BI_RLE8:
    case BI_RLE4:
        // GDI decodes run-length data within biSizeImage.
        return dib.height > 0 && header->biSizeImage != 0 && header->biSizeImage <= available;
    default:
        return false;
    }
}

// CF_DIBV5 comes here too: the system offers CF_DIB for it.
void DrawDib(HDC dc, const RECT *frame)
{
    HANDLE data = GetClipboardData(CF_DIB);
    size_t size = data ? GlobalSize(data) : 0;
    GlobalLockGuard<const BYTE> block(data);
    DibHeader dib;
    size_t offset;
    if (!block.get() || !ReadDibHeader(block.get(), size, &dib) || !DibBitsOffset(dib, size, &offset) ||
        !PixelsFit(reinterpret_cast<const BITMAPINFOHEADER *>(block.get()), dib, size - offset)) {
        DrawPlaceholder(dc, frame);
        return;
    }
    // A top-down DIB is fitted by its height's magnitude; GDI draws it upright
    // when the source rectangle is given the positive way.
    const uint32_t height = Magnitude(dib.height);
    RECT target = Fit(static_cast<uint32_t>(dib.width), height, frame);
    StretchDIBits(dc, target.left, target.top, target.right - target.left, target.bottom - target.top, 0, 0,
                  dib.width, static_cast<int>(height), block.get() + offset,
                  reinterpret_cast<const BITMAPINFO *>(block.get()), DIB_RGB_COLORS, SRCCOPY);
    m_mybmpInfo = {DWORD(target.right - target.left), DWORD(target.bottom - target.top), dib.bitCount};
}

void PlayMetafilePict(HDC dc, const METAFILEPICT *pict, const RECT *frame)
{
    // Negative extents give only the aspect ratio; an anisotropic picture
    // without extents has a height of 0 and so fills the frame.
    RECT target = Fit(Magnitude(pict->xExt), Magnitude(pict->yExt), frame);
    UINT size = GetMetaFileBitsEx(pict->hMF, 0, nullptr);
    BYTE *bits = size ? static_cast<BYTE *>(GlobalAlloc(GPTR, size)) : nullptr;
    if (!bits) {
        DrawPlaceholder(dc, frame);
        return;
    }
    GetMetaFileBitsEx(pict->hMF, size, bits);
    HENHMETAFILE emf = SetWinMetaFileBits(size, bits, dc, pict);
    if (emf) {
        PlayEnhMetaFile(dc, emf, &target);
        DeleteEnhMetaFile(emf);
    }
    GlobalFree(bits);
}

void DrawMetafilePict(HDC dc, UINT format, const RECT *frame)
{
    HANDLE data = GetClipboardData(format);
    GlobalLockGuard<const METAFILEPICT> pict(data);
    if (!pict.get() || GlobalSize(data) < sizeof(METAFILEPICT)) {
        DrawPlaceholder(dc, frame);
        return;
    }
    PlayMetafilePict(dc, pict.get(), frame);
    // Also after a placeholder: the record's extents are still worth reporting.
    m_mybmpInfo = {DWORD(pict.get()->xExt), DWORD(pict.get()->yExt), 0};
}

void DrawEnhMetafile(HDC dc, UINT format, const RECT *frame)
{
    HENHMETAFILE emf = static_cast<HENHMETAFILE>(GetClipboardData(format));
    ENHMETAHEADER header;
    if (!emf || emf == INVALID_HANDLE_VALUE || !GetEnhMetaFileHeader(emf, sizeof header, &header)) {
        DrawPlaceholder(dc, frame);
        return;
    }
    const uint32_t w = SpanOf(header.rclBounds.left, header.rclBounds.right);
    const uint32_t h = SpanOf(header.rclBounds.top, header.rclBounds.bottom);
    RECT target = Fit(w, h, frame);
    PlayEnhMetaFile(dc, emf, &target);
    m_mybmpInfo = {w, h, 0};
}

void Render(HDC dc, UINT format, const RECT *frame)
{
    switch (format) {
    case CF_BITMAP: {
        HBITMAP bitmap = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
        if (bitmap)
            DrawBMP(dc, bitmap, frame);
        else
            DrawPlaceholder(dc, frame);
        return;
    }
    case CF_DIB:
    case CF_DIBV5:
        DrawDib(dc, frame);
        return;
    case CF_METAFILEPICT:
    case CF_DSPMETAFILEPICT:
        DrawMetafilePict(dc, format, frame);
        return;
    case CF_ENHMETAFILE:
    case CF_DSPENHMETAFILE:
        DrawEnhMetafile(dc, format, frame);
        return;
    case CF_TIFF:
        DrawPlaceholder(dc, frame);
        m_mybmpInfo = {0, 0, 0};
        return;
    default:
        break;
    }
}

bool IsEncodedPicture(UINT format)
{
    return format == gvGlobals.cfPNG || format == gvGlobals.cfJFIF;
}

// Decoded with the clipboard closed; a format without data shows nothing.
void DrawEncoded(HDC dc, UINT format, HGLOBAL copy, SIZE_T size, const RECT *frame)
{
    if (copy == INVALID_BLOCK)
        return;
    GlobalBlock block(copy);
    DrawAndDelete(
        dc, format == gvGlobals.cfPNG ? LoadClipboardPNG(copy, size) : LoadClipboardJPEG(copy, size), frame);
}

} // namespace

void ClipboardToBitmap(HWND dlg, UINT format)
{
    HWND frameWindow = GetDlgItem(dlg, IDC_PICTUREFRAME);
    RECT frame = {};
    GetClientRect(frameWindow, &frame);
    WindowDC frameDc(frameWindow);
    HBITMAP bitmap = CreateCompatibleBitmap(frameDc.get(), frame.right, frame.bottom);
    MemoryDC memory(frameDc.get());
    HDC dc = memory.get();
    SelectedObject selected(dc, bitmap);
    FillRect(dc, &frame, GetSysColorBrush(COLOR_BTNFACE));
    // GDI's default mode ANDs the pixels a shrink drops, which darkens colour
    // pictures; halftone averages them.
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    HGLOBAL encoded = INVALID_BLOCK;
    SIZE_T size = 0;
    {
        ClipboardSession clipboard(dlg);
        if (clipboard.ok() && IsEncodedPicture(format))
            encoded = GetClipboardBlock(nullptr, format, CASE_NONE, &size);
        else if (clipboard.ok() && format != 0)
            Render(dc, format, &frame);
    }
    if (IsEncodedPicture(format))
        DrawEncoded(dc, format, encoded, size, &frame);
    InvalidateRect(frameWindow, nullptr, TRUE);
    if (m_bmpLocal)
        DeleteObject(m_bmpLocal);
    m_bmpLocal = bitmap;
}

void DrawBMP(HDC dc, HBITMAP bitmap, const RECT *frame)
{
    BITMAP info;
    GdiObject placeholder;
    if (GetObjectType(bitmap) != OBJ_BITMAP || !GetObject(bitmap, sizeof info, &info)) {
        bitmap = LoadPlaceholder();
        placeholder.Reset(bitmap);
        if (!GetObject(bitmap, sizeof info, &info))
            return;
    }
    RECT target = Fit(static_cast<uint32_t>(info.bmWidth), static_cast<uint32_t>(info.bmHeight), frame);
    {
        MemoryDC source(dc);
        SelectedObject selected(source.get(), bitmap);
        StretchBlt(dc, target.left, target.top, target.right - target.left, target.bottom - target.top,
                   source.get(), 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    }
    m_mybmpInfo = {DWORD(info.bmWidth), DWORD(info.bmHeight), info.bmBitsPixel};
}

void PaintPictureFrame(const DRAWITEMSTRUCT *item)
{
    if (!m_bmpLocal)
        return;
    MemoryDC source(item->hDC);
    SelectedObject selected(source.get(), m_bmpLocal);
    const RECT &rc = item->rcItem;
    BitBlt(item->hDC, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, source.get(), 0, 0, SRCCOPY);
}

void FreePicture()
{
    if (m_bmpLocal)
        DeleteObject(m_bmpLocal);
    m_bmpLocal = nullptr;
}

HBITMAP RenderedPicture()
{
    return m_bmpLocal;
}

MyBmpInfo RenderedPictureInfo()
{
    return m_mybmpInfo;
}
