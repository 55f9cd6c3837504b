#include "sync.h"
#include "account.h"
#include "syncproto.h"
#include "transfer.h"
#include "wire.h"
#include "clippings/store.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include <commctrl.h>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

enum SyncOutcome { SYNC_NO_USER, SYNC_BUSY, SYNC_NAME_TAKEN, SYNC_NO_LIST, SYNC_DONE };

// One run: the worker fills it, the UI thread reads it once the worker ended.
struct SyncRun {
    HWND progress;
    uint8_t key[ROL_KEY_MAX];
    uint32_t keyLen;
    int32_t userId;
    ClippingEntry local[MAX_CLIPPINGS];
    uint32_t order[MAX_CLIPPINGS];
    uint32_t n;
    CloudClipEntry cloud[CLOUD_CLIPS_MAX];
    uint32_t m;
    unsigned step, total;
    unsigned uploaded, downloaded, deleted, unchanged, skipped, failed;
    char text[1024]; // the clip list reply, then each progress text
    char when[32];   // the new "LastSync"
    SyncOutcome outcome;
};

// Set while a run is under way, on whichever thread asked for it.
LONG m_SyncRunning;

const char SUMMARY_CAPTION[] = "Synchronize Clippings";

void Step(SyncRun &run, const char *format, const char *name)
{
    run.step++;
    snprintf(run.text, sizeof run.text, format, name);
    UpdateSyncProgress(run.progress, run.text, CalcPct(run.step, run.total));
}

bool Matches(const ClippingEntry &local, const CloudClipEntry &cloud)
{
    return cloud.id != 0 && _stricmp(local.name, cloud.name) == 0;
}

CloudClipEntry *FindMatch(SyncRun &run, const ClippingEntry &local)
{
    for (uint32_t i = 0; i < run.m; i++)
        if (Matches(local, run.cloud[i]))
            return &run.cloud[i];
    return nullptr;
}

// Every local clipping, plus every cloud clip that none of them matches.
unsigned CountSteps(const SyncRun &run)
{
    unsigned total = run.n;
    for (uint32_t i = 0; i < run.m; i++) {
        bool matched = false;
        for (uint32_t j = 0; j < run.n && !matched; j++)
            matched = Matches(run.local[j], run.cloud[i]);
        total += !matched;
    }
    return total;
}

// A reply that is not a whole clip list (none at all, or one cut off by a
// broken connection) must not pass for a shorter one: every local clipping
// missing from it would be uploaded again as a new cloud clip.
bool FetchCloudClips(SyncRun &run)
{
    if (SyncGetClipList(run.userId, run.text, sizeof run.text) < 1)
        return false;
    const char *list = strstr(run.text, "<Clips>\r\n");
    // The end tag starts a line: a name cannot hold a line break.
    if (!(list && strstr(list, "\r\n</Clips>")) && !strstr(run.text, "<Clips />"))
        return false;
    run.m = ParseClipList(run.text, run.cloud, CLOUD_CLIPS_MAX);
    return true;
}

// A download whose data never arrived is counted apart, not as downloaded.
void Download(SyncRun &run, const CloudClipEntry &cloud)
{
    if (GetClipFromCloud(run.userId, cloud.id, cloud.name, run.key, run.keyLen, nullptr) == 1)
        run.downloaded++;
    else
        run.failed++;
}

void ActOnMatch(SyncRun &run, const ClippingEntry &local, CloudClipEntry &cloud, SyncAction action)
{
    switch (action) {
    case SYNC_UPDATE_CLOUD:
        PostClipToCloud(run.userId, cloud.id, local.slot, run.key, run.keyLen);
        Step(run, "Updating '%s' on the server.", local.name);
        run.uploaded++;
        break;
    case SYNC_UNCHANGED:
        Step(run, "Clip '%s' unchanged.", cloud.name);
        run.unchanged++;
        break;
    case SYNC_DOWNLOAD:
        Step(run, "Downloading '%s' from the server.", cloud.name);
        Download(run, cloud);
        break;
    case SYNC_DELETE_LOCAL:
        Step(run, "Deleting the local clipping '%s'.", cloud.name);
        DeleteLocalClip(local.slot);
        run.deleted++;
        break;
    case SYNC_NOTHING:
        return;
    }
    cloud.state = 'U';
}

// In table order, which is the order the sections were enumerated in.
void LocalPass(SyncRun &run, int32_t lastSync)
{
    for (uint32_t i = 0; i < run.n; i++) {
        const ClippingEntry &local = run.local[i];
        CloudClipEntry *cloud = FindMatch(run, local);
        if (cloud) {
            ActOnMatch(run, local, *cloud,
                       DecideSync(cvtDatetime(cloud->date), local.lastUpdate, lastSync, cloud->state));
            continue;
        }
        Step(run, "Uploading '%s' to the server.", local.name);
        PostClipToCloud(run.userId, -1, local.slot, run.key, run.keyLen);
        run.uploaded++;
    }
}

// The cloud clips no local clipping matched; each download fills the store
// further, so its room is asked afresh every time.
void CloudPass(SyncRun &run)
{
    for (uint32_t i = 0; i < run.m; i++) {
        CloudClipEntry &cloud = run.cloud[i];
        if (cloud.state != 'A')
            continue;
        if (MayStoreClipping()) {
            Step(run, "Downloading '%s' from the server.", cloud.name);
            Download(run, cloud);
            continue;
        }
        Step(run, "Skipping '%s' - local storage full.", cloud.name);
        run.skipped++;
        cloud.state = 'U';
    }
}

void WriteLastSync(char (&when)[32])
{
    time_t now = time(nullptr);
    strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", localtime(&now));
    WriteSettingsStringA(nullptr, "LastSync", when);
}

SyncOutcome RunSync(SyncRun &run)
{
    UpdateSyncProgress(run.progress, "Getting registered User ID...", 0);
    SignInFailure failure;
    run.userId = SyncSignIn(&failure);
    if (run.userId < 1)
        return failure == SIGNIN_BUSY         ? SYNC_BUSY
               : failure == SIGNIN_NAME_TAKEN ? SYNC_NAME_TAKEN
                                              : SYNC_NO_USER;
    char lastSync[32];
    GetSettingsStringA(nullptr, "LastSync", "", lastSync, sizeof lastSync);
    run.n = LoadClippingNames(run.local, MAX_CLIPPINGS, run.order);
    UpdateSyncProgress(run.progress, "Getting your clippings from the cloud...", 0);
    if (!FetchCloudClips(run))
        return SYNC_NO_LIST;
    run.total = CountSteps(run);
    LocalPass(run, cvtDatetime(lastSync));
    if (run.m > 0)
        CloudPass(run);
    WriteLastSync(run.when);
    return SYNC_DONE;
}

DWORD WINAPI SyncWorker(void *param)
{
    auto *run = static_cast<SyncRun *>(param);
    run->outcome = RunSync(*run);
    return 0;
}

// The run works on a thread of its own while this thread keeps the progress
// dialog alive: it takes the dialog's messages, every window's painting and
// the messages sent to it, but leaves the owner's input queued, so that no
// other command of the owner runs halfway through.
void RunBesideProgress(SyncRun &run)
{
    HANDLE worker = CreateThread(nullptr, 0, SyncWorker, &run, 0, nullptr);
    if (!worker) {
        SyncWorker(&run);
        return;
    }
    while (MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        while ((run.progress && PeekMessageA(&msg, run.progress, 0, 0, PM_REMOVE)) ||
               PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT))
            DispatchMessageA(&msg);
    }
    // The run lives on this stack: the wait above may also end by failing.
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
}

void ShowSummary(HWND owner, const SyncRun &run)
{
    char text[1024];
    int len = snprintf(text, sizeof text,
                       "Synchronization Completed at %s\n%4u Clips uploaded\n%4u Clips downloaded\n%4u Clips "
                       "deleted\n%4u Clips unchanged.",
                       run.when, run.uploaded, run.downloaded, run.deleted, run.unchanged);
    if (run.skipped || run.failed)
        len += snprintf(text + len, sizeof text - len, "\n");
    if (run.skipped)
        len += snprintf(text + len, sizeof text - len,
                        "\n%4u Clips skipped because the local storage is full.", run.skipped);
    if (run.failed)
        snprintf(text + len, sizeof text - len, "\n%4u Clips could not be downloaded.", run.failed);
    MessageBoxA(owner, text, SUMMARY_CAPTION, MB_OK | MB_ICONINFORMATION);
}

int Synchronise(HWND owner)
{
    SyncRun run = {};
    run.keyLen = PrepareROLString(run.key, sizeof run.key);
    run.progress = OpenSyncProgressDialog(owner);
    RunBesideProgress(run);
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
