#pragma once
// The clipping store: up to ten named clippings (Unicode text with optional
// rich-text and HTML variants) in the sections "Clip A".."Clip J" of the
// settings store. Every operation reloads what it needs from the registry.
#include "clipentry.h"
#include <windows.h>
#include "util/guards.h"

// Fills the table from the registry and the order table by name; returns the count.
uint32_t LoadClippingNames(ClippingEntry *table, uint32_t capacity, uint32_t *order);
// The section name "Clip %c" of a slot.
void FmtRegApp(char *buf, size_t size, uint32_t slot);

// The store's lock, shared by every running copy of the program and the
// synchronisation's thread: held around each read-modify-write.
class ClippingStoreLock {
public:
    ClippingStoreLock();
    ~ClippingStoreLock();
    ClippingStoreLock(const ClippingStoreLock &) = delete;
    ClippingStoreLock &operator=(const ClippingStoreLock &) = delete;
    // False when another holder kept it too long: change nothing then.
    bool ok() const { return m_owned; }

private:
    HANDLE m_mutex;
    bool m_owned;
};

// Told when the store is busy with another running copy's synchronisation.
#define BUSY_STORE "The clippings are being synchronized. Please try again in a moment."

// Whether the slot still holds the clipping of that name and date: another
// running copy may have deleted or replaced it since it was loaded.
bool SlotHoldsClipping(uint32_t slot, const ClippingEntry &expected);

// Whether fewer than ten clippings are stored.
BOOL MayStoreClipping();
// Stores (or with replace set, replaces by name) a clipping; returns the new
// number of clippings, 0 when nothing was stored (the store full, or busy
// with a synchronisation). Null variants are removed.
uint32_t StoreClipping(const char *name, BOOL replace, const wchar_t *text, const char *rtf,
                       const char *html);

// Stores a clipping into `slot` (replacing what is there, also in a full
// store), or as a new clipping under a unique name when `slot` is negative;
// the slot, or -1 when nothing was stored.
int StoreClippingInSlot(int slot, const char *name, const wchar_t *text, const char *rtf, const char *html);

// What the synchronisation kept of a clipping's last complete transfer, in
// the values "CloudID", "CloudDate" and "SyncedUpdate" of its section.
struct ClipSyncState {
    bool known;            // false: stored before these values existed
    int32_t cloudId;       // 0: never synchronised
    char cloudDate[32];    // the cloud clip's date after the transfer
    char syncedUpdate[32]; // the clipping's "LastUpdate" then
};
bool ReadClipSyncState(uint32_t slot, ClipSyncState *state);
void WriteClipSyncState(uint32_t slot, const ClipSyncState &state);

// A clipping's variants read from the store, in blocks ready for the clipboard.
struct StoredClipping {
    GlobalBlock text, rtf, html;
};
// Reads the slot's clipping (no block for a variant that is missing or
// empty); false when memory ran out.
bool ReadClipping(uint32_t slot, StoredClipping *clipping);
// Puts a clipping read before on the open clipboard, which the caller has
// saved with PrepUndo; returns the number of formats placed. Nothing to
// place leaves the clipboard as it was.
UINT RecallClipping(StoredClipping &clipping);
// Removes the slot's clipping (nothing while the store is busy); returns
// the number left, which "ClipCount" now holds.
DWORD DeleteLocalClip(uint32_t slot);
