#include "artscale.h"
#include "util/globals.h"
#include "util/guards.h"

namespace {

const int BASE_DPI = 96;
// Marks a control whose picture was scaled here and is to be freed here.
const char SCALED_PROP[] = "QuilletScaledArt";

int DisplayDpi()
{
    WindowDC screen(nullptr);
    return GetDeviceCaps(screen.get(), LOGPIXELSY);
}

// A copy of the bitmap at the given size, smoothed rather than blocky.
HBITMAP Stretched(HBITMAP source, const BITMAP &bm, int width, int height)
{
    WindowDC screen(nullptr);
    MemoryDC from(screen.get());
    MemoryDC to(screen.get());
    HBITMAP scaled = CreateCompatibleBitmap(screen.get(), width, height);
    if (from.get() && to.get() && scaled) {
        SelectedObject fromSource(from.get(), source);
        SelectedObject toScaled(to.get(), scaled);
        SetStretchBltMode(to.get(), HALFTONE);
        SetBrushOrgEx(to.get(), 0, 0, nullptr);
        StretchBlt(to.get(), 0, 0, width, height, from.get(), 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
    }
    return scaled;
}

} // namespace

void ScaleStaticBitmap(HWND dlg, int control, int bitmap)
{
    int dpi = DisplayDpi();
    if (dpi == BASE_DPI || dpi <= 0)
        return;
    GdiObject source(
        LoadImageA(gvGlobals.hInstance, MAKEINTRESOURCEA(bitmap), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    BITMAP bm;
    if (!source.get() || !GetObjectA(source.get(), sizeof bm, &bm))
        return;
    HBITMAP scaled = Stretched(static_cast<HBITMAP>(source.get()), bm, MulDiv(bm.bmWidth, dpi, BASE_DPI),
                               MulDiv(bm.bmHeight, dpi, BASE_DPI));
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
