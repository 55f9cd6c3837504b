#include "net/vercheck.h"
#include <process.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include "net/http.h"
#include "net/httpreply.h"
#include "resources/resource.h"
#include "util/globals.h"
#include "util/messages.h"

namespace {

// The running release, APP_VERSION_DISPLAY.
const int32_t RUNNING_MAJOR = 6;
const int32_t RUNNING_MINOR = 0;
const int32_t RUNNING_BUILD = 200;

const DWORD CHECK_WAIT_MS = 2500;
const size_t REPLY_SIZE = 1024;
const int TEXT_SIZE = 200;

// The start-up check's thread until start-up has waited for it.
HANDLE m_hTrd;

void LoadText(UINT id, char (&text)[TEXT_SIZE])
{
    if (!LoadStringA(gvGlobals.hInstance, id, text, TEXT_SIZE))
        text[0] = '\0';
}

void ShowCurrent(HWND owner)
{
    char format[TEXT_SIZE];
    LoadText(IDS_CURRENTVERSION, format);
    char text[TEXT_SIZE + 64];
    snprintf(text, sizeof text, format, APP_VERSION_DISPLAY, APP_NAME);
    MessageBoxA(owner, text, APP_NAME " is up-to-date", MB_OK | MB_ICONINFORMATION);
}

// The date is shown whole, however long the server words it: a cut text
// could lose the question that Yes and No answer. Absent numbers are -1.
bool OfferUpdate(HWND owner, int32_t major, int32_t minor, int32_t build, const char *date)
{
    char format[TEXT_SIZE];
    LoadText(IDS_NEWVERSION, format);
    char text[TEXT_SIZE + REPLY_SIZE + 64];
    snprintf(text, sizeof text, format, APP_NAME, static_cast<unsigned>(major), static_cast<unsigned>(minor),
             static_cast<unsigned long>(static_cast<uint32_t>(build)), date, APP_VERSION_DISPLAY);
    return MessageBoxA(owner, text, "Update Available", MB_YESNO | MB_ICONINFORMATION) == IDYES;
}

// The thread's exit code is the check's result.
unsigned __stdcall VCProc(void *owner)
{
    return static_cast<unsigned>(GetCurrentVersionInfo(static_cast<HWND>(owner), 0));
}

} // namespace

int GetCurrentVersionInfo(HWND owner, int interactive)
{
    char query[24];
    snprintf(query, sizeof query, "app=%s", APP_NAME);
    char body[REPLY_SIZE];
    if (DoHttpGet(VCHK_PATH, query, body, sizeof body) != 200)
        return 1;
    int32_t major = FindKeyValueUL(body, "Vmajor");
    int32_t minor = FindKeyValueUL(body, "Vminor");
    int32_t build = FindKeyValueUL(body, "Vbuild");
    if (major == RUNNING_MAJOR && minor == RUNNING_MINOR && build == RUNNING_BUILD) {
        if (interactive)
            ShowCurrent(owner);
        return 0;
    }
    char *date = FindKeyValueStr(body, "RelDate");
    if (OfferUpdate(owner, major, minor, build, date ? date : "")) {
        char page[TEXT_SIZE];
        LoadText(IDS_PRODUCTPAGE, page);
        DoLaunch(owner, page);
    }
    free(date);
    return 1;
}

HANDLE LaunchVersionCheck(HWND owner)
{
    m_hTrd = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, VCProc, owner, 0, nullptr));
    return m_hTrd;
}

void TerminateVersionCheck()
{
    if (!m_hTrd)
        return;
    WaitForSingleObject(m_hTrd, CHECK_WAIT_MS);
    CloseHandle(m_hTrd);
    m_hTrd = nullptr;
}
