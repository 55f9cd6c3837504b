// "PNG" and "JFIF" clipboard data decoded into device-dependent bitmaps.
#include "viewer/pictures.h"

#include "clipboard/clipboard.h"
#include "util/globals.h"
#include "util/guards.h"
#include "viewer/jpegdecode.h"
#include "viewer/pngdecode.h"
#include "viewer/render.h"

namespace {

// The decoder is given the size GetClipboardBlock reported, not the copy's
// larger, zero-padded block.
template <typename Decoder> DecodedPicture Decode(HGLOBAL copy, SIZE_T size, Decoder decode)
{
    GlobalLockGuard<const uint8_t> bytes(copy);
    if (!bytes.get())
        return {};
    return decode(bytes.get(), size);
}

// The display's own format, so that drawing it later needs no conversion;
// all rows go over in one call.
HBITMAP ToBitmap(const DecodedPicture &picture)
{
    if (picture.pixels.empty())
        return nullptr;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    WindowDC dc(GetDesktopWindow());
    return CreateDIBitmap(dc.get(), &info.bmiHeader, CBM_INIT, picture.pixels.data(), &info, DIB_RGB_COLORS);
}

HBITMAP OrPlaceholder(HBITMAP bitmap)
{
    return bitmap ? bitmap : LoadPlaceholder();
}

} // namespace

HBITMAP LoadPlaceholder()
{
    return static_cast<HBITMAP>(LoadImageA(gvGlobals.hInstance, MAKEINTRESOURCEA(IDB_PLACEHOLDER),
                                           IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

HBITMAP LoadClipboardPNG(HGLOBAL copy, SIZE_T size)
{
    const uint32_t background = GetSysColor(COLOR_3DLIGHT);
    DecodedPicture picture = Decode(
        copy, size, [background](const uint8_t *data, size_t n) { return DecodePng(data, n, background); });
    if (!picture.message.empty())
        MessageBoxA(GetDesktopWindow(), picture.message.c_str(), APP_NAME, MB_ICONHAND);
    return OrPlaceholder(ToBitmap(picture));
}

HBITMAP LoadClipboardJPEG(HGLOBAL copy, SIZE_T size)
{
    DecodedPicture picture = Decode(copy, size, DecodeJpeg);
    // After a warning (a truncated file) the picture is still shown.
    if (!picture.message.empty())
        MessageBoxA(GetActiveWindow(), picture.message.c_str(), "JPEG Library Error", MB_ICONHAND);
    return OrPlaceholder(ToBitmap(picture));
}
