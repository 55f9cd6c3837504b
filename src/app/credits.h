#pragma once
#include <windows.h>

// The credits dialog with the version texts of the linked libraries.
INT_PTR CreditsDialog(HWND owner);
