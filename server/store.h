#pragma once
// What the sync service keeps: accounts and their clips. The service sees only
// this interface, so that a database server shared by several instances can
// stand in for the embedded file later. Every change is durable when the call
// returns; failures of the store itself throw StoreError.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

struct StoreError : std::runtime_error {
    StoreError(const std::string &what, int code) : std::runtime_error(what), code(code) {}
    int code;
};

enum class StoreResult { Ok, NotFound, NameTaken, IdTaken, Full };

// The parts of a clip, in the order of their columns.
enum class ClipPart { Utf, Rtf, Html };

struct ClipEntry {
    uint32_t id;
    std::string name;
    std::string date; // local time, "%Y-%m-%d %H:%M:%S"
    char state;       // 'A' present, 'X' deleted
};

// How long a session token lasts.
constexpr int64_t TOKEN_LIFE_SECONDS = 12 * 3600;

// The lockout's record of one key (an address, an account name).
struct FailureRecord {
    int64_t failures = 0;
    int64_t last = 0;        // seconds since the epoch
    int64_t lockedUntil = 0; // inclusive
};

struct ClipSizes {
    size_t utf, rtf, html;
};

class Store {
public:
    virtual ~Store() = default;

    // NameTaken or IdTaken when either is in use already.
    virtual StoreResult AddAccount(uint32_t id, const std::string &name, const std::string &keyHash) = 0;
    virtual bool FindAccount(const std::string &name, uint32_t *id, std::string *keyHash) = 0;

    // A present clip with empty parts. NotFound without the account, Full when
    // it holds `maxClips` present clips, IdTaken when `id` is in use.
    virtual StoreResult AddClip(uint32_t user, uint32_t id, const std::string &name, const std::string &date,
                                int maxClips) = 0;
    // Present clips, then deletions, each from the latest; false without the account.
    virtual bool ListClips(uint32_t user, std::vector<ClipEntry> *clips) = 0;
    // Sets one part and dates the clip. The text starts a new version of the
    // clip: it empties the other parts, which the client sends after it. A
    // deleted clip comes back, unless that would pass `maxClips` (Full).
    virtual StoreResult SetPart(uint32_t user, uint32_t id, ClipPart part, const std::string &value,
                                const std::string &date, int maxClips) = 0;
    // The calls below see present clips only.
    virtual bool GetSizes(uint32_t user, uint32_t id, ClipSizes *sizes) = 0;
    virtual bool GetPart(uint32_t user, uint32_t id, ClipPart part, std::string *value) = 0;
    virtual bool Rename(uint32_t user, uint32_t id, const std::string &name, const std::string &date) = 0;
    // Empties the clip and keeps it as a deletion dated `date`; only the
    // latest `keepDeleted` deletions of the account are kept.
    virtual bool Delete(uint32_t user, uint32_t id, const std::string &date, int keepDeleted) = 0;

    // Session tokens of an account, kept as digests until they expire (in
    // seconds since the epoch); adding one drops the account's expired ones.
    virtual void AddToken(uint32_t user, const std::string &digest, int64_t expires) = 0;
    virtual bool HasToken(uint32_t user, const std::string &digest, int64_t now) = 0;

    // Failures of guessers live here, so that instances sharing the store
    // count them together. `update` changes the record of `key` (a new one
    // is all zeros) while no other caller can.
    virtual void UpdateFailures(const std::string &key,
                                const std::function<void(FailureRecord &)> &update) = 0;
    virtual int64_t LockedUntil(const std::string &key) = 0;
    // Drops the records whose last failure came before `lastBefore` and
    // whose lock ended before `now`.
    virtual void ForgetFailures(int64_t lastBefore, int64_t now) = 0;
};
