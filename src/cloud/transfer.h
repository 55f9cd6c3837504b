#pragma once
// Moving one clipping between the local store and the service, scrambled.
#include "syncproto.h"
#include "wire.h"
#include <windows.h>

// The rotation key of the account key in the settings; its length, 0 for an
// account key without letters and digits (contents then travel unrotated).
uint32_t PrepareROLString(uint8_t *key, uint32_t size);
// Uploads the clipping of a slot (clipId -1: as a new cloud clip); 1 when
// every part arrived, 0 otherwise (SyncUploadClip).
int PostClipToCloud(int32_t userId, int32_t clipId, uint32_t slot, const uint8_t *key, uint32_t keyLen,
                    UploadResult *result);
// Without a window the clip goes into the store (replacing one of its name),
// with one onto the clipboard. Returns 1 when the clip landed there, 0 when
// its sizes could not be had (or no memory for it), and CLIP_DATA_FAILED
// when the sizes came but the clip did not land: a data request failed, a
// part that was announced did not arrive whole, or the store (full) or the
// clipboard refused it. Nothing is stored or placed then.
#define CLIP_DATA_FAILED 2
int GetClipFromCloud(int32_t userId, int32_t clipId, const char *name, const uint8_t *key, uint32_t keyLen,
                     HWND hwnd);
// Downloads a clip into `slot`, or as a new clipping named `name` when
// `slot` is negative (StoreClippingInSlot); the slot, or -1 when nothing
// was stored.
int DownloadClip(int32_t userId, int32_t clipId, const char *name, const uint8_t *key, uint32_t keyLen,
                 int slot);
// UTF-16 <-> UTF-8 copies released with free(); their lengths (0: no copy).
size_t EncodeWtoC(const wchar_t *text, char **out);
size_t DecodeCtoW(const char *text, wchar_t **out);
