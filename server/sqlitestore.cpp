#include "sqlitestore.h"

#include <sqlite3.h>
#include <unordered_map>

namespace {

const char SCHEMA[] = "CREATE TABLE IF NOT EXISTS accounts ("
                      " id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, key_hash TEXT NOT NULL);"
                      "CREATE TABLE IF NOT EXISTS clips ("
                      " id INTEGER PRIMARY KEY, owner INTEGER NOT NULL REFERENCES accounts(id),"
                      " name TEXT NOT NULL, date TEXT NOT NULL, state TEXT NOT NULL,"
                      " utf BLOB NOT NULL DEFAULT x'', rtf BLOB NOT NULL DEFAULT x'',"
                      " html BLOB NOT NULL DEFAULT x'');"
                      "CREATE INDEX IF NOT EXISTS clips_by_owner ON clips(owner, state, date DESC);"
                      "CREATE TABLE IF NOT EXISTS tokens ("
                      " digest BLOB PRIMARY KEY, owner INTEGER NOT NULL REFERENCES accounts(id),"
                      " expires INTEGER NOT NULL);"
                      "CREATE TABLE IF NOT EXISTS failures ("
                      " key TEXT PRIMARY KEY, failures INTEGER NOT NULL, last INTEGER NOT NULL,"
                      " locked_until INTEGER NOT NULL);"
                      "CREATE INDEX IF NOT EXISTS failures_by_last ON failures(last);";

// Statements are cached per connection under these addresses.
const char ADD_ACCOUNT[] = "INSERT INTO accounts (id, name, key_hash) VALUES (?1, ?2, ?3)";
const char FIND_ACCOUNT[] = "SELECT id, key_hash FROM accounts WHERE name = ?1";
const char HAS_ACCOUNT[] = "SELECT 1 FROM accounts WHERE id = ?1";
const char ADD_TOKEN[] = "INSERT OR REPLACE INTO tokens (digest, owner, expires) VALUES (?1, ?2, ?3)";
const char DROP_TOKENS[] = "DELETE FROM tokens WHERE owner = ?1 AND expires < ?2";
const char HAS_TOKEN[] = "SELECT 1 FROM tokens WHERE digest = ?1 AND owner = ?2 AND expires >= ?3";
const char GET_FAILURES[] = "SELECT failures, last, locked_until FROM failures WHERE key = ?1";
const char PUT_FAILURES[] =
    "INSERT OR REPLACE INTO failures (key, failures, last, locked_until) VALUES (?1, ?2, ?3, ?4)";
const char LOCKED_UNTIL[] = "SELECT locked_until FROM failures WHERE key = ?1";
const char FORGET_FAILURES[] = "DELETE FROM failures WHERE last < ?1 AND locked_until < ?2";
const char COUNT_PRESENT[] = "SELECT count(*) FROM clips WHERE owner = ?1 AND state = 'A'";
const char ADD_CLIP[] = "INSERT INTO clips (id, owner, name, date, state) VALUES (?1, ?2, ?3, ?4, 'A')";
// In the order of the index, without a sort.
const char LIST_CLIPS[] =
    "SELECT id, name, date, state FROM clips WHERE owner = ?1 ORDER BY state, date DESC";
const char CLIP_STATE[] = "SELECT state FROM clips WHERE id = ?1 AND owner = ?2";
// Every change dates the clip later than before, a second later at least
// when the clock has not moved on (or went back): the date is the version
// that clients compare.
#define NEXT_DATE(when)                                                                                      \
    "CASE WHEN " when " > date THEN " when " ELSE strftime('%Y-%m-%d %H:%M:%S', date, '+1 second') END"
const char SET_PART[] = "UPDATE clips SET state = 'A', date = " NEXT_DATE(
    "?4") ","
          " utf = CASE ?3 WHEN 0 THEN ?5 ELSE utf END,"
          " rtf = CASE ?3 WHEN 0 THEN x'' WHEN 1 THEN ?5 ELSE rtf END,"
          " html = CASE ?3 WHEN 0 THEN x'' WHEN 2 THEN ?5 ELSE html END"
          " WHERE id = ?1 AND owner = ?2";
const char GET_SIZES[] = "SELECT length(utf), length(rtf), length(html) FROM clips"
                         " WHERE id = ?1 AND owner = ?2 AND state = 'A'";
const char GET_PART[] = "SELECT CASE ?3 WHEN 0 THEN utf WHEN 1 THEN rtf ELSE html END FROM clips"
                        " WHERE id = ?1 AND owner = ?2 AND state = 'A'";
const char RENAME[] =
    "UPDATE clips SET name = ?3, date = " NEXT_DATE("?4") " WHERE id = ?1 AND owner = ?2 AND state = 'A'";
const char DELETE[] =
    "UPDATE clips SET state = 'X', date = " NEXT_DATE("?3") ", utf = x'', rtf = x'', html = x''"
                                                            " WHERE id = ?1 AND owner = ?2 AND state = 'A'";
const char PRUNE_DELETED[] = "DELETE FROM clips WHERE owner = ?1 AND state = 'X' AND id NOT IN"
                             " (SELECT id FROM clips WHERE owner = ?1 AND state = 'X'"
                             " ORDER BY date DESC, id DESC LIMIT ?2)";

} // namespace

class SqliteStore::Connection {
public:
    explicit Connection(const std::string &path)
    {
        int rc = sqlite3_open_v2(path.c_str(), &m_db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_extended_result_codes(m_db, 1);
            sqlite3_busy_timeout(m_db, 10000);
            rc = sqlite3_exec(m_db, "PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON", nullptr, nullptr,
                              nullptr);
        }
        if (rc != SQLITE_OK) {
            StoreError error(path + ": " + (m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc)), rc);
            sqlite3_close(m_db);
            throw error;
        }
    }
    ~Connection()
    {
        for (auto &statement : m_statements)
            sqlite3_finalize(statement.second);
        sqlite3_close(m_db);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    void Exec(const char *sql)
    {
        int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            Throw(rc);
    }
    void Rollback() noexcept { sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr); }
    sqlite3_stmt *Statement(const char *sql)
    {
        sqlite3_stmt *&statement = m_statements[sql];
        if (!statement) {
            int rc = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
            if (rc != SQLITE_OK)
                Throw(rc);
        }
        return statement;
    }
    int Changes() { return sqlite3_changes(m_db); }
    [[noreturn]] void Throw(int rc) { throw StoreError(sqlite3_errmsg(m_db), rc); }

private:
    sqlite3 *m_db = nullptr;
    std::unordered_map<const char *, sqlite3_stmt *> m_statements;
};

// A connection borrowed for one call; opened when none is free.
class SqliteStore::Lease {
public:
    explicit Lease(SqliteStore &store) : m_store(store)
    {
        {
            std::lock_guard<std::mutex> lock(store.m_lock);
            if (!store.m_idle.empty()) {
                m_connection = std::move(store.m_idle.back());
                store.m_idle.pop_back();
            }
        }
        if (!m_connection)
            m_connection = std::make_unique<Connection>(store.m_path);
    }
    ~Lease()
    {
        std::lock_guard<std::mutex> lock(m_store.m_lock);
        m_store.m_idle.push_back(std::move(m_connection));
    }
    Lease(const Lease &) = delete;
    Lease &operator=(const Lease &) = delete;
    Connection &operator*() const { return *m_connection; }
    Connection *operator->() const { return m_connection.get(); }

private:
    SqliteStore &m_store;
    std::unique_ptr<Connection> m_connection;
};

namespace {

// One use of a cached statement. Bound texts are not copied: they must
// outlive the query, which clears its bindings when it ends.
class Query {
public:
    Query(SqliteStore::Connection &connection, const char *sql)
        : m_connection(connection), m_statement(connection.Statement(sql))
    {
    }
    ~Query()
    {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
    Query(const Query &) = delete;
    Query &operator=(const Query &) = delete;

    Query &Int(int index, int64_t value) { return Check(sqlite3_bind_int64(m_statement, index, value)); }
    Query &Text(int index, const std::string &value)
    {
        return Check(sqlite3_bind_text(m_statement, index, value.data(), int(value.size()), SQLITE_STATIC));
    }
    Query &Blob(int index, const std::string &value)
    {
        return Check(sqlite3_bind_blob(m_statement, index, value.data(), int(value.size()), SQLITE_STATIC));
    }
    // True for a row, false when the statement is done.
    bool Step()
    {
        int rc = sqlite3_step(m_statement);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            m_connection.Throw(rc);
        return rc == SQLITE_ROW;
    }
    int64_t IntAt(int column) { return sqlite3_column_int64(m_statement, column); }
    std::string BytesAt(int column)
    {
        const void *data = sqlite3_column_blob(m_statement, column);
        return data ? std::string(static_cast<const char *>(data),
                                  size_t(sqlite3_column_bytes(m_statement, column)))
                    : std::string();
    }

private:
    Query &Check(int rc)
    {
        if (rc != SQLITE_OK)
            m_connection.Throw(rc);
        return *this;
    }
    SqliteStore::Connection &m_connection;
    sqlite3_stmt *m_statement;
};

// BEGIN IMMEDIATE takes the write lock at once, so that the checks inside see
// what the change will apply to; anything but Commit rolls back.
class Transaction {
public:
    explicit Transaction(SqliteStore::Connection &connection) : m_connection(connection)
    {
        connection.Exec("BEGIN IMMEDIATE");
    }
    ~Transaction()
    {
        if (!m_done)
            m_connection.Rollback();
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void Commit()
    {
        m_connection.Exec("COMMIT");
        m_done = true;
    }

private:
    SqliteStore::Connection &m_connection;
    bool m_done = false;
};

bool HasAccount(SqliteStore::Connection &c, uint32_t user)
{
    return Query(c, HAS_ACCOUNT).Int(1, user).Step();
}

int64_t CountPresent(SqliteStore::Connection &c, uint32_t user)
{
    Query count(c, COUNT_PRESENT);
    count.Int(1, user).Step();
    return count.IntAt(0);
}

} // namespace

SqliteStore::SqliteStore(const std::string &path) : m_path(path)
{
    Lease lease(*this);
    lease->Exec("PRAGMA journal_mode=WAL");
    lease->Exec(SCHEMA);
}

SqliteStore::~SqliteStore() = default;

StoreResult SqliteStore::AddAccount(uint32_t id, const std::string &name, const std::string &keyHash)
{
    Lease lease(*this);
    try {
        Query(*lease, ADD_ACCOUNT).Int(1, id).Text(2, name).Text(3, keyHash).Step();
    } catch (const StoreError &e) {
        if (e.code == SQLITE_CONSTRAINT_PRIMARYKEY)
            return StoreResult::IdTaken;
        if (e.code == SQLITE_CONSTRAINT_UNIQUE)
            return StoreResult::NameTaken;
        throw;
    }
    return StoreResult::Ok;
}

bool SqliteStore::FindAccount(const std::string &name, uint32_t *id, std::string *keyHash)
{
    Lease lease(*this);
    Query query(*lease, FIND_ACCOUNT);
    if (!query.Text(1, name).Step())
        return false;
    *id = uint32_t(query.IntAt(0));
    *keyHash = query.BytesAt(1);
    return true;
}

StoreResult SqliteStore::AddClip(uint32_t user, uint32_t id, const std::string &name, const std::string &date,
                                 int maxClips)
{
    Lease lease(*this);
    Transaction transaction(*lease);
    if (!HasAccount(*lease, user))
        return StoreResult::NotFound;
    if (CountPresent(*lease, user) >= maxClips)
        return StoreResult::Full;
    try {
        Query(*lease, ADD_CLIP).Int(1, id).Int(2, user).Text(3, name).Text(4, date).Step();
    } catch (const StoreError &e) {
        if (e.code == SQLITE_CONSTRAINT_PRIMARYKEY)
            return StoreResult::IdTaken;
        throw;
    }
    transaction.Commit();
    return StoreResult::Ok;
}

bool SqliteStore::ListClips(uint32_t user, std::vector<ClipEntry> *clips)
{
    Lease lease(*this);
    clips->clear();
    Query query(*lease, LIST_CLIPS);
    query.Int(1, user);
    while (query.Step()) {
        std::string state = query.BytesAt(3);
        clips->push_back(
            {uint32_t(query.IntAt(0)), query.BytesAt(1), query.BytesAt(2), state.empty() ? 'A' : state[0]});
    }
    return !clips->empty() || HasAccount(*lease, user);
}

StoreResult SqliteStore::SetPart(uint32_t user, uint32_t id, ClipPart part, const std::string &value,
                                 const std::string &date, int maxClips)
{
    Lease lease(*this);
    Transaction transaction(*lease);
    {
        Query state(*lease, CLIP_STATE);
        if (!state.Int(1, id).Int(2, user).Step())
            return StoreResult::NotFound;
        if (state.BytesAt(0) != "A" && CountPresent(*lease, user) >= maxClips)
            return StoreResult::Full;
    }
    Query(*lease, SET_PART).Int(1, id).Int(2, user).Int(3, int(part)).Text(4, date).Blob(5, value).Step();
    transaction.Commit();
    return StoreResult::Ok;
}

bool SqliteStore::GetSizes(uint32_t user, uint32_t id, ClipSizes *sizes)
{
    Lease lease(*this);
    Query query(*lease, GET_SIZES);
    if (!query.Int(1, id).Int(2, user).Step())
        return false;
    *sizes = {size_t(query.IntAt(0)), size_t(query.IntAt(1)), size_t(query.IntAt(2))};
    return true;
}

bool SqliteStore::GetPart(uint32_t user, uint32_t id, ClipPart part, std::string *value)
{
    Lease lease(*this);
    Query query(*lease, GET_PART);
    if (!query.Int(1, id).Int(2, user).Int(3, int(part)).Step())
        return false;
    *value = query.BytesAt(0);
    return true;
}

bool SqliteStore::Rename(uint32_t user, uint32_t id, const std::string &name, const std::string &date)
{
    Lease lease(*this);
    Query(*lease, RENAME).Int(1, id).Int(2, user).Text(3, name).Text(4, date).Step();
    return lease->Changes() == 1;
}

bool SqliteStore::Delete(uint32_t user, uint32_t id, const std::string &date, int keepDeleted)
{
    Lease lease(*this);
    Transaction transaction(*lease);
    Query(*lease, DELETE).Int(1, id).Int(2, user).Text(3, date).Step();
    if (lease->Changes() != 1)
        return false;
    Query(*lease, PRUNE_DELETED).Int(1, user).Int(2, keepDeleted).Step();
    transaction.Commit();
    return true;
}

void SqliteStore::AddToken(uint32_t user, const std::string &digest, int64_t expires)
{
    Lease lease(*this);
    Transaction transaction(*lease);
    Query(*lease, DROP_TOKENS).Int(1, user).Int(2, expires - TOKEN_LIFE_SECONDS).Step();
    Query(*lease, ADD_TOKEN).Blob(1, digest).Int(2, user).Int(3, expires).Step();
    transaction.Commit();
}

bool SqliteStore::HasToken(uint32_t user, const std::string &digest, int64_t now)
{
    Lease lease(*this);
    return Query(*lease, HAS_TOKEN).Blob(1, digest).Int(2, user).Int(3, now).Step();
}

void SqliteStore::UpdateFailures(const std::string &key, const std::function<void(FailureRecord &)> &update)
{
    Lease lease(*this);
    Transaction transaction(*lease);
    FailureRecord record;
    {
        Query get(*lease, GET_FAILURES);
        if (get.Text(1, key).Step())
            record = {get.IntAt(0), get.IntAt(1), get.IntAt(2)};
    }
    update(record);
    Query(*lease, PUT_FAILURES)
        .Text(1, key)
        .Int(2, record.failures)
        .Int(3, record.last)
        .Int(4, record.lockedUntil)
        .Step();
    transaction.Commit();
}

int64_t SqliteStore::LockedUntil(const std::string &key)
{
    Lease lease(*this);
    Query get(*lease, LOCKED_UNTIL);
    return get.Text(1, key).Step() ? get.IntAt(0) : 0;
}

void SqliteStore::ForgetFailures(int64_t lastBefore, int64_t now)
{
    Lease lease(*this);
    Query(*lease, FORGET_FAILURES).Int(1, lastBefore).Int(2, now).Step();
}
