#pragma once
// The "Manage Cloud Clippings" dialog.
#include <windows.h>

INT_PTR CloudMgrDialog(HWND parent);
