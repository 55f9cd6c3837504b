#include "clipmgr.h"
#include "clipmenu.h"
#include "managerframe.h"
#include "store.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include <cstdio>

namespace {

const char CHOICE_SETTING[] = "DCActLC";

HBITMAP m_btnRename[2];
HBITMAP m_btnDelete[2];
HBITMAP m_btnCopy[2];
HBITMAP m_btnSync[2];

const PictureButton BUTTONS[] = {
    {IDC_CM_RENAME, m_btnRename, IDB_CM_RENAME, IDB_CM_RENAMEGREY},
    {IDC_CM_DELETE, m_btnDelete, IDB_CM_DELETE, IDB_CM_DELETEGREY},
    {IDC_CM_COPY, m_btnCopy, IDB_CM_COPY, IDB_CM_COPYGREY},
    {IDC_CM_SYNC, m_btnSync, IDB_CM_SYNC, IDB_CM_SYNCGREY},
};

// The clippings as the list shows them, by slot: the user's choice is
// checked against them before it is acted on.
ClippingEntry m_Shown[MAX_CLIPPINGS];
// The synchronisation with the cloud, given by the program.
void (*m_Synchronise)(HWND dlg);

void FillList(HWND dlg)
{
    ClippingEntry table[MAX_CLIPPINGS];
    uint32_t order[MAX_CLIPPINGS];
    const uint32_t count = LoadClippingNames(table, MAX_CLIPPINGS, order);
    HWND list = GetDlgItem(dlg, IDC_CM_LIST);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (uint32_t k = 0; k < count; k++) {
        const ClippingEntry &entry = table[order[k]];
        m_Shown[entry.slot] = entry;
        LRESULT item = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.name));
        if (item >= 0)
            SendMessageA(list, LB_SETITEMDATA, item, entry.slot);
    }
}

bool HasClippings(HWND dlg)
{
    FillList(dlg);
    return SendDlgItemMessageA(dlg, IDC_CM_LIST, LB_GETCOUNT, 0, 0) > 0;
}

// The selected clipping's slot and name; false without a selection.
bool GetSelection(HWND dlg, uint32_t *slot, char (&name)[CLIPNAME_MAX + 1])
{
    LRESULT data;
    if (!GetSelectedItem(dlg, name, &data) || static_cast<ULONG_PTR>(data) >= MAX_CLIPPINGS)
        return false;
    *slot = static_cast<uint32_t>(data);
    return true;
}

// Another running copy of the program may have deleted or replaced the
// clipping since the list was filled. Then the user is told, the list shows
// the store as it is, and nothing is done.
void TellChanged(HWND dlg, uint32_t slot)
{
    char text[160];
    snprintf(text, sizeof text,
             "\"%s\" was changed or deleted by another running copy of Quillet. The list now shows the "
             "clippings as they are.",
             m_Shown[slot].name);
    MessageBoxA(dlg, text, APP_NAME, MB_OK | MB_ICONINFORMATION);
    FillList(dlg);
}

bool StillListed(HWND dlg, uint32_t slot)
{
    if (SlotHoldsClipping(slot, m_Shown[slot]))
        return true;
    TellChanged(dlg, slot);
    return false;
}

// Runs `change` on the slot under the store's lock if it still holds the
// listed clipping.
template <typename Change> void ChangeListed(HWND dlg, uint32_t slot, Change change)
{
    {
        ClippingStoreLock lock;
        if (!lock.ok()) {
            MessageBoxA(dlg, BUSY_STORE, APP_NAME, MB_OK | MB_ICONINFORMATION);
            return;
        }
        if (SlotHoldsClipping(slot, m_Shown[slot])) {
            change();
            return;
        }
    }
    TellChanged(dlg, slot);
}

// The name is not made unique, and the clipping's "LastUpdate" stays.
void CMDoRename(HWND dlg)
{
    uint32_t slot;
    char name[CLIPNAME_MAX + 1];
    if (!GetSelection(dlg, &slot, name) || !StillListed(dlg, slot) || !AskNewName(dlg, name))
        return;
    ChangeListed(dlg, slot, [&] {
        char section[16];
        FmtRegApp(section, sizeof section, slot);
        WriteSettingsStringA(section, "Name", name);
        FillList(dlg);
    });
}

void CMDoDelete(HWND dlg)
{
    uint32_t slot;
    char name[CLIPNAME_MAX + 1];
    if (!GetSelection(dlg, &slot, name) || !StillListed(dlg, slot) || !ConfirmDelete(dlg, name))
        return;
    ChangeListed(dlg, slot, [&] {
        DeleteLocalClip(slot);
        FillList(dlg);
    });
}

// Closes the manager even when the clipboard cannot be opened; returns the
// number of formats placed.
UINT CMDoCopy(HWND dlg)
{
    uint32_t slot;
    char name[CLIPNAME_MAX + 1];
    if (!GetSelection(dlg, &slot, name) || !StillListed(dlg, slot))
        return 0;
    UINT placed = OnRecallClipping(dlg, slot);
    CloseManager(dlg, 1, CHOICE_SETTING);
    return placed;
}

// An empty store offers to fetch the clippings kept in the cloud.
bool HasOrFetchesClippings(HWND dlg)
{
    if (HasClippings(dlg))
        return true;
    if (!m_Synchronise)
        return false;
    char question[150] = "";
    LoadStringA(gvGlobals.hInstance, IDS_DOWNLOADCLOUD, question, sizeof question);
    if (MessageBoxA(dlg, question, nullptr, MB_YESNO | MB_ICONINFORMATION) != IDYES)
        return false;
    m_Synchronise(dlg);
    return HasClippings(dlg);
}

void OnSync(HWND dlg)
{
    if (m_Synchronise)
        m_Synchronise(dlg);
    FillList(dlg);
}

void OnCopy(HWND dlg)
{
    CMDoCopy(dlg);
}

const ManagerKind LOCAL_MANAGER = {
    CHOICE_SETTING, BUTTONS, HasOrFetchesClippings, CMDoRename, CMDoDelete, OnCopy, OnSync,
};

INT_PTR CALLBACK CMDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM)
{
    return ManagerDlgProc(dlg, msg, wParam, LOCAL_MANAGER);
}

} // namespace

INT_PTR ClipMgrDialog(HWND parent)
{
    return DialogBoxParamA(gvGlobals.hInstance, MAKEINTRESOURCEA(IDD_CLIPMGR), parent, CMDlgProc, 0);
}

void SetClippingsSyncCommand(void (*synchronise)(HWND dlg))
{
    m_Synchronise = synchronise;
}
