#include "accounts.h"

#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

constexpr uint32_t MAX_ID = 9999999;
constexpr size_t MAX_SESSIONS = 100000;
constexpr int ID_ATTEMPTS = 32;

// A turn at hashing, or none when all slots are busy.
// One of the few hashes computed at once, waited for up to `waitMs`.
class HashSlot {
public:
    HashSlot(std::atomic<int> &busy, int slots, int waitMs) : m_busy(busy)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (!(m_ok = m_busy.fetch_add(1) < slots)) {
            m_busy.fetch_sub(1);
            if (std::chrono::steady_clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~HashSlot()
    {
        if (m_ok)
            m_busy.fetch_sub(1);
    }
    HashSlot(const HashSlot &) = delete;
    HashSlot &operator=(const HashSlot &) = delete;
    bool ok() const { return m_ok; }

private:
    std::atomic<int> &m_busy;
    bool m_ok = false;
};

} // namespace

uint32_t RandomId()
{
    return randombytes_uniform(MAX_ID) + 1;
}

Accounts::Accounts(Store &store, const AccountConfig &config) : m_store(store), m_config(config)
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot start");
    crypto_generichash_keygen(m_secret);
}

AccountResult Accounts::Knock(const std::string &name, const std::string &key)
{
    const std::string digest = SessionDigest(name, key);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        auto it = m_sessions.find(digest);
        if (it != m_sessions.end())
            return {AccountStatus::Ok, it->second};
    }
    uint32_t id = 0;
    std::string hash;
    if (!m_store.FindAccount(name, &id, &hash))
        return {AccountStatus::WrongNameOrKey, 0};
    // A user signing in waits a moment for a slot that new accounts hold.
    HashSlot slot(m_hashing, m_config.hashSlots, m_config.knockWaitMs);
    if (!slot.ok())
        return {AccountStatus::Busy, 0};
    if (crypto_pwhash_str_verify(hash.c_str(), key.data(), key.size()) != 0)
        return {AccountStatus::WrongNameOrKey, 0};
    Remember(digest, id);
    return {AccountStatus::Ok, id};
}

AccountResult Accounts::Open(const std::string &name, const std::string &key)
{
    uint32_t existing = 0;
    std::string hash;
    if (m_store.FindAccount(name, &existing, &hash))
        return {AccountStatus::NameTaken, 0};
    HashSlot slot(m_hashing, m_config.hashSlots, 0);
    char stored[crypto_pwhash_STRBYTES];
    if (!slot.ok() ||
        crypto_pwhash_str(stored, key.data(), key.size(), m_config.opsLimit, m_config.memLimit) != 0)
        return {AccountStatus::Busy, 0};
    for (int attempt = 0; attempt < ID_ATTEMPTS; attempt++) {
        const uint32_t id = RandomId();
        StoreResult result = m_store.AddAccount(id, name, stored);
        if (result == StoreResult::NameTaken)
            return {AccountStatus::NameTaken, 0};
        if (result == StoreResult::Ok) {
            Remember(SessionDigest(name, key), id);
            return {AccountStatus::Ok, id};
        }
    }
    return {AccountStatus::Busy, 0};
}

// The name's length goes first, so that no other split of the same bytes
// into name and key gives the same digest.
std::string Accounts::SessionDigest(const std::string &name, const std::string &key) const
{
    const uint64_t nameLength = name.size();
    unsigned char digest[crypto_generichash_BYTES];
    crypto_generichash_state state;
    crypto_generichash_init(&state, m_secret, sizeof m_secret, sizeof digest);
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(&nameLength),
                              sizeof nameLength);
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(name.data()), name.size());
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(key.data()), key.size());
    crypto_generichash_final(&state, digest, sizeof digest);
    return std::string(reinterpret_cast<const char *>(digest), sizeof digest);
}

void Accounts::Remember(const std::string &digest, uint32_t id)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_sessions.size() >= MAX_SESSIONS)
        m_sessions.clear();
    m_sessions[digest] = id;
}
