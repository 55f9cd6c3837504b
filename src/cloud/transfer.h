#pragma once
// Moving one clipping between the local store and the service: its parts go
// up sealed and come down opened, or rotated back when they went up
// scrambled, before clippings were sealed.
#include "clipcrypt.h"
#include "syncproto.h"
#include <windows.h>

// Uploads the clipping of a slot (clipId -1: as a new cloud clip, created
// before its parts are sealed, with its id); 1 when every part arrived, 0
// otherwise.
int PostClipToCloud(int32_t userId, int32_t clipId, uint32_t slot, const CloudKeys &keys,
                    UploadResult *result);
// Without a window the clip goes into the store (replacing one of its name),
// with one onto the clipboard. Returns 1 when the clip landed there, 0 when
// its sizes could not be had (or no memory for it), and CLIP_DATA_FAILED
// when the sizes came but the clip did not land: a data request failed, a
// part that was announced did not arrive whole, or the store (full) or the
// clipboard refused it. CLIP_NOT_OPENED when a sealed part did not open
// (another key, or changed on the service); *unopened then names it
// ("text", "rich text" or "HTML"). Nothing is stored or placed then.
#define CLIP_DATA_FAILED 2
#define CLIP_NOT_OPENED 3
int GetClipFromCloud(int32_t userId, int32_t clipId, const char *name, const CloudKeys &keys, HWND hwnd,
                     const char **unopened);
// Downloads a clip into `slot`, or as a new clipping named `name` when
// `slot` is negative (StoreClippingInSlot); the slot, or -1 when nothing
// was stored (with *unopened set as above when a part did not open).
int DownloadClip(int32_t userId, int32_t clipId, const char *name, const CloudKeys &keys, int slot,
                 const char **unopened);
// UTF-16 <-> UTF-8 copies released with free(); their lengths (0: no copy).
size_t EncodeWtoC(const wchar_t *text, char **out);
size_t DecodeCtoW(const char *text, wchar_t **out);
