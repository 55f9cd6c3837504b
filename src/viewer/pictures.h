#pragma once
// "PNG" and "JFIF" clipboard data as bitmaps: the bytes are copied while the
// clipboard is open and decoded once it is closed, since a large picture
// takes a moment and a broken one a box that waits for the user.
#include <windows.h>

// A device-dependent bitmap of the decoded copy (GetClipboardBlock's), or the placeholder picture
// on any failure: never null. The caller deletes it. Decoding errors are
// told in a box, so the clipboard must be closed.
HBITMAP LoadClipboardPNG(HGLOBAL copy, SIZE_T size);
HBITMAP LoadClipboardJPEG(HGLOBAL copy, SIZE_T size);
// The placeholder picture (bitmap 170); the caller deletes it.
HBITMAP LoadPlaceholder();
