#pragma once
// "PNG" and "JFIF" clipboard data as bitmaps. The clipboard must be open.
#include <windows.h>

// A device-dependent bitmap of the decoded picture, or the placeholder
// picture on any failure: never null. The caller deletes it.
HBITMAP LoadClipboardPNG(HWND dlg, UINT format);
HBITMAP LoadClipboardJPEG(HWND dlg, UINT format);
// The placeholder picture (bitmap 170); the caller deletes it.
HBITMAP LoadPlaceholder();
