#include "cloudmgr.h"
#include "account.h"
#include "sync.h"
#include "syncproto.h"
#include "transfer.h"
#include "clipcrypt.h"
#include "wire.h"
#include "clippings/managerframe.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include <cstdio>
#include <cstring>

namespace {

CloudClipEntry m_CloudClips[CLOUD_CLIPS_MAX];
// The account of the listed clips, from the last fill.
int32_t m_UserID;
// The account's keys while the dialog runs: prepared once, before it opens,
// for every sign-in and download.
const CloudKeys *m_Keys;

const char CHOICE_SETTING[] = "DCActCC";

HBITMAP m_ccRename[2];
HBITMAP m_ccDelete[2];
HBITMAP m_ccCopy[2];
HBITMAP m_ccSync[2];

const PictureButton BUTTONS[] = {
    {IDC_CM_RENAME, m_ccRename, IDB_CM_RENAME, IDB_CM_RENAMEGREY},
    {IDC_CM_DELETE, m_ccDelete, IDB_CM_DELETE, IDB_CM_DELETEGREY},
    {IDC_CM_COPY, m_ccCopy, IDB_CM_COPY, IDB_CM_COPYGREY},
    {IDC_CM_SYNC, m_ccSync, IDB_CM_SYNC, IDB_CM_SYNCGREY},
};

const char TITLE[] = "Manage Cloud Clippings";

// Lists the clips present in the cloud with their ids. 0 when there is no
// user id (stored in *error) or no clip at all; a list request that failed
// leaves the list empty and gives -1.
int CCLoadLB(HWND list, int32_t *error)
{
    memset(m_CloudClips, 0, sizeof m_CloudClips);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    m_UserID = SyncGetUserID(*m_Keys);
    if (m_UserID <= 0) {
        *error = m_UserID;
        return 0;
    }
    char body[1024];
    if (SyncGetClipList(m_UserID, body, sizeof body) < 1)
        return -1;
    uint32_t count = ParseClipList(body, m_CloudClips, CLOUD_CLIPS_MAX);
    for (uint32_t i = 0; i < count; i++) {
        if (m_CloudClips[i].state != 'A')
            continue;
        LRESULT item = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(m_CloudClips[i].name));
        if (item >= 0)
            SendMessageA(list, LB_SETITEMDATA, item, m_CloudClips[i].id);
    }
    return static_cast<int>(count);
}

int Refill(HWND dlg)
{
    int32_t error = 0;
    return CCLoadLB(GetDlgItem(dlg, IDC_CM_LIST), &error);
}

bool GetSelection(HWND dlg, int32_t *id, char (&name)[CLIPNAME_MAX + 1])
{
    LRESULT data;
    if (!GetSelectedItem(dlg, name, &data))
        return false;
    *id = static_cast<int32_t>(data);
    return true;
}

void TellFailure(HWND dlg, const SyncFailure &failure)
{
    if (failure.text[0])
        MessageBoxA(dlg, failure.text, APP_NAME, MB_OK | MB_ICONINFORMATION);
}

void CCDoRename(HWND dlg)
{
    int32_t id;
    char name[CLIPNAME_MAX + 1];
    if (!GetSelection(dlg, &id, name) || !AskNewName(dlg, name))
        return;
    SyncFailure failure;
    SyncRenameClip(m_UserID, id, name, &failure);
    TellFailure(dlg, failure);
    Refill(dlg);
}

void CCDoDelete(HWND dlg)
{
    int32_t id;
    char name[CLIPNAME_MAX + 1];
    if (!GetSelection(dlg, &id, name) || !ConfirmDelete(dlg, name))
        return;
    SyncFailure failure;
    SyncDeleteClip(m_UserID, id, &failure);
    TellFailure(dlg, failure);
    Refill(dlg);
}

// Puts the clip straight on the clipboard and closes the manager; a clip
// that did not arrive, or a part of it that did not open, is said so rather
// than closing as if it had.
int CCDoCopy(HWND dlg)
{
    int32_t id;
    char name[CLIPNAME_MAX + 1];
    if (!GetSelection(dlg, &id, name))
        return 0;
    char text[300];
    snprintf(text, sizeof text, "Downloading clipping '%s'...", name);
    HWND progress = OpenSyncProgressDialog(dlg);
    UpdateSyncProgress(progress, text, 0);
    const char *unopened = nullptr;
    const int result = GetClipFromCloud(m_UserID, id, name, *m_Keys, dlg, &unopened);
    CloseSyncProgressDialog(progress);
    if (unopened)
        snprintf(text, sizeof text,
                 "The %s of the clipping '%s' could not be decrypted (another account key, or changed on the "
                 "service), so nothing was copied.",
                 unopened, name);
    else if (result != 1)
        snprintf(text, sizeof text, "The clipping '%s' could not be downloaded.", name);
    if (result != 1)
        MessageBoxA(dlg, text, APP_NAME, MB_OK | MB_ICONEXCLAMATION);
    CloseManager(dlg, 1, CHOICE_SETTING);
    return result;
}

// Fills the list, or says that there is nothing to list (a message of 167
// characters, read whole) and closes.
bool Open(HWND dlg)
{
    SetDlgItemTextA(dlg, IDC_CM_GROUP, TITLE);
    SetWindowTextA(dlg, TITLE);
    if (Refill(dlg) != 0)
        return true;
    char text[256] = "";
    LoadStringA(gvGlobals.hInstance, IDS_NOCLOUDCLIPS, text, sizeof text);
    MessageBoxA(dlg, text, nullptr, MB_OK | MB_ICONINFORMATION);
    return false;
}

void OnSync(HWND dlg)
{
    SyncClips(dlg);
    Refill(dlg);
}

void OnCopy(HWND dlg)
{
    CCDoCopy(dlg);
}

const ManagerKind CLOUD_MANAGER = {
    CHOICE_SETTING, BUTTONS, Open, CCDoRename, CCDoDelete, OnCopy, OnSync,
};

INT_PTR CALLBACK CCDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM)
{
    return ManagerDlgProc(dlg, msg, wParam, CLOUD_MANAGER);
}

} // namespace

INT_PTR CloudMgrDialog(HWND parent)
{
    if (!EnsureCloudAccount(parent))
        return 2;
    CloudKeys keys;
    PrepareCloudKeysBeside(parent, &keys);
    m_Keys = &keys;
    const INT_PTR result =
        DialogBoxParamA(gvGlobals.hInstance, MAKEINTRESOURCEA(IDD_CLIPMGR), parent, CCDlgProc, 0);
    m_Keys = nullptr;
    return result;
}
