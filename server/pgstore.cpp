#include "pgstore.h"

#include <cstdlib>

namespace {

// Instances starting together create the schema one at a time.
const char SCHEMA[] = "SELECT pg_advisory_lock(4711);"
                      "CREATE TABLE IF NOT EXISTS accounts ("
                      " id BIGINT PRIMARY KEY, name TEXT NOT NULL UNIQUE, key_hash TEXT NOT NULL);"
                      "CREATE TABLE IF NOT EXISTS clips ("
                      " id BIGINT PRIMARY KEY, owner BIGINT NOT NULL REFERENCES accounts(id),"
                      " name TEXT NOT NULL, date TEXT NOT NULL, state TEXT NOT NULL,"
                      " utf BYTEA NOT NULL DEFAULT '', rtf BYTEA NOT NULL DEFAULT '',"
                      " html BYTEA NOT NULL DEFAULT '');"
                      "CREATE INDEX IF NOT EXISTS clips_by_owner ON clips(owner, state, date DESC);"
                      "CREATE TABLE IF NOT EXISTS tokens ("
                      " digest BYTEA PRIMARY KEY, owner BIGINT NOT NULL REFERENCES accounts(id),"
                      " expires BIGINT NOT NULL);"
                      "CREATE TABLE IF NOT EXISTS failures ("
                      " key TEXT PRIMARY KEY, failures BIGINT NOT NULL, last BIGINT NOT NULL,"
                      " locked_until BIGINT NOT NULL);"
                      "CREATE INDEX IF NOT EXISTS failures_by_last ON failures(last);"
                      "SELECT pg_advisory_unlock(4711);";

const char ADD_ACCOUNT[] = "INSERT INTO accounts (id, name, key_hash) VALUES ($1, $2, $3)";
const char FIND_ACCOUNT[] = "SELECT id, key_hash FROM accounts WHERE name = $1";
const char HAS_ACCOUNT[] = "SELECT 1 FROM accounts WHERE id = $1";
const char COUNT_PRESENT[] = "SELECT count(*) FROM clips WHERE owner = $1 AND state = 'A'";
const char ADD_CLIP[] = "INSERT INTO clips (id, owner, name, date, state) VALUES ($1, $2, $3, $4, 'A')";
const char LIST_CLIPS[] =
    "SELECT id, name, date, state FROM clips WHERE owner = $1 ORDER BY state, date DESC";
const char CLIP_STATE[] = "SELECT state FROM clips WHERE id = $1 AND owner = $2 FOR UPDATE";
// Every change dates the clip later than before, a second later at least
// when the clock has not moved on: the date is the version clients compare.
#define NEXT_DATE(when)                                                                                      \
    "CASE WHEN " when " > date THEN " when " ELSE to_char(to_timestamp(date, 'YYYY-MM-DD HH24:MI:SS')"       \
    " + interval '1 second', 'YYYY-MM-DD HH24:MI:SS') END"
const char SET_PART[] = "UPDATE clips SET state = 'A', date = " NEXT_DATE(
    "$4::text") ","
                " utf = CASE $3::int WHEN 0 THEN $5::bytea ELSE utf END,"
                " rtf = CASE $3::int WHEN 0 THEN ''::bytea WHEN 1 THEN $5::bytea ELSE rtf END,"
                " html = CASE $3::int WHEN 0 THEN ''::bytea WHEN 2 THEN $5::bytea ELSE html END"
                " WHERE id = $1 AND owner = $2";
const char GET_SIZES[] = "SELECT length(utf), length(rtf), length(html) FROM clips"
                         " WHERE id = $1 AND owner = $2 AND state = 'A'";
const char GET_PART[] = "SELECT CASE $3::int WHEN 0 THEN utf WHEN 1 THEN rtf ELSE html END FROM clips"
                        " WHERE id = $1 AND owner = $2 AND state = 'A'";
const char RENAME[] = "UPDATE clips SET name = $3, date = " NEXT_DATE(
    "$4::text") " WHERE id = $1 AND owner = $2 AND state = 'A'";
const char DELETE[] = "UPDATE clips SET state = 'X', date = " NEXT_DATE(
    "$3::text") ", utf = '', rtf = '', html = '' WHERE id = $1 AND owner = $2 AND state = 'A'";
const char PRUNE_DELETED[] = "DELETE FROM clips WHERE owner = $1 AND state = 'X' AND id NOT IN"
                             " (SELECT id FROM clips WHERE owner = $1 AND state = 'X'"
                             " ORDER BY date DESC, id DESC LIMIT $2)";
const char ADD_TOKEN[] =
    "INSERT INTO tokens (digest, owner, expires) VALUES ($1, $2, $3)"
    " ON CONFLICT (digest) DO UPDATE SET owner = excluded.owner, expires = excluded.expires";
const char DROP_TOKENS[] = "DELETE FROM tokens WHERE owner = $1 AND expires < $2";
const char HAS_TOKEN[] = "SELECT 1 FROM tokens WHERE digest = $1 AND owner = $2 AND expires >= $3";
// The row is made first, so that FOR UPDATE has a row to lock.
const char NEW_FAILURES[] = "INSERT INTO failures (key, failures, last, locked_until) VALUES ($1, 0, 0, 0)"
                            " ON CONFLICT (key) DO NOTHING";
const char GET_FAILURES[] = "SELECT failures, last, locked_until FROM failures WHERE key = $1 FOR UPDATE";
const char PUT_FAILURES[] = "UPDATE failures SET failures = $2, last = $3, locked_until = $4 WHERE key = $1";
const char LOCKED_UNTIL[] = "SELECT locked_until FROM failures WHERE key = $1";
const char FORGET_FAILURES[] = "DELETE FROM failures WHERE last < $1 AND locked_until < $2";

// One parameter: text, or bytes sent as they are.
struct Param {
    Param(int64_t n) : text(std::to_string(n)) {}
    Param(const std::string &s, bool bytes = false) : text(s), binary(bytes) {}
    std::string text;
    bool binary = false;
};

Param Bytes(const std::string &s)
{
    return Param(s, true);
}

// A result that is cleared with it; `binary` results come as raw bytes.
class Result {
public:
    Result(PGconn *c, const char *sql, std::initializer_list<Param> params, bool binary = false)
    {
        std::vector<const char *> values;
        std::vector<int> lengths, formats;
        for (const Param &p : params) {
            values.push_back(p.text.data());
            lengths.push_back(int(p.text.size()));
            formats.push_back(p.binary);
        }
        m_result = PQexecParams(c, sql, int(values.size()), nullptr, values.data(), lengths.data(),
                                formats.data(), binary);
        const ExecStatusType status = PQresultStatus(m_result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const char *state = PQresultErrorField(m_result, PG_DIAG_SQLSTATE);
            const char *constraint = PQresultErrorField(m_result, PG_DIAG_CONSTRAINT_NAME);
            m_constraint = constraint ? constraint : "";
            const std::string what = PQerrorMessage(c);
            const int code = state ? int(strtol(state, nullptr, 36)) : -1;
            PQclear(m_result);
            throw StoreError(what + (m_constraint.empty() ? "" : " [" + m_constraint + "]"), code);
        }
    }
    ~Result() { PQclear(m_result); }
    Result(const Result &) = delete;
    Result &operator=(const Result &) = delete;
    int Rows() const { return PQntuples(m_result); }
    int64_t Changes() const { return atoll(PQcmdTuples(m_result)); }
    std::string At(int row, int column) const
    {
        return std::string(PQgetvalue(m_result, row, column), size_t(PQgetlength(m_result, row, column)));
    }
    int64_t IntAt(int row, int column) const { return atoll(PQgetvalue(m_result, row, column)); }

private:
    PGresult *m_result;
    std::string m_constraint;
};

// The SQLSTATE of a unique violation, as Result codes it.
const int UNIQUE_VIOLATION = int(strtol("23505", nullptr, 36));

void Exec(PGconn *c, const char *sql)
{
    PGresult *result = PQexec(c, sql);
    const ExecStatusType status = PQresultStatus(result);
    PQclear(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw StoreError(PQerrorMessage(c), -1);
}

// BEGIN now; anything but Commit rolls back.
class Transaction {
public:
    explicit Transaction(PGconn *c) : m_c(c) { Exec(c, "BEGIN"); }
    ~Transaction()
    {
        if (!m_done)
            PQclear(PQexec(m_c, "ROLLBACK"));
    }
    void Commit()
    {
        Exec(m_c, "COMMIT");
        m_done = true;
    }

private:
    PGconn *m_c;
    bool m_done = false;
};

int64_t CountPresent(PGconn *c, uint32_t user)
{
    return Result(c, COUNT_PRESENT, {user}).IntAt(0, 0);
}

bool HasAccount(PGconn *c, uint32_t user)
{
    return Result(c, HAS_ACCOUNT, {user}).Rows() == 1;
}

} // namespace

bool IsPostgresUrl(const std::string &database)
{
    return database.rfind("postgresql://", 0) == 0 || database.rfind("postgres://", 0) == 0;
}

// A connection of the pool for one call; a broken one is not given back.
class PgStore::Lease {
public:
    explicit Lease(PgStore &store) : m_store(store)
    {
        {
            std::lock_guard<std::mutex> lock(store.m_lock);
            if (!store.m_idle.empty()) {
                m_c = store.m_idle.back();
                store.m_idle.pop_back();
            }
        }
        if (!m_c || PQstatus(m_c) != CONNECTION_OK) {
            if (m_c)
                PQfinish(m_c);
            m_c = store.Connect();
        }
    }
    ~Lease()
    {
        if (PQstatus(m_c) != CONNECTION_OK || PQtransactionStatus(m_c) != PQTRANS_IDLE) {
            PQfinish(m_c);
            return;
        }
        std::lock_guard<std::mutex> lock(m_store.m_lock);
        m_store.m_idle.push_back(m_c);
    }
    Lease(const Lease &) = delete;
    Lease &operator=(const Lease &) = delete;
    PGconn *get() const { return m_c; }

private:
    PgStore &m_store;
    PGconn *m_c = nullptr;
};

PgStore::PgStore(const std::string &url) : m_url(url)
{
    Lease lease(*this);
    Exec(lease.get(), "SET client_min_messages = warning");
    Exec(lease.get(), SCHEMA);
}

PgStore::~PgStore()
{
    for (PGconn *c : m_idle)
        PQfinish(c);
}

PGconn *PgStore::Connect()
{
    PGconn *c = PQconnectdb(m_url.c_str());
    if (PQstatus(c) != CONNECTION_OK) {
        const std::string what = PQerrorMessage(c);
        PQfinish(c);
        throw StoreError("cannot connect to PostgreSQL: " + what, -1);
    }
    return c;
}

StoreResult PgStore::AddAccount(uint32_t id, const std::string &name, const std::string &keyHash)
{
    Lease lease(*this);
    try {
        Result(lease.get(), ADD_ACCOUNT, {id, name, keyHash});
    } catch (const StoreError &e) {
        if (e.code != UNIQUE_VIOLATION)
            throw;
        return std::string(e.what()).find("[accounts_pkey]") != std::string::npos ? StoreResult::IdTaken
                                                                                  : StoreResult::NameTaken;
    }
    return StoreResult::Ok;
}

bool PgStore::FindAccount(const std::string &name, uint32_t *id, std::string *keyHash)
{
    Lease lease(*this);
    Result result(lease.get(), FIND_ACCOUNT, {name});
    if (result.Rows() != 1)
        return false;
    *id = uint32_t(result.IntAt(0, 0));
    *keyHash = result.At(0, 1);
    return true;
}

StoreResult PgStore::AddClip(uint32_t user, uint32_t id, const std::string &name, const std::string &date,
                             int maxClips)
{
    Lease lease(*this);
    Transaction transaction(lease.get());
    // The account's row is locked, so that two instances cannot both add
    // the eleventh clip.
    if (Result(lease.get(), "SELECT 1 FROM accounts WHERE id = $1 FOR UPDATE", {user}).Rows() != 1)
        return StoreResult::NotFound;
    if (CountPresent(lease.get(), user) >= maxClips)
        return StoreResult::Full;
    try {
        Result(lease.get(), ADD_CLIP, {id, user, name, date});
    } catch (const StoreError &e) {
        if (e.code == UNIQUE_VIOLATION)
            return StoreResult::IdTaken;
        throw;
    }
    transaction.Commit();
    return StoreResult::Ok;
}

bool PgStore::ListClips(uint32_t user, std::vector<ClipEntry> *clips)
{
    Lease lease(*this);
    clips->clear();
    Result result(lease.get(), LIST_CLIPS, {user});
    for (int row = 0; row < result.Rows(); row++) {
        const std::string state = result.At(row, 3);
        clips->push_back({uint32_t(result.IntAt(row, 0)), result.At(row, 1), result.At(row, 2),
                          state.empty() ? 'A' : state[0]});
    }
    return !clips->empty() || HasAccount(lease.get(), user);
}

StoreResult PgStore::SetPart(uint32_t user, uint32_t id, ClipPart part, const std::string &value,
                             const std::string &date, int maxClips)
{
    Lease lease(*this);
    Transaction transaction(lease.get());
    if (Result(lease.get(), "SELECT 1 FROM accounts WHERE id = $1 FOR UPDATE", {user}).Rows() != 1)
        return StoreResult::NotFound;
    {
        Result state(lease.get(), CLIP_STATE, {id, user});
        if (state.Rows() != 1)
            return StoreResult::NotFound;
        if (state.At(0, 0) != "A" && CountPresent(lease.get(), user) >= maxClips)
            return StoreResult::Full;
    }
    Result(lease.get(), SET_PART, {id, user, int64_t(part), date, Bytes(value)});
    transaction.Commit();
    return StoreResult::Ok;
}

bool PgStore::GetSizes(uint32_t user, uint32_t id, ClipSizes *sizes)
{
    Lease lease(*this);
    Result result(lease.get(), GET_SIZES, {id, user});
    if (result.Rows() != 1)
        return false;
    *sizes = {size_t(result.IntAt(0, 0)), size_t(result.IntAt(0, 1)), size_t(result.IntAt(0, 2))};
    return true;
}

bool PgStore::GetPart(uint32_t user, uint32_t id, ClipPart part, std::string *value)
{
    Lease lease(*this);
    Result result(lease.get(), GET_PART, {id, user, int64_t(part)}, true);
    if (result.Rows() != 1)
        return false;
    *value = result.At(0, 0);
    return true;
}

bool PgStore::Rename(uint32_t user, uint32_t id, const std::string &name, const std::string &date)
{
    Lease lease(*this);
    return Result(lease.get(), RENAME, {id, user, name, date}).Changes() == 1;
}

bool PgStore::Delete(uint32_t user, uint32_t id, const std::string &date, int keepDeleted)
{
    Lease lease(*this);
    Transaction transaction(lease.get());
    if (Result(lease.get(), DELETE, {id, user, date}).Changes() != 1)
        return false;
    Result(lease.get(), PRUNE_DELETED, {user, keepDeleted});
    transaction.Commit();
    return true;
}

void PgStore::AddToken(uint32_t user, const std::string &digest, int64_t expires)
{
    Lease lease(*this);
    Transaction transaction(lease.get());
    Result(lease.get(), DROP_TOKENS, {user, expires - TOKEN_LIFE_SECONDS});
    Result(lease.get(), ADD_TOKEN, {Bytes(digest), user, expires});
    transaction.Commit();
}

bool PgStore::HasToken(uint32_t user, const std::string &digest, int64_t now)
{
    Lease lease(*this);
    return Result(lease.get(), HAS_TOKEN, {Bytes(digest), user, now}).Rows() == 1;
}

void PgStore::UpdateFailures(const std::string &key, const std::function<void(FailureRecord &)> &update)
{
    Lease lease(*this);
    Transaction transaction(lease.get());
    Result(lease.get(), NEW_FAILURES, {key});
    FailureRecord record;
    {
        Result get(lease.get(), GET_FAILURES, {key});
        record = {get.IntAt(0, 0), get.IntAt(0, 1), get.IntAt(0, 2)};
    }
    update(record);
    Result(lease.get(), PUT_FAILURES, {key, record.failures, record.last, record.lockedUntil});
    transaction.Commit();
}

int64_t PgStore::LockedUntil(const std::string &key)
{
    Lease lease(*this);
    Result get(lease.get(), LOCKED_UNTIL, {key});
    return get.Rows() == 1 ? get.IntAt(0, 0) : 0;
}

void PgStore::ForgetFailures(int64_t lastBefore, int64_t now)
{
    Lease lease(*this);
    Result(lease.get(), FORGET_FAILURES, {lastBefore, now});
}
