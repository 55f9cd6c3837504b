#pragma once
#include <windows.h>

// The splash screen: closes itself after `timeout` ms (or on Escape).
void ShowTitleSplash(UINT timeout);
// The same dialog as the about box, with Close and Credits.
void ShowAboutBox();
