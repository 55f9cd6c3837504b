// The service over real sockets, spoken to byte for byte as the Windows
// client does: a GET with the form as query, or a POST whose body is followed
// by an uncounted CR LF; then a half-close, and the reply read to the end.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <thread>
#include "client.h"
#include "server.h"
#include "pgstore.h"
#include "sqlitestore.h"

namespace {

// The client's form encoding.
std::string Encode(const std::string &text)
{
    std::string out;
    for (unsigned char c : text) {
        char escape[4];
        snprintf(escape, sizeof escape, "%%%02X", c);
        out += isalnum(c) || strchr("-.*_", c) ? std::string(1, char(c)) : c == ' ' ? "+" : escape;
    }
    return out;
}

uint32_t Number(const std::string &said, const char *pattern)
{
    std::smatch match;
    EXPECT_TRUE(std::regex_match(said, match, std::regex(pattern))) << said;
    return match.empty() ? 0 : uint32_t(std::stoul(match[1]));
}

const std::string DATE = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d";
using Fields = std::vector<std::pair<std::string, std::string>>;

// Drops the service's tables; the next store creates them anew.
void EmptyPostgres(const std::string &url)
{
    PGconn *c = PQconnectdb(url.c_str());
    PQclear(PQexec(
        c, "SET client_min_messages = warning; DROP TABLE IF EXISTS failures, tokens, clips, accounts"));
    PQfinish(c);
}

// Every service test runs on both stores: SQLite, and the PostgreSQL server
// that scripts/test.sh starts and names in QUILLET_TEST_PG.
class SyncService : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        const char *pg = getenv("QUILLET_TEST_PG");
        if (GetParam() == "postgres" && !(pg && *pg))
            GTEST_SKIP() << "no PostgreSQL named in QUILLET_TEST_PG";
        m_database = GetParam() == "postgres" ? pg : m_path;
        m_config.accounts.opsLimit = crypto_pwhash_OPSLIMIT_MIN;
        m_config.accounts.memLimit = crypto_pwhash_MEMLIMIT_MIN;
        m_config.log = nullptr;
        m_config.freeFailures = 100;
        m_config.maxPart = 1000;
        Restart();
    }
    void TearDown() override { Restart(false); }
    // Stops the server, removes its database, and starts anew on an empty one.
    void Restart(bool serve = true)
    {
        m_server.reset();
        m_service.reset();
        m_store.reset();
        for (const char *suffix : {"", "-wal", "-shm"})
            remove((m_path + suffix).c_str());
        if (IsPostgresUrl(m_database))
            EmptyPostgres(m_database);
        if (!serve)
            return;
        m_store = NewStore();
        m_service = std::make_unique<Service>(*m_store, m_config);
        m_server = std::make_unique<Server>(*m_service, m_serverConfig);
        m_server->Start();
        m_port = m_server->Port();
    }
    // Another connection to the test's database, as a second instance has.
    std::unique_ptr<Store> NewStore()
    {
        if (IsPostgresUrl(m_database))
            return std::make_unique<PgStore>(m_database);
        return std::make_unique<SqliteStore>(m_path);
    }
    std::string Post(const std::string &form)
    {
        return Said(Exchange(
            m_port, std::string("POST ") + SYNC_PATH +
                        " HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(form.size()) +
                        "\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n" + form + "\r\n"));
    }
    // The client posts what may be long: accounts, new clips, their parts.
    std::string Sync(const Fields &fields)
    {
        std::string form = "Quillet=6.0.200";
        for (const auto &field : fields)
            form += "&" + Encode(field.first) + "=" + Encode(field.second);
        const std::string &act = fields[0].second;
        return act == "open" || act == "create" || act == "setdata"
                   ? Post(form)
                   : Said(Exchange(m_port, std::string("GET ") + SYNC_PATH + "?" + form +
                                               " HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    std::string Account(const char *act, const std::string &name, const std::string &key)
    {
        return Sync({{"act", act}, {"name", name}, {"key", key}});
    }
    // The status of knock or open as `service` answers it for `peer`.
    int AccountFrom(const std::string &peer, const char *act, const std::string &name, const std::string &key,
                    Service *service = nullptr)
    {
        HttpRequest request;
        request.method = "GET";
        request.path = SYNC_PATH;
        request.query = std::string("act=") + act + "&name=" + name + "&key=" + key;
        return (service ? service : m_service.get())->Handle(request, peer).status;
    }
    // Signs in; the account's id, its token kept for the requests after.
    uint32_t SignIn(const char *act, const std::string &name, const std::string &key)
    {
        std::smatch match;
        const std::string said = Account(act, name, key);
        if (!std::regex_match(said, match,
                              std::regex("200 <UserID>(\\d{1,7})</UserID><Token>([0-9a-f]{32})</Token>")))
            return 0;
        const uint32_t user = uint32_t(std::stoul(match[1].str()));
        m_tokens[user] = match[2].str();
        return user;
    }
    uint32_t Open(const std::string &name, const std::string &key) { return SignIn("open", name, key); }
    // `act` for `user` with the token of its sign-in, if any, and the extra fields.
    std::string Act(const char *act, uint32_t user, const Fields &extra = {})
    {
        Fields fields = {{"act", act}, {"UserID", std::to_string(user)}};
        const auto token = m_tokens.find(user); // no insertion: writers run side by side
        if (token != m_tokens.end())
            fields.push_back({"Token", token->second});
        fields.insert(fields.end(), extra.begin(), extra.end());
        return Sync(fields);
    }
    uint32_t Create(uint32_t user, const std::string &name)
    {
        return Number(Act("create", user, {{"ClipName", name}}), "200 DataID=(\\d{1,7})\r\n");
    }
    // `act` on clip `clip` of `user`, with the extra fields.
    std::string Clip(const char *act, uint32_t user, uint32_t clip, Fields extra = {})
    {
        extra.insert(extra.begin(), {"DataID", std::to_string(clip)});
        return Act(act, user, extra);
    }
    std::string SetText(uint32_t user, uint32_t clip, const std::string &text, const char *field = "ClipUTF")
    {
        return Clip("setdata", user, clip, {{"field", field}, {"data", text}});
    }
    std::string GetText(uint32_t user, uint32_t clip)
    {
        return Clip("getdata", user, clip, {{"field", "ClipUTF"}});
    }
    std::string List(uint32_t user) { return Act("list", user); }
    // Connections end on the service's side a moment after the client's.
    void WaitForConnections(int count)
    {
        for (int i = 0; i < 200 && m_server->Connections() != count; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(count, m_server->Connections());
    }

    const std::string m_path = testing::TempDir() + "sync-" + std::to_string(getpid()) + "-" +
                               std::to_string(std::hash<std::string>()(
                                   testing::UnitTest::GetInstance()->current_test_info()->name())) +
                               ".db";
    ServiceConfig m_config;
    // Four threads; bodies up to 4000 bytes.
    ServerConfig m_serverConfig{"127.0.0.1", 0, 4, {8192, 4000}};
    std::string m_database;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<Service> m_service;
    std::unique_ptr<Server> m_server;
    uint16_t m_port = 0;
    std::map<uint32_t, std::string> m_tokens;
};

} // namespace

// The update check and the replies byte for byte; a new text starts a new
// version (the other parts come after it); a deleted clip is listed as such,
// and a new part revives it. A clip's date is its version: every change, also
// within one second, dates it later than the one before.
TEST_P(SyncService, RoundTrip)
{
    EXPECT_EQ(Exchange(m_port, "GET /software/vercheck.php?app=Quillet HTTP/1.1\r\nHost: localhost\r\n\r\n"),
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 53\r\n\r\n"
              "RelDate=12 Feb 2018\r\nVmajor=6\r\nVminor=0\r\nVbuild=200\r\n");
    EXPECT_EQ(Said(Exchange(m_port, "GET /elsewhere?app=Quillet HTTP/1.1\r\n\r\n")), "404 not found");

    const uint32_t user = Open("alice", "key"), clip = Create(user, "Greeting");
    const std::string text = "Dear $$RN$$RN$all$$ at 5$ & 10%=", id = std::to_string(clip);
    std::string date;
    const auto listed = [&](const std::string &name, const char *state) {
        std::smatch match;
        const std::string list = List(user);
        ASSERT_TRUE(std::regex_match(list, match,
                                     std::regex("200 <Clips>\r\n" + id + "=" + name + ";(" + DATE + ");" +
                                                state + "\r\n</Clips>\r\n")))
            << list;
        EXPECT_GT(match[1].str(), date);
        date = match[1].str();
    };
    EXPECT_EQ(SetText(user, clip, text), "200 <SetData>1</SetData>");
    listed("Greeting", "A");
    SetText(user, clip, "<b>x</b>", "ClipHTML");
    listed("Greeting", "A");
    EXPECT_EQ(Clip("check", user, clip), "200 <Check>\r\nlenUTF=32\r\nlenRTF=0\r\nlenHTML=8\r\n</Check>\r\n");
    EXPECT_EQ(GetText(user, clip), "200 <Data>\r\nClipUTF=" + text + "\r\n</Data>\r\n");
    const std::string name = "O'Brien \"x\" --";
    EXPECT_EQ(Clip("rename", user, clip, {{"ClipName", name}}), "200 <Rename>1</Rename>");
    listed(name, "A");
    SetText(user, clip, "again");
    listed(name, "A");
    EXPECT_EQ(Clip("check", user, clip), "200 <Check>\r\nlenUTF=5\r\nlenRTF=0\r\nlenHTML=0\r\n</Check>\r\n");

    EXPECT_EQ(Clip("delete", user, clip), "200 <Delete>1</Delete>");
    listed(name, "X");
    EXPECT_EQ(Clip("check", user, clip), "404 no such clip");
    EXPECT_EQ(Clip("delete", user, clip), "404 no such clip");
    SetText(user, clip, "{}", "ClipRTF");
    listed(name, "A");
    EXPECT_EQ(Clip("check", user, clip), "200 <Check>\r\nlenUTF=0\r\nlenRTF=2\r\nlenHTML=0\r\n</Check>\r\n");
}

// The client reads the list into 1024 bytes: present clips must come first.
TEST_P(SyncService, ListFitsTheClientBufferWithPresentClipsFirst)
{
    m_config.maxClips = 16;
    Restart();
    const uint32_t user = Open("many", "key");
    std::vector<uint32_t> clips;
    for (int i = 0; i < 16; i++)
        clips.push_back(Create(user, std::string(29, 'a' + i) + "xy"));
    EXPECT_EQ(Act("create", user, {{"ClipName", "one more"}}), "403 clip limit reached");
    Clip("delete", user, clips[3]);
    Clip("delete", user, clips[7]);
    const std::string list = List(user);
    EXPECT_LE(list.size(), 4 + 1023u);
    EXPECT_TRUE(
        std::regex_match(list, std::regex("200 <Clips>\r\n(\\d+=\\w{31};" + DATE +
                                          ";A\r\n){14}(\\d+=\\w{31};" + DATE + ";X\r\n)*</Clips>\r\n")))
        << list;
    // Reviving a deletion counts against the limit like a new clip.
    Create(user, "fifteen");
    Create(user, "sixteen");
    EXPECT_EQ(SetText(user, clips[3], "x"), "403 clip limit reached");
}

// Account names and keys that would break SQL, a taken name, a wrong key;
// hostile requests are rejected and change nothing.
TEST_P(SyncService, HostileInputIsRejectedAndNothingStored)
{
    const std::string hostile = "Robert'); DROP TABLE accounts;--";
    const uint32_t user = Open("alice", "key"), intruder = Open(hostile, "k'--");
    ASSERT_TRUE(user > 0 && intruder > 0 && user != intruder);
    EXPECT_EQ(Account("open", "alice", "x"), "409 account name taken");
    EXPECT_EQ(SignIn("knock", hostile, "k'--"), intruder);
    EXPECT_EQ(Account("knock", "alice", "key two"), "403 wrong account name or key");
    EXPECT_EQ(Sync({{"act", "knock"}, {"name", "alice"}}), "400 missing or malformed key");
    EXPECT_EQ(Account("open", "new\nline", "k"), "400 missing or malformed name");
    const uint32_t clip = Create(user, "x' OR '1'='1");
    SetText(user, clip, "secret");
    const std::string set = "act=setdata&UserID=" + std::to_string(user) + "&Token=" + m_tokens[user] +
                            "&DataID=" + std::to_string(clip);
    EXPECT_EQ(Post(set + "&field=ClipUTF&data=%zz"), "400 malformed form data");
    EXPECT_EQ(Post(set + "&field=ClipUTF&data=" + std::string(1001, 'a')), "413 clip part too large");
    EXPECT_EQ(Post(set + "&field=ClipUTF&data=" + std::string(5000000, 'a')), "413 request too large");
    EXPECT_EQ(Post(set + "&field=ClipPNG&data=a"), "400 missing or malformed field");
    EXPECT_EQ(Clip("delete", intruder, clip), "404 no such clip");
    EXPECT_EQ(GetText(intruder, clip), "404 no such clip");
    EXPECT_EQ(SetText(intruder, clip, "mine"), "404 no such clip");
    EXPECT_EQ(List(9999999), "403 missing or expired Token");
    // Another account's id with one's own token reads and changes nothing.
    m_tokens[user] = m_tokens[intruder];
    for (const std::string &said :
         {List(user), GetText(user, clip), SetText(user, clip, "mine"),
          Clip("rename", user, clip, {{"ClipName", "mine"}}), Clip("delete", user, clip)})
        EXPECT_EQ(said, "403 missing or expired Token");
    m_tokens.erase(user);
    EXPECT_EQ(List(user), "403 missing or expired Token");
    SignIn("knock", "alice", "key");
    EXPECT_EQ(GetText(user, clip), "200 <Data>\r\nClipUTF=secret\r\n</Data>\r\n");
    EXPECT_EQ(List(12345678), "400 missing or malformed UserID");
    EXPECT_EQ(Clip("check", user, 0), "400 missing or malformed DataID");
    EXPECT_EQ(Sync({{"act", "dump"}}), "400 unknown act");
    for (const char *name : {"semi;colon", "32 characters long, one too many", "</Clips>", "a<b", "a>b"})
        EXPECT_EQ(Clip("rename", user, clip, {{"ClipName", name}}), "400 missing or malformed ClipName");
    EXPECT_EQ(Said(Exchange(m_port, "PUT /software/quillet/qlsync.php HTTP/1.1\r\n\r\n")),
              "405 method not allowed");
    EXPECT_EQ(Said(Exchange(m_port, "GET /x HTTP/1.1\r\nContent-Length: 9\r\n\r\nshort")),
              "400 request ended early");

    EXPECT_NE(List(user).find(std::to_string(clip) + "=x' OR '1'='1;"), std::string::npos);
    EXPECT_EQ(GetText(user, clip), "200 <Data>\r\nClipUTF=secret\r\n</Data>\r\n");
    EXPECT_EQ(List(intruder), "200 <Clips />");
}

// Wrong keys and unknown ids alike lock the address out, for a while only.
TEST_P(SyncService, FailuresFromOneAddressAreSlowedDown)
{
    m_config.freeFailures = 2;
    Restart();
    Open("alice", "key");
    for (int i = 0; i < 2; i++)
        EXPECT_EQ(Account("knock", "alice", "guess"), "403 wrong account name or key");
    EXPECT_EQ(List(1), "403 missing or expired Token");
    EXPECT_EQ(Account("knock", "alice", "key"), "429 too many failed attempts, try again later");
    EXPECT_EQ(List(1), "429 too many failed attempts, try again later");
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_EQ(Account("knock", "alice", "key").substr(0, 4), "200 ");
}

// A success erases no failure: five wrong keys, a knock of the guesser's own
// account, five more, are locked out all the same. Guesses of one name
// spread over addresses are counted by the name, and guesses spread over
// instances by their shared database. New accounts are limited
// per address, and a user's knock waits for a hash that they hold.
TEST_P(SyncService, GuessersAndAccountMakersAreHeldBack)
{
    m_config.freeFailures = 5;
    Restart();
    ASSERT_EQ(200, AccountFrom("10.0.0.1", "open", "alice", "key"));
    ASSERT_EQ(200, AccountFrom("10.0.0.1", "open", "mallory", "mine"));
    for (int round = 0; round < 2; round++) {
        for (int i = 0; i < 5; i++)
            AccountFrom("10.0.0.2", "knock", "alice", "guess" + std::to_string(i));
        AccountFrom("10.0.0.2", "knock", "mallory", "mine");
    }
    EXPECT_EQ(429, AccountFrom("10.0.0.2", "knock", "mallory", "mine"));
    for (int i = 0; i < 6; i++)
        AccountFrom("10.0.1." + std::to_string(i), "knock", "alice", "guess");
    EXPECT_EQ(429, AccountFrom("10.0.2.1", "knock", "alice", "key"));
    EXPECT_EQ(200, AccountFrom("10.0.2.1", "knock", "mallory", "mine"));
    // Guesses spread over two instances on one database count together.
    std::unique_ptr<Store> shared = NewStore();
    Service second(*shared, m_config);
    for (int i = 0; i < 6; i++)
        AccountFrom("10.0.4.1", "knock", "nobody", "guess", i % 2 ? &second : m_service.get());
    EXPECT_EQ(429, AccountFrom("10.0.4.1", "knock", "mallory", "mine", &second));
    EXPECT_EQ(429, AccountFrom("10.0.4.2", "knock", "nobody", "guess", &second));
    EXPECT_EQ(200, AccountFrom("10.0.4.2", "knock", "mallory", "mine", &second));

    Restart();
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(200, AccountFrom("10.0.3.1", "open", "bulk" + std::to_string(i), "k")) << i;
    EXPECT_EQ(429, AccountFrom("10.0.3.1", "open", "bulk5", "k"));
    EXPECT_EQ(200, AccountFrom("10.0.3.2", "open", "bob", "key"));

    // The one hashing slot busy with a new account: a knock that needs a
    // hash (a service that has not seen bob sign in) waits for it instead of
    // hearing 503.
    ServiceConfig slow = m_config;
    slow.accounts.hashSlots = 1;
    slow.accounts.opsLimit = crypto_pwhash_OPSLIMIT_INTERACTIVE;
    slow.accounts.memLimit = crypto_pwhash_MEMLIMIT_INTERACTIVE;
    Service fresh(*m_store, slow);
    std::thread maker([&] { EXPECT_EQ(200, AccountFrom("10.0.5.1", "open", "dave", "key", &fresh)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(200, AccountFrom("10.0.5.1", "knock", "bob", "key", &fresh));
    maker.join();
}

// Clients that never close, that drip their request or that send half a
// body hold neither a worker nor memory for long: a real request is still
// answered, the full service answers 503, a request that takes too long
// hears 408, and the memory is given back.
TEST_P(SyncService, SlowClientsHoldNeitherWorkersNorMemory)
{
    m_serverConfig.requestSeconds = 1;
    m_serverConfig.maxConnections = 24;
    m_serverConfig.maxBuffered = 20000;
    Restart();
    const std::string list = std::string("GET ") + SYNC_PATH + "?act=list&UserID=1 HTTP/1.1\r\n";
    // Eight clients that read their replies but never close: lingering
    // ends held each worker for two seconds.
    std::vector<UniqueFd> open;
    for (int i = 0; i < 8; i++)
        open.push_back(Sent(m_port, list + "Connection: close\r\n\r\n"));
    // Answered within the second the connection waits for it.
    EXPECT_EQ(Said(Exchange(m_port, list + "\r\n", 1)), "403 missing or expired Token");
    open.clear();
    WaitForConnections(0);

    // Requests that never end: each hears 408 once its second is up.
    for (int i = 0; i < 20; i++)
        open.push_back(Sent(m_port, list, 5));
    // The twenty-fifth connection is over the limit and told so at once.
    EXPECT_EQ(Said(Exchange(m_port, list + "\r\n")), "403 missing or expired Token");
    WaitForConnections(20);
    std::vector<UniqueFd> more;
    for (int i = 0; i < 4; i++)
        more.push_back(Connect(m_port));
    EXPECT_EQ(Said(ReadAll(Connect(m_port, 5).get())), "503 too many connections, try again later");
    more.clear();
    for (UniqueFd &fd : open)
        EXPECT_EQ(Said(ReadAll(fd.get())), "408 request took too long");
    open.clear();
    WaitForConnections(0);

    // Half-sent bodies: past 20,000 bytes in all, 503; nothing held after.
    const std::string head = std::string("POST ") + SYNC_PATH + " HTTP/1.1\r\nContent-Length: 4000\r\n\r\n";
    int refused = 0;
    for (int i = 0; i < 12; i++) {
        open.push_back(Sent(m_port, head + std::string(1900, 'a'), 5));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_LE(m_server->Buffered(), 20000u + 2100u);
    for (UniqueFd &fd : open)
        refused += Said(ReadAll(fd.get())) == "503 too busy, try again later";
    open.clear();
    EXPECT_GE(refused, 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(0u, m_server->Buffered());
}

// An HTTP/1.0 client that keeps the connection is told so; a flood of
// failures writes a few log lines a second and counts the rest.
TEST_P(SyncService, KeepAliveOfHttp10AndALogThatKeepsItsSize)
{
    const std::string reply = Exchange(m_port, "GET /software/vercheck.php?app=Quillet HTTP/1.0\r\n"
                                               "Connection: keep-alive\r\n\r\n");
    EXPECT_NE(reply.find("\r\nConnection: keep-alive\r\n"), std::string::npos) << reply;

    FILE *log = tmpfile();
    m_config.log = log;
    Restart();
    for (int i = 0; i < 200; i++)
        List(9999999);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    List(9999999); // the next second says how many were left out
    rewind(log);
    int lines = 0, counted = 0;
    char line[256];
    while (fgets(line, sizeof line, log)) {
        int dropped = 0;
        lines++;
        if (sscanf(line, "%*s %*s %d failures not logged", &dropped) == 1)
            counted += dropped;
    }
    fclose(log);
    m_config.log = nullptr;
    EXPECT_LE(lines, 2 * 20 + 3);
    EXPECT_GE(counted, 200 - 2 * 20);
}

// Killed in the middle of streams of changes from three clients served side
// by side, the program keeps every one it acknowledged for its own client,
// and its database stays intact.
TEST_P(SyncService, KillLosesNoAcknowledgedChange)
{
    Restart(false);
    pid_t pid = StartProgram({"--db", m_database}, &m_port);
    ASSERT_GT(m_port, 0);
    struct Writer {
        uint32_t user, clip;
        int acknowledged;
    };
    std::vector<Writer> writers;
    for (int i = 0; i < 3; i++) {
        const uint32_t user = Open("writer" + std::to_string(i), "key");
        writers.push_back({user, Create(user, "counter"), 0});
    }
    std::vector<std::thread> streams;
    for (Writer &w : writers)
        streams.emplace_back([this, &w] {
            while (SetText(w.user, w.clip, std::to_string(w.acknowledged + 1)).substr(0, 4) == "200 ")
                w.acknowledged++;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGKILL);
    for (std::thread &stream : streams)
        stream.join();
    waitpid(pid, nullptr, 0);

    pid = StartProgram({"--db", m_database}, &m_port);
    for (const Writer &w : writers) {
        EXPECT_GT(w.acknowledged, 0);
        const int kept = Number(GetText(w.user, w.clip), "200 <Data>\r\nClipUTF=(\\d+)\r\n</Data>\r\n");
        EXPECT_TRUE(kept == w.acknowledged || kept == w.acknowledged + 1)
            << kept << " after " << w.acknowledged;
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    if (IsPostgresUrl(m_database))
        return;

    sqlite3 *db = nullptr;
    sqlite3_stmt *check = nullptr;
    ASSERT_EQ(sqlite3_open(m_path.c_str(), &db), SQLITE_OK);
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
    EXPECT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);
}

INSTANTIATE_TEST_SUITE_P(Stores, SyncService, ::testing::Values("sqlite", "postgres"));
