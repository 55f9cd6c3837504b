#include "sync.h"
#include "account.h"
#include "syncproto.h"
#include "transfer.h"
#include "clipcrypt.h"
#include "wire.h"
#include "syncengine.h"
#include "clippings/store.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include "util/safefns.h"
#include <commctrl.h>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

enum SyncOutcome { SYNC_NO_USER, SYNC_BUSY, SYNC_NAME_TAKEN, SYNC_STORE_BUSY, SYNC_NO_LIST, SYNC_DONE };

// One run: the worker fills it, the UI thread reads it once the worker ended.
struct SyncRun {
    HWND progress;
    CloudKeys keys;
    int32_t userId;
    SyncReport report;
    char why[128];                     // the service's reason for the last upload that failed
    std::vector<std::string> unopened; // "the <part> of '<clip>'" of each part that did not open
    char text[1024];                   // each progress text
    char when[32];                     // the new "LastSync"
    SyncOutcome outcome;
};

// Set while a run is under way, on whichever thread asked for it.
LONG m_SyncRunning;

const char SUMMARY_CAPTION[] = "Synchronize Clippings";

void Step(void *context, const char *format, const std::string &name, int percent)
{
    auto *run = static_cast<SyncRun *>(context);
    snprintf(run->text, sizeof run->text, format, name.c_str());
    UpdateSyncProgress(run->progress, run->text, percent);
}

// The clipping store, with each clipping's mark in its section.
class RegistryStore : public SyncStore {
public:
    std::vector<SyncLocal> Load() override
    {
        ClippingEntry table[MAX_CLIPPINGS];
        uint32_t order[MAX_CLIPPINGS];
        const uint32_t n = LoadClippingNames(table, MAX_CLIPPINGS, order);
        std::vector<SyncLocal> locals;
        for (uint32_t i = 0; i < n; i++) {
            char section[16], date[32];
            FmtRegApp(section, sizeof section, table[i].slot);
            GetSettingsStringA(section, "LastUpdate", "", date, sizeof date);
            ClipSyncState state;
            SyncLocal local;
            local.slot = table[i].slot;
            local.name = table[i].name;
            local.lastUpdate = date;
            local.marked = ReadClipSyncState(table[i].slot, &state);
            local.mark = {state.cloudId, state.cloudDate, state.syncedUpdate};
            locals.push_back(local);
        }
        return locals;
    }
    void Mark(uint32_t slot, const SyncMark &mark) override
    {
        ClipSyncState state = {true, mark.cloudId, "", ""};
        safe_strncpy(state.cloudDate, sizeof state.cloudDate, mark.cloudDate.c_str(),
                     sizeof state.cloudDate - 1);
        safe_strncpy(state.syncedUpdate, sizeof state.syncedUpdate, mark.localUpdate.c_str(),
                     sizeof state.syncedUpdate - 1);
        WriteClipSyncState(slot, state);
    }
    bool Delete(uint32_t slot) override
    {
        DeleteLocalClip(slot);
        return true;
    }
    bool Rename(uint32_t slot, const std::string &name) override
    {
        char section[16];
        FmtRegApp(section, sizeof section, slot);
        return WriteSettingsStringA(section, "Name", name.c_str()) != 0;
    }
};

// The account's clips on the service, as this run reaches them.
class ServiceCloud : public SyncCloudApi {
public:
    explicit ServiceCloud(SyncRun &run) : m_run(run) {}

    // A reply that is not a whole clip list (none at all, or one cut off by
    // a broken connection) must not pass for a shorter one: every clipping
    // missing from it would be uploaded again as a new cloud clip.
    bool List(std::vector<SyncCloud> *clips) override
    {
        char body[1024];
        if (SyncGetClipList(m_run.userId, body, sizeof body) < 1)
            return false;
        const char *list = strstr(body, "<Clips>\r\n");
        // The end tag starts a line: a name cannot hold a line break.
        if (!(list && strstr(list, "\r\n</Clips>")) && !strstr(body, "<Clips />"))
            return false;
        CloudClipEntry table[CLOUD_CLIPS_MAX];
        const uint32_t n = ParseClipList(body, table, CLOUD_CLIPS_MAX);
        clips->clear();
        for (uint32_t i = 0; i < n; i++)
            clips->push_back({table[i].id, table[i].name, table[i].date, table[i].state});
        return true;
    }
    bool Upload(uint32_t slot, int32_t id, int32_t *created) override
    {
        UploadResult result;
        const bool done = PostClipToCloud(m_run.userId, id ? id : -1, slot, m_run.keys, &result) == 1;
        *created = result.created;
        if (!done && result.why[0])
            memcpy(m_run.why, result.why, sizeof m_run.why);
        return done;
    }
    bool Download(int32_t id, const std::string &name, int slot, uint32_t *landed,
                  std::string *lastUpdate) override
    {
        const char *unopened = nullptr;
        const int stored = DownloadClip(m_run.userId, id, name.c_str(), m_run.keys, slot, &unopened);
        if (unopened)
            m_run.unopened.push_back(std::string("the ") + unopened + " of '" + name + "'");
        if (stored < 0)
            return false;
        char section[16], date[32];
        FmtRegApp(section, sizeof section, uint32_t(stored));
        GetSettingsStringA(section, "LastUpdate", "", date, sizeof date);
        *landed = uint32_t(stored);
        *lastUpdate = date;
        return true;
    }
    bool Rename(int32_t id, const std::string &name) override
    {
        SyncFailure failure;
        return SyncRenameClip(m_run.userId, id, name.c_str(), &failure) == 1;
    }

private:
    SyncRun &m_run;
};

void WriteLastSync(char (&when)[32])
{
    time_t now = time(nullptr);
    strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", localtime(&now));
    WriteSettingsStringA(nullptr, "LastSync", when);
}

// The store is the run's alone while it lasts: another running copy of the
// program waits to store.
SyncOutcome RunSync(SyncRun &run)
{
    // Here, off the window's thread: deriving the key takes a while, and
    // signing in needs it.
    UpdateSyncProgress(run.progress, "Preparing the encryption key...", 0);
    PrepareCloudKeys(&run.keys);
    UpdateSyncProgress(run.progress, "Getting registered User ID...", 0);
    SignInFailure failure;
    run.userId = SyncSignIn(run.keys, &failure);
    if (run.userId < 1)
        return failure == SIGNIN_BUSY         ? SYNC_BUSY
               : failure == SIGNIN_NAME_TAKEN ? SYNC_NAME_TAKEN
                                              : SYNC_NO_USER;
    char lastSync[32];
    GetSettingsStringA(nullptr, "LastSync", "", lastSync, sizeof lastSync);
    UpdateSyncProgress(run.progress, "Getting your clippings from the cloud...", 0);
    ClippingStoreLock lock;
    if (!lock.ok())
        return SYNC_STORE_BUSY;
    RegistryStore store;
    ServiceCloud cloud(run);
    if (!RunSynchronisation(store, cloud, lastSync, Step, &run, &run.report))
        return SYNC_NO_LIST;
    WriteLastSync(run.when);
    return SYNC_DONE;
}

DWORD WINAPI SyncWorker(void *param)
{
    auto *run = static_cast<SyncRun *>(param);
    run->outcome = RunSync(*run);
    return 0;
}

DWORD WINAPI KeysWorker(void *keys)
{
    PrepareCloudKeys(static_cast<CloudKeys *>(keys));
    return 0;
}

// The work runs on a thread of its own while this thread keeps the progress
// dialog alive: it takes the dialog's messages, every window's painting and
// the messages sent to it, but leaves the owner's input queued, so that no
// other command of the owner runs halfway through.
void RunBesideProgress(HWND progress, LPTHREAD_START_ROUTINE work, void *param)
{
    HANDLE worker = CreateThread(nullptr, 0, work, param, 0, nullptr);
    if (!worker) {
        work(param);
        return;
    }
    while (MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        while ((progress && PeekMessageA(&msg, progress, 0, 0, PM_REMOVE)) ||
               PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT))
            DispatchMessageA(&msg);
    }
    // The work's data lives on the caller's stack: the wait above may also
    // end by failing.
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
}

// "\n<heading> a, b, c" for a list of clipping names (quoted) or of phrases,
// within the text.
int AppendList(char *text, size_t size, int len, const char *heading, const std::vector<std::string> &items,
               bool quoted = true)
{
    if (items.empty() || len < 0 || size_t(len) >= size)
        return len;
    len += snprintf(text + len, size - len, "\n%s", heading);
    for (size_t i = 0; i < items.size() && len >= 0 && size_t(len) < size; i++)
        len += snprintf(text + len, size - len, quoted ? "%s'%s'" : "%s%s", i ? ", " : " ", items[i].c_str());
    return len;
}

void ShowSummary(HWND owner, const SyncRun &run)
{
    const SyncReport &r = run.report;
    char text[2048];
    int len = snprintf(text, sizeof text,
                       "Synchronization Completed at %s\n%4u Clips uploaded\n%4u Clips downloaded\n%4u Clips "
                       "deleted\n%4u Clips unchanged.",
                       run.when, r.uploaded, r.downloaded, r.deleted, r.unchanged);
    if (r.skipped || !r.failed.empty() || !r.conflicts.empty() || !r.unsolved.empty())
        len += snprintf(text + len, sizeof text - len, "\n");
    if (r.skipped)
        len += snprintf(text + len, sizeof text - len,
                        "\n%4u Clips skipped because the local storage is full.", r.skipped);
    len =
        AppendList(text, sizeof text, len, "Changed here and in the cloud, both versions kept:", r.conflicts);
    len = AppendList(
        text, sizeof text, len,
        "Changed here and in the cloud, no room to keep both (nothing was overwritten):", r.unsolved);
    len = AppendList(text, sizeof text, len, "Not transferred, tried again next time:", r.failed);
    len = AppendList(text, sizeof text, len,
                     "Not decrypted, so not stored (another account key, or changed on the service):",
                     run.unopened, false);
    // Once, however many uploads the service refused for that reason.
    if (run.why[0] && len >= 0 && size_t(len) < sizeof text)
        snprintf(text + len, sizeof text - len, "\nThe server replied '%s'.", run.why);
    MessageBoxA(owner, text, SUMMARY_CAPTION, MB_OK | MB_ICONINFORMATION);
}

int Synchronise(HWND owner)
{
    SyncRun run = {};
    run.progress = OpenSyncProgressDialog(owner);
    RunBesideProgress(run.progress, SyncWorker, &run);
    CloseSyncProgressDialog(run.progress);
    if (run.outcome == SYNC_NO_USER) {
        char text[200] = "";
        LoadStringA(gvGlobals.hInstance, IDS_NOSYNCACCOUNT, text, sizeof text);
        MessageBoxA(owner, text, nullptr, MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    if (run.outcome == SYNC_BUSY) {
        MessageBoxA(
            owner,
            "The sync service is busy or could not be reached, so nothing was synchronized. Please try "
            "again later.",
            SUMMARY_CAPTION, MB_OK | MB_ICONWARNING);
        return 0;
    }
    if (run.outcome == SYNC_NAME_TAKEN) {
        MessageBoxA(owner,
                    "The sync service holds an account of this name with another key, so nothing was "
                    "synchronized. Please check the name and key under Options, Cloud Account.",
                    SUMMARY_CAPTION, MB_OK | MB_ICONWARNING);
        return 0;
    }
    if (run.outcome == SYNC_STORE_BUSY) {
        MessageBoxA(owner, BUSY_STORE, SUMMARY_CAPTION, MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    if (run.outcome == SYNC_NO_LIST) {
        MessageBoxA(
            owner,
            "Your clippings in the cloud could not be listed, so nothing was synchronized. Please try again "
            "later.",
            SUMMARY_CAPTION, MB_OK | MB_ICONWARNING);
        return 0;
    }
    ShowSummary(owner, run);
    return 1;
}

INT_PTR CALLBACK SPDlgProc(HWND dialog, UINT msg, WPARAM, LPARAM)
{
    if (msg != WM_INITDIALOG)
        return FALSE;
    SetDlgItemTextA(dialog, IDC_SP_TEXT, "Starting Synchronization...");
    SendDlgItemMessageA(dialog, IDC_SP_BAR, PBM_SETPOS, 0, 0);
    return TRUE;
}

} // namespace

int SyncClips(HWND owner)
{
    if (InterlockedExchange(&m_SyncRunning, 1))
        return 0;
    int result = EnsureCloudAccount(owner) ? Synchronise(owner) : 0;
    InterlockedExchange(&m_SyncRunning, 0);
    return result;
}

HWND OpenSyncProgressDialog(HWND owner)
{
    HWND dialog =
        CreateDialogParamA(gvGlobals.hInstance, MAKEINTRESOURCEA(IDD_SYNCPROGRESS), owner, SPDlgProc, 0);
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    return dialog;
}

void UpdateSyncProgress(HWND dialog, const char *text, int percent)
{
    SetDlgItemTextA(dialog, IDC_SP_TEXT, text);
    SendDlgItemMessageA(dialog, IDC_SP_BAR, PBM_SETPOS, percent, 0);
    UpdateWindow(dialog);
}

void CloseSyncProgressDialog(HWND dialog)
{
    DestroyWindow(dialog);
}

void PrepareCloudKeysBeside(HWND owner, CloudKeys *keys)
{
    HWND progress = OpenSyncProgressDialog(owner);
    UpdateSyncProgress(progress, "Preparing the encryption key...", 0);
    RunBesideProgress(progress, KeysWorker, keys);
    CloseSyncProgressDialog(progress);
}
