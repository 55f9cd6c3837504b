#pragma once
// The synchronisation of the local clippings with the service: its
// decisions and its run, with the store, the service and the progress
// behind small interfaces. Portable: no <windows.h>.
//
// Each clipping keeps a mark of its last complete transfer: the cloud clip
// it belongs to, that clip's date in the cloud then and the clipping's
// "LastUpdate" then. A local change is a "LastUpdate" that differs from the
// mark's, a cloud change a cloud date that differs from the mark's: dates
// of the PC's clock are only ever compared with dates of the PC's clock,
// and the service's with the service's.
#include <cstdint>
#include <string>
#include <vector>

struct SyncMark {
    int32_t cloudId = 0;     // 0: never synchronised
    std::string cloudDate;   // the clip's date in the cloud after the transfer
    std::string localUpdate; // the clipping's "LastUpdate" then; empty after an upload cut short
};

struct SyncLocal {
    uint32_t slot = 0;
    std::string name, lastUpdate;
    bool marked = false; // false: stored before clippings kept a mark
    SyncMark mark;
};

struct SyncCloud {
    int32_t id = 0;
    std::string name, date;
    char state = 'A'; // 'A' present, 'X' deleted
};

// The clippings of this PC.
class SyncStore {
public:
    virtual ~SyncStore() = default;
    virtual std::vector<SyncLocal> Load() = 0;
    virtual void Mark(uint32_t slot, const SyncMark &mark) = 0;
    virtual bool Delete(uint32_t slot) = 0;
    // Gives a clipping a name the cloud does not have yet.
    virtual bool Rename(uint32_t slot, const std::string &name) = 0;
};

// The account's clips on the service.
class SyncCloudApi {
public:
    virtual ~SyncCloudApi() = default;
    // False when no whole list could be had.
    virtual bool List(std::vector<SyncCloud> *clips) = 0;
    // Uploads the clipping of `slot` onto clip `id`, or as a new clip when
    // `id` is 0 (its id goes into *created as soon as it exists); true when
    // every part arrived.
    virtual bool Upload(uint32_t slot, int32_t id, int32_t *created) = 0;
    // Stores clip `id` into `slot`, or as a new clipping named `name` when
    // `slot` is negative; the slot it went into, and its "LastUpdate". False
    // when nothing was stored.
    virtual bool Download(int32_t id, const std::string &name, int slot, uint32_t *landed,
                          std::string *lastUpdate) = 0;
    virtual bool Rename(int32_t id, const std::string &name) = 0;
};

// What a run did, for the summary.
struct SyncReport {
    unsigned uploaded = 0, downloaded = 0, deleted = 0, unchanged = 0, skipped = 0;
    std::vector<std::string> failed;    // clippings whose transfer failed
    std::vector<std::string> conflicts; // changed on both sides: both kept
    std::vector<std::string> unsolved;  // changed on both sides, no room for both
};

// Told before each step: its text (with %s for the name) and the percentage.
using SyncStep = void (*)(void *context, const char *format, const std::string &name, int percent);

// One run. `lastSync` is the old root "LastSync", used only for clippings
// stored before marks existed, which are paired by name once. False when
// the cloud's clips could not be listed: nothing was done.
bool RunSynchronisation(SyncStore &store, SyncCloudApi &cloud, const std::string &lastSync, SyncStep step,
                        void *context, SyncReport *report);
