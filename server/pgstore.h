#pragma once
// The store in a PostgreSQL database, shared by every instance of the
// service behind a load balancer: accounts, clips, tokens and the failures of guessers. Each thread
// borrows its own connection for a call; every change is committed before
// it is answered.
#include <libpq-fe.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include "store.h"

// Whether `database` names a PostgreSQL database ("postgresql://..." or
// "postgres://...") rather than an SQLite file.
bool IsPostgresUrl(const std::string &database);

class PgStore : public Store {
public:
    // Connects and creates or completes the schema; throws StoreError.
    explicit PgStore(const std::string &url);
    ~PgStore() override;
    PgStore(const PgStore &) = delete;
    PgStore &operator=(const PgStore &) = delete;

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

private:
    class Lease;
    PGconn *Connect();
    std::string m_url;
    std::mutex m_lock;
    std::vector<PGconn *> m_idle;
};
