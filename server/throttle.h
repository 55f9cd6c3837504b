#pragma once
// Slows down guessing. Failures are counted per key (an address, an account
// name) in the store, so that instances sharing it count them together;
// after `freeFailures` of them, every further failure locks the key out for
// twice as long as the one before, up to `maxLockSeconds`. A success erases
// nothing: only an hour without failures forgets them.
#include <atomic>
#include <ctime>
#include <mutex>
#include <string>
#include <unordered_map>
#include "store.h"

class Throttle {
public:
    Throttle(Store &store, int freeFailures, int maxLockSeconds)
        : m_store(store), m_freeFailures(freeFailures), m_maxLockSeconds(maxLockSeconds)
    {
    }
    bool Locked(const std::string &key, time_t now);
    void Failed(const std::string &key, time_t now);

private:
    void Count(FailureRecord &record, time_t now) const;

    Store &m_store;
    const int m_freeFailures;
    const int m_maxLockSeconds;
    std::atomic<time_t> m_nextPrune{0};
};

// Allows at most `perKey` events per key and `total` in all in each window
// of `windowSeconds` (new accounts per address and altogether).
class RateLimit {
public:
    RateLimit(int perKey, int total, int windowSeconds)
        : m_perKey(perKey), m_total(total), m_windowSeconds(windowSeconds)
    {
    }
    // Counts the event when it is allowed.
    bool Allow(const std::string &key, time_t now);

private:
    const int m_perKey, m_total, m_windowSeconds;
    std::mutex m_lock;
    time_t m_windowStart = 0;
    int m_inWindow = 0;
    std::unordered_map<std::string, int> m_perWindow;
};
