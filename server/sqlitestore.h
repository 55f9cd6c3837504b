#pragma once
// The store in one SQLite file: write-ahead log with a full sync at every
// commit, so that a change acknowledged to a client survives a kill or a
// power cut. Each thread borrows its own connection for a call.
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include "store.h"

class SqliteStore : public Store {
public:
    explicit SqliteStore(const std::string &path);
    ~SqliteStore() override;
    SqliteStore(const SqliteStore &) = delete;
    SqliteStore &operator=(const SqliteStore &) = delete;

    StoreResult AddAccount(uint32_t id, const std::string &name, const std::string &keyHash) override;
    bool FindAccount(const std::string &name, uint32_t *id, std::string *keyHash) override;
    StoreResult AddClip(uint32_t user, uint32_t id, const std::string &name, const std::string &date,
                        int maxClips) override;
    bool ListClips(uint32_t user, std::vector<ClipEntry> *clips) override;
    StoreResult SetPart(uint32_t user, uint32_t id, ClipPart part, const std::string &value,
                        const std::string &date, int maxClips) override;
    bool GetSizes(uint32_t user, uint32_t id, ClipSizes *sizes) override;
    bool GetPart(uint32_t user, uint32_t id, ClipPart part, std::string *value) override;
    bool Rename(uint32_t user, uint32_t id, const std::string &name, const std::string &date) override;
    bool Delete(uint32_t user, uint32_t id, const std::string &date, int keepDeleted) override;
    void AddToken(uint32_t user, const std::string &digest, int64_t expires) override;
    bool HasToken(uint32_t user, const std::string &digest, int64_t now) override;
    void UpdateFailures(const std::string &key, const std::function<void(FailureRecord &)> &update) override;
    int64_t LockedUntil(const std::string &key) override;
    void ForgetFailures(int64_t lastBefore, int64_t now) override;

    class Connection; // one sqlite3 handle with its cached statements

private:
    class Lease;
    std::string m_path;
    std::mutex m_lock;
    std::vector<std::unique_ptr<Connection>> m_idle;
};
