#include "throttle.h"

#include <algorithm>

namespace {

constexpr time_t FORGET_SECONDS = 3600;
constexpr size_t PRUNE_ABOVE = 100000;

} // namespace

// In whole seconds, inclusive: locked for at least the lock's length.
bool Throttle::Locked(const std::string &peer, time_t now)
{
    if (m_count.load() == 0)
        return false;
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_entries.find(peer);
    return it != m_entries.end() && it->second.lockedUntil >= now;
}

void Throttle::Failed(const std::string &peer, time_t now)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_entries.size() >= PRUNE_ABOVE)
        Prune(now);
    Entry &entry = m_entries.try_emplace(peer, Entry{0, now, 0}).first->second;
    if (now - entry.last > FORGET_SECONDS)
        entry.failures = 0;
    entry.failures++;
    entry.last = now;
    int beyond = entry.failures - m_freeFailures;
    if (beyond > 0)
        entry.lockedUntil = now + std::min<time_t>(time_t(1) << std::min(beyond - 1, 20), m_maxLockSeconds);
    m_count = m_entries.size();
}

bool RateLimit::Allow(const std::string &key, time_t now)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (now - m_windowStart >= m_windowSeconds) {
        m_windowStart = now;
        m_inWindow = 0;
        m_perWindow.clear();
    }
    int &count = m_perWindow[key];
    if (count >= m_perKey || m_inWindow >= m_total)
        return false;
    count++;
    m_inWindow++;
    return true;
}

void Throttle::Prune(time_t now)
{
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (now - it->second.last > FORGET_SECONDS && it->second.lockedUntil < now)
            it = m_entries.erase(it);
        else
            ++it;
    }
}
