#include "throttle.h"

#include <algorithm>

namespace {

constexpr time_t FORGET_SECONDS = 3600;
constexpr time_t PRUNE_SECONDS = 600;

} // namespace

// In whole seconds, inclusive: locked for at least the lock's length.
bool Throttle::Locked(const std::string &key, time_t now)
{
    return m_store.LockedUntil(key) >= now;
}

void Throttle::Failed(const std::string &key, time_t now)
{
    m_store.UpdateFailures(key, [this, now](FailureRecord &record) { Count(record, now); });
    time_t due = m_nextPrune.load();
    if (now >= due && m_nextPrune.compare_exchange_strong(due, now + PRUNE_SECONDS))
        m_store.ForgetFailures(now - FORGET_SECONDS, now);
}

void Throttle::Count(FailureRecord &record, time_t now) const
{
    if (now - record.last > FORGET_SECONDS)
        record.failures = 0;
    record.failures++;
    record.last = now;
    const int64_t beyond = record.failures - m_freeFailures;
    if (beyond > 0)
        record.lockedUntil =
            now + std::min<int64_t>(int64_t(1) << std::min<int64_t>(beyond - 1, 20), m_maxLockSeconds);
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
