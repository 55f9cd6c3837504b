#pragma once
#include <windows.h>

#define LEFT_ALONE_CHARS 1024

// The one process-wide record, zeroed at start-up and used on the UI thread.
struct Globals {
    DWORD_PTR HelpCookie; // HTML Help initialisation cookie
    char *HelpFile;       // module path with ".chm", or null
    HWND HelpOwner;       // window that first opened help
    DWORD StartToTray;    // option flags, 0 or 1
    DWORD AutoConvert;
    DWORD KeepUnicode;
    DWORD HideSplash;
    DWORD NoVerCheck;
    DWORD TrimLineEnds; // clean-ups of automatic conversion and the paste key
    DWORD JoinLines;
    DWORD StraightQuotes;
    DWORD KeepPlainText;                 // the paste key leaves its text on the clipboard
    DWORD PasteKey;                      // hot-key control form: virtual key, HOTKEYF_ flags
    wchar_t LeftAlone[LEFT_ALONE_CHARS]; // programs whose copies stay as they are
    HINSTANCE hInstance;                 // module instance for every resource
    UINT cfPNG;                          // registered clipboard formats
    UINT cfJFIF;
    UINT cfRTF;
    UINT cfHTML;
};

extern Globals gvGlobals;

// Product name: caption of every message box and tip of the tray icon.
#define APP_NAME "Quillet"
#define APP_VERSION "6.0.200"
#define APP_VERSION_DISPLAY "Version 6.0 Build 200"
#define APP_RELEASE_DATE "12 Feb 2018"
