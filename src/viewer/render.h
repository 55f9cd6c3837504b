#pragma once
// Rendering of a picture format into the viewer's off-screen bitmap, drawn
// fitted into the picture frame (control 880) and copied on every paint.
#include <windows.h>

struct MyBmpInfo {
    DWORD width;
    DWORD height;
    DWORD bitsPerPixel;
};

// The rendered picture, null before the first, and what the information
// text reports of it.
HBITMAP RenderedPicture();
MyBmpInfo RenderedPictureInfo();

// Renders `format` of the clipboard into a new picture of the frame's size.
void ClipboardToBitmap(HWND dlg, UINT format);
// Draws a bitmap fitted into `frame` (origin 0, 0) and records its info.
void DrawBMP(HDC dc, HBITMAP bitmap, const RECT *frame);
// The owner-draw paint of the picture frame: copies the rendered picture.
void PaintPictureFrame(const DRAWITEMSTRUCT *item);
// Deletes the rendered picture (the viewer's close sequence).
void FreePicture();

#define IDC_PICTUREFRAME 880
#define IDB_PLACEHOLDER 170
