#pragma once
// Sync accounts: an account name and key give the user id. Keys are kept only
// as salted Argon2id hashes. Hashing is slow by design, so a key is verified
// once and the pair is then remembered in memory under a keyed BLAKE2b digest,
// which later knocks of the same client compare in microseconds; the secret
// of that digest is made at start-up and never leaves the process.
#include <sodium.h>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include "store.h"

struct AccountConfig {
    unsigned long long opsLimit = crypto_pwhash_OPSLIMIT_INTERACTIVE;
    size_t memLimit = crypto_pwhash_MEMLIMIT_INTERACTIVE;
    int hashSlots = 2;      // hashes computed at once; a request beyond that is told to retry
    int knockWaitMs = 2000; // how long a knock waits for a slot first
};

enum class AccountStatus { Ok, WrongNameOrKey, NameTaken, Busy };

struct AccountResult {
    AccountStatus status;
    uint32_t id;
};

// Account and clip ids: random, from 1 to 9,999,999 (the client keeps seven
// digits), so that one id tells nothing about the others.
uint32_t RandomId();

class Accounts {
public:
    Accounts(Store &store, const AccountConfig &config);
    AccountResult Knock(const std::string &name, const std::string &key);
    AccountResult Open(const std::string &name, const std::string &key);

private:
    std::string SessionDigest(const std::string &name, const std::string &key) const;
    void Remember(const std::string &digest, uint32_t id);

    Store &m_store;
    const AccountConfig m_config;
    unsigned char m_secret[crypto_generichash_KEYBYTES];
    std::atomic<int> m_hashing{0};
    std::mutex m_lock;
    std::unordered_map<std::string, uint32_t> m_sessions;
};
