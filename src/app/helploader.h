#pragma once
// The HTML Help loader's state, one per entry point. HtmlHelpA and HtmlHelpW
// each own one; tests build their own to make the load fail.
#include <windows.h>

struct HelpEntryLoader {
    int (*locate)(char *path); // the registered module path (260 bytes); 1 if found
    const char *fallback;      // module name for the system's search path
    WORD ordinal;              // entry point in the module
    HMODULE module;            // loaded module; stays loaded for the process
    BOOL failed;               // a load or lookup failed: never tried again
    FARPROC entry;             // resolved entry point
};

// The entry point, loading the module on first use; null once anything failed.
FARPROC ResolveHelpEntry(HelpEntryLoader &loader);
