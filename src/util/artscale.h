#pragma once
// The program's pictures are drawn for 96 dots per inch; dialogs grow with
// the display's scaling, so their pictures are scaled to match.
#include <windows.h>

// Gives a bitmap static the bitmap resource scaled to the display's
// dots per inch (left as it is at 96).
void ScaleStaticBitmap(HWND dlg, int control, int bitmap);
// Frees what ScaleStaticBitmap gave the control; on WM_DESTROY.
void FreeStaticBitmap(HWND dlg, int control);

// Shows a picture button enabled with one image or disabled with the other.
// Nothing is sent when the button already looks so: the button keeps a copy
// of every image it is given (and Wine's never frees them).
void ShowPictureButton(HWND button, HBITMAP image, bool enabled);
