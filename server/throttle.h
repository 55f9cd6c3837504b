#pragma once
// Slows down guessing from one address. After `freeFailures` failures, every
// further failure locks the address out for twice as long as the one before,
// up to `maxLockSeconds`; an hour without failures forgets them.
#include <atomic>
#include <ctime>
#include <mutex>
#include <string>
#include <unordered_map>

class Throttle {
public:
    Throttle(int freeFailures, int maxLockSeconds)
        : m_freeFailures(freeFailures), m_maxLockSeconds(maxLockSeconds)
    {
    }
    bool Locked(const std::string &peer, time_t now);
    void Failed(const std::string &peer, time_t now);
    void Succeeded(const std::string &peer);

private:
    struct Entry {
        int failures;
        time_t last;
        time_t lockedUntil;
    };
    void Prune(time_t now);

    const int m_freeFailures;
    const int m_maxLockSeconds;
    std::mutex m_lock;
    std::unordered_map<std::string, Entry> m_entries;
    std::atomic<size_t> m_count{0}; // lets the common case skip the lock
};
