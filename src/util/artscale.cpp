#include "artscale.h"
#include "util/globals.h"

namespace {

const int BASE_DPI = 96;
// Marks a control whose picture was scaled here and is to be freed here.
const char SCALED_PROP[] = "QuilletScaledArt";

int DisplayDpi()
{
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

// A copy of the bitmap at the given size, smoothed rather than blocky.
HBITMAP Stretched(HBITMAP source, const BITMAP &bm, int width, int height)
{
    HDC screen = GetDC(nullptr);
    HDC from = CreateCompatibleDC(screen);
    HDC to = CreateCompatibleDC(screen);
    HBITMAP scaled = CreateCompatibleBitmap(screen, width, height);
    if (from && to && scaled) {
        HGDIOBJ oldFrom = SelectObject(from, source);
        HGDIOBJ oldTo = SelectObject(to, scaled);
        SetStretchBltMode(to, HALFTONE);
        SetBrushOrgEx(to, 0, 0, nullptr);
        StretchBlt(to, 0, 0, width, height, from, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
        SelectObject(from, oldFrom);
        SelectObject(to, oldTo);
    }
    if (from)
        DeleteDC(from);
    if (to)
        DeleteDC(to);
    ReleaseDC(nullptr, screen);
    return scaled;
}

} // namespace

void ScaleStaticBitmap(HWND dlg, int control, int bitmap)
{
    int dpi = DisplayDpi();
    if (dpi == BASE_DPI || dpi <= 0)
        return;
    auto source = static_cast<HBITMAP>(
        LoadImageA(gvGlobals.hInstance, MAKEINTRESOURCEA(bitmap), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    BITMAP bm;
    if (!source || !GetObjectA(source, sizeof bm, &bm)) {
        if (source)
            DeleteObject(source);
        return;
    }
    HBITMAP scaled =
        Stretched(source, bm, MulDiv(bm.bmWidth, dpi, BASE_DPI), MulDiv(bm.bmHeight, dpi, BASE_DPI));
    DeleteObject(source);
    if (!scaled)
        return;
    // The control loaded the unscaled picture from the template; it is ours
    // to free once replaced.
    auto old = reinterpret_cast<HBITMAP>(
        SendDlgItemMessageA(dlg, control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(scaled)));
    if (old && old != scaled)
        DeleteObject(old);
    SetPropA(GetDlgItem(dlg, control), SCALED_PROP, scaled);
}

void FreeStaticBitmap(HWND dlg, int control)
{
    HWND ctrl = GetDlgItem(dlg, control);
    auto scaled = static_cast<HBITMAP>(RemovePropA(ctrl, SCALED_PROP));
    if (!scaled)
        return;
    SendMessageA(ctrl, STM_SETIMAGE, IMAGE_BITMAP, 0);
    DeleteObject(scaled);
}

void ShowPictureButton(HWND button, HBITMAP image, bool enabled)
{
    const auto current = reinterpret_cast<HBITMAP>(SendMessageA(button, BM_GETIMAGE, IMAGE_BITMAP, 0));
    if (current == image && (IsWindowEnabled(button) != FALSE) == enabled)
        return;
    SendMessageA(button, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(image));
    EnableWindow(button, enabled);
    InvalidateRect(button, nullptr, TRUE);
    UpdateWindow(button);
}
