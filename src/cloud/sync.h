#pragma once
// The synchronisation of the local clippings with the service, and its
// progress dialog (also used by the cloud manager's copy).
#include <windows.h>

struct CloudKeys;

// 1 when the run completed and its summary was shown, 0 otherwise.
int SyncClips(HWND owner);
HWND OpenSyncProgressDialog(HWND owner);
void UpdateSyncProgress(HWND dialog, const char *text, int percent);
void CloseSyncProgressDialog(HWND dialog);
// PrepareCloudKeys on a thread of its own, under the progress dialog, for a
// window that signs in: deriving the key takes a while the first time.
void PrepareCloudKeysBeside(HWND owner, CloudKeys *keys);
