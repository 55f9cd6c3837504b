#include "testutil.h"
#include <commctrl.h>
#include <algorithm>
#include <cstring>
#include "boxwatch.h"
#include "app/main.h"
#include "cloud/clipcrypt.h"
#include "cloud/syncproto.h"
#include "resources/resource.h"
#include "util/globals.h"
#include "util/guards.h"
#include "settings/registry.h"

std::vector<UINT> ClipboardFormats()
{
    std::vector<UINT> out;
    ClipboardGuard clip(nullptr);
    if (clip.ok())
        for (UINT f = EnumClipboardFormats(0); f; f = EnumClipboardFormats(f))
            out.push_back(f);
    return out;
}

std::string ClipboardData(UINT format)
{
    ClipboardGuard clip(nullptr);
    HANDLE h = clip.ok() ? GetClipboardData(format) : nullptr;
    GlobalLockGuard<char> p(h);
    return p.get() ? std::string(p.get(), GlobalSize(h)) : std::string();
}

const UINT RTF = RegisterClipboardFormatA("Rich Text Format");
const UINT HTML = RegisterClipboardFormatA("HTML Format");

bool OnClipboard(UINT format)
{
    const std::vector<UINT> formats = ClipboardFormats();
    return std::find(formats.begin(), formats.end(), format) != formats.end();
}

bool WaitFor(const std::function<bool()> &cond, DWORD ms)
{
    for (DWORD start = GetTickCount(); !cond();
         MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT)) {
        if (GetTickCount() - start > ms)
            return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

void Settle(DWORD ms)
{
    WaitFor([] { return false; }, ms);
}

std::string BesideTestProgram(const std::string &name)
{
    char exe[MAX_PATH];
    std::string path(exe, GetModuleFileNameA(nullptr, exe, sizeof exe));
    return path.substr(0, path.find_last_of('\\') + 1) + name;
}

std::string TempPath(const std::string &name)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    return temp + name;
}

std::string WindowText(HWND window)
{
    std::string text(GetWindowTextLengthA(window) + 1, '\0');
    text.resize(GetWindowTextA(window, &text[0], (int)text.size()));
    return text;
}

std::string LoadedString(UINT id)
{
    char text[256] = "";
    LoadStringA(gvGlobals.hInstance, id, text, sizeof text);
    return text;
}

std::string StoredSetting(const char *section, const char *name)
{
    char text[512];
    GetSettingsStringA(section, name, "<none>", text, sizeof text);
    return text;
}

std::wstring StoredWideSetting(const char *section, const char *name)
{
    wchar_t text[512];
    GetSettingsStringW(section, name, "<none>", text, sizeof text);
    return text;
}

LONG StoreRaw(const char *section, const char *name, DWORD type, const std::string &data, size_t size)
{
    const std::string path = std::string(SETTINGS_ROOT) + (section ? std::string("\\") + section : "");
    RegKey key;
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  key.put(), nullptr);
    if (status == ERROR_SUCCESS && name)
        status = RegSetValueExA(key.get(), name, 0, type, reinterpret_cast<const BYTE *>(data.data()),
                                (DWORD)std::min(size, data.size()));
    return status;
}

void SetQuietStartWithAutoConvert()
{
    for (const char *name : {"AutoConvert", "HideSplash", "NoVerCheck"})
        WriteSettingsInt(nullptr, name, 1);
}

void SeedClipping(char letter, const char *name, const wchar_t *text, const char *date)
{
    const std::string section = std::string("Clip ") + letter;
    WriteSettingsStringA(section.c_str(), "Name", name);
    WriteSettingsStringW(section.c_str(), "UTF", text);
    WriteSettingsStringA(section.c_str(), "LastUpdate", date);
}

const UINT WM_FORWARD_LATE = WM_APP + 1;

ChainedViewer::ChainedViewer(Forwarding forwarding) : m_forwarding(forwarding)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Proc;
    wc.lpszClassName = "QuilletTestChain";
    RegisterClassA(&wc);
    m_hwnd = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    SetWindowLongPtrA(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_next = SetClipboardViewer(m_hwnd);
}

void ChainedViewer::Leave()
{
    if (m_hwnd) {
        ChangeClipboardChain(m_hwnd, m_next);
        DestroyWindow(m_hwnd);
    }
    m_hwnd = nullptr;
}

LRESULT CALLBACK ChainedViewer::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto *self = reinterpret_cast<ChainedViewer *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self || (msg != WM_DRAWCLIPBOARD && msg != WM_CHANGECBCHAIN && msg != WM_FORWARD_LATE))
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    self->draws += msg == WM_DRAWCLIPBOARD;
    if (msg == WM_DRAWCLIPBOARD && self->m_forwarding == LATE)
        PostMessageA(hwnd, WM_FORWARD_LATE, wParam, lParam);
    else if (msg == WM_CHANGECBCHAIN && reinterpret_cast<HWND>(wParam) == self->m_next)
        self->m_next = reinterpret_cast<HWND>(lParam);
    else if (self->m_next && (msg != WM_DRAWCLIPBOARD || self->m_forwarding == AT_ONCE))
        SendMessageA(self->m_next, msg == WM_CHANGECBCHAIN ? msg : WM_DRAWCLIPBOARD, wParam, lParam);
    return 0;
}

void RealService::SetUp()
{
    const char *host = getenv("QUILLET_TEST_SERVICE");
    if (!host || !*host)
        GTEST_SKIP() << "no service named in QUILLET_TEST_SERVICE";
    WriteSettingsStringA(nullptr, "ServerHost", host);
    const std::string name =
        "test" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    WriteSettingsStringA(nullptr, "AccountName", name.c_str());
    WriteSettingsStringA(nullptr, "AccountKey", "Key4Tests2026xyz");
}

int32_t SignedInUser()
{
    CloudKeys keys;
    PrepareCloudKeys(&keys);
    return SyncGetUserID(keys);
}

std::vector<CloudClipEntry> CloudClips()
{
    char body[1024];
    CloudClipEntry table[CLOUD_CLIPS_MAX] = {};
    uint32_t n = SyncGetClipList(SignedInUser(), body, sizeof body) > 0
                     ? ParseClipList(body, table, CLOUD_CLIPS_MAX)
                     : 0;
    return {table, table + n};
}

int32_t CloudIdOf(const char *name)
{
    for (const CloudClipEntry &clip : CloudClips())
        if (strcmp(clip.name, name) == 0)
            return clip.id;
    return 0;
}

std::vector<std::string> ManagerItems(HWND dlg)
{
    std::vector<std::string> items;
    for (LRESULT i = 0; i < SendDlgItemMessageA(dlg, IDC_CM_LIST, LB_GETCOUNT, 0, 0); i++) {
        char name[64] = "";
        SendDlgItemMessageA(dlg, IDC_CM_LIST, LB_GETTEXT, i, (LPARAM)name);
        items.push_back(name +
                        ("/" + std::to_string(SendDlgItemMessageA(dlg, IDC_CM_LIST, LB_GETITEMDATA, i, 0))));
    }
    return items;
}

namespace {

// Work the test program does as another program, named by its argument:
// copying formatted text, or holding the clipboard open, as a busy program
// would, from the moment the event "QuilletTestHeld" is set until
// "QuilletTestRelease" is (or 30 s).
int RunChildMode(const char *mode)
{
    if (strcmp(mode, "--child-copy-formatted") == 0)
        return SetClipboardFormats(FormattedText()) ? 0 : 1;
    if (strcmp(mode, "--child-paste-target") == 0 || strcmp(mode, "--child-ignore-paste") == 0)
        return RunPasteTarget(strcmp(mode, "--child-paste-target") == 0);
    HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, "QuilletTestHeld");
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, "QuilletTestRelease");
    if (strcmp(mode, "--child-hold-clipboard") != 0 || !held || !release || !OpenClipboard(nullptr))
        return 2;
    SetEvent(held);
    WaitForSingleObject(release, 30000);
    CloseClipboard();
    return 0;
}

class StateReset : public ::testing::EmptyTestEventListener {
    // Whatever an earlier test left, also when one of its assertions failed
    // before it could put a setting back.
    void OnTestStart(const ::testing::TestInfo &) override
    {
        ResetModuleState();
        ResetProgramState();
    }
};
} // namespace

int main(int argc, char **argv)
{
    gvGlobals.hInstance = GetModuleHandle(nullptr);
    // As the program's start-up does: common controls 6 and Rich Edit 2.0.
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    LoadLibraryA("riched20.dll");
    ConnectModules();
    if (argc >= 2 && strncmp(argv[1], "--child-", 8) == 0)
        return RunChildMode(argv[1]);
    ::testing::InitGoogleTest(&argc, argv);
    StartBoxWatcher();
    ::testing::UnitTest::GetInstance()->listeners().Append(new StateReset);
    return RUN_ALL_TESTS();
}
