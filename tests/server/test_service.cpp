// The service over real sockets, spoken to byte for byte as the Windows
// client does: a GET with the form as query, or a POST whose body is followed
// by an uncounted CR LF; then a half-close, and the reply read to the end.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <atomic>
#include <cstdio>
#include <memory>
#include <regex>
#include <thread>
#include "fd.h"
#include "server.h"
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

using Fields = std::vector<std::pair<std::string, std::string>>;

std::string FormOf(const Fields &fields)
{
    std::string form = "Quillet=6.0.200";
    for (const auto &field : fields)
        form += "&" + Encode(field.first) + "=" + Encode(field.second);
    return form;
}

std::string Exchange(uint16_t port, const std::string &request)
{
    UniqueFd fd(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        return "";
    for (size_t sent = 0; sent < request.size();) {
        ssize_t n = send(fd.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += size_t(n);
    }
    shutdown(fd.get(), SHUT_WR);
    std::string reply;
    char buffer[65536];
    for (ssize_t n; (n = recv(fd.get(), buffer, sizeof buffer, 0)) > 0;)
        reply.append(buffer, size_t(n));
    return reply;
}

struct Answer {
    int status;
    std::string body;
};

Answer Split(const std::string &reply)
{
    size_t end = reply.find("\r\n\r\n");
    if (reply.compare(0, 9, "HTTP/1.1 ") != 0 || end == std::string::npos)
        return {0, reply};
    return {std::stoi(reply.substr(9, 3)), reply.substr(end + 4)};
}

Answer Get(uint16_t port, const std::string &query, const char *path = SYNC_PATH)
{
    return Split(
        Exchange(port, std::string("GET ") + path + "?" + query + " HTTP/1.1\r\nHost: localhost\r\n\r\n"));
}

Answer Post(uint16_t port, const std::string &form)
{
    return Split(
        Exchange(port, std::string("POST ") + SYNC_PATH +
                           " HTTP/1.1\r\nHost: localhost\r\nContent-Length: " + std::to_string(form.size()) +
                           "\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n" + form + "\r\n"));
}

uint32_t Number(const std::string &body, const char *pattern)
{
    std::smatch match;
    EXPECT_TRUE(std::regex_match(body, match, std::regex(pattern))) << body;
    return match.empty() ? 0 : uint32_t(std::stoul(match[1]));
}

const char DATE[] = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d";

class SyncService : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = testing::TempDir() + "sync-" + std::to_string(getpid()) + "-" +
                 testing::UnitTest::GetInstance()->current_test_info()->name() + ".db";
        RemoveDatabase();
        m_config.accounts.opsLimit = crypto_pwhash_OPSLIMIT_MIN;
        m_config.accounts.memLimit = crypto_pwhash_MEMLIMIT_MIN;
        m_config.log = nullptr;
        m_config.freeFailures = 100;
        m_config.maxPart = 1000;
        Start();
    }
    void TearDown() override
    {
        Stop();
        RemoveDatabase();
    }
    void Start()
    {
        m_store = std::make_unique<SqliteStore>(m_path);
        m_service = std::make_unique<Service>(*m_store, m_config);
        ServerConfig config;
        config.bind = "127.0.0.1";
        config.port = 0;
        config.threads = 4;
        config.limits.maxBody = 4000;
        m_server = std::make_unique<Server>(*m_service, config);
        m_server->Start();
        m_port = m_server->Port();
    }
    void Stop()
    {
        m_server.reset();
        m_service.reset();
        m_store.reset();
    }
    void RemoveDatabase()
    {
        for (const char *suffix : {"", "-wal", "-shm"})
            remove((m_path + suffix).c_str());
    }
    Answer Sync(const Fields &fields, bool post = false)
    {
        return post ? Post(m_port, FormOf(fields)) : Get(m_port, FormOf(fields));
    }
    uint32_t Open(const std::string &name, const std::string &key)
    {
        return Number(Sync({{"act", "open"}, {"name", name}, {"key", key}}, true).body,
                      "<UserID>(\\d{1,7})</UserID>");
    }
    uint32_t Create(uint32_t user, const std::string &name)
    {
        Answer answer = Sync({{"act", "create"}, {"UserID", std::to_string(user)}, {"ClipName", name}}, true);
        return answer.status == 200 ? Number(answer.body, "DataID=(\\d{1,7})\r\n") : 0;
    }
    // `act` on clip `clip` of `user`, with the extra fields.
    Answer Clip(const char *act, uint32_t user, uint32_t clip, const Fields &extra = {}, bool post = false)
    {
        Fields fields = {{"act", act}, {"UserID", std::to_string(user)}, {"DataID", std::to_string(clip)}};
        fields.insert(fields.end(), extra.begin(), extra.end());
        return Sync(fields, post);
    }
    std::string List(uint32_t user) { return Sync({{"act", "list"}, {"UserID", std::to_string(user)}}).body; }

    std::string m_path;
    ServiceConfig m_config;
    std::unique_ptr<SqliteStore> m_store;
    std::unique_ptr<Service> m_service;
    std::unique_ptr<Server> m_server;
    uint16_t m_port = 0;
};

void ExpectAnswer(const Answer &answer, int status, const std::string &body)
{
    EXPECT_EQ(answer.status, status);
    EXPECT_EQ(answer.body, body);
}

} // namespace

TEST_F(SyncService, UpdateCheckAndAccounts)
{
    EXPECT_EQ(Exchange(m_port, "GET /software/vercheck.php?app=Quillet HTTP/1.1\r\nHost: localhost\r\n\r\n"),
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 53\r\n\r\n"
              "RelDate=12 Feb 2018\r\nVmajor=6\r\nVminor=0\r\nVbuild=200\r\n");
    ExpectAnswer(Get(m_port, "app=Quillet", "/elsewhere"), 404, "not found");

    const std::string hostile = "Robert'); DROP TABLE accounts;--";
    const uint32_t user = Open("alice", "key one"), other = Open(hostile, "k'--");
    ASSERT_TRUE(user > 0 && other > 0 && user != other);
    ExpectAnswer(Sync({{"act", "open"}, {"name", "alice"}, {"key", "x"}}, true), 409, "account name taken");
    ExpectAnswer(Sync({{"act", "knock"}, {"name", hostile}, {"key", "k'--"}}), 200,
                 "<UserID>" + std::to_string(other) + "</UserID>");
    ExpectAnswer(Sync({{"act", "knock"}, {"name", "alice"}, {"key", "key two"}}), 403,
                 "wrong account name or key");
    ExpectAnswer(Sync({{"act", "knock"}, {"name", "alice"}}), 400, "missing or malformed key");
    ExpectAnswer(Sync({{"act", "open"}, {"name", "new\nline"}, {"key", "k"}}, true), 400,
                 "missing or malformed name");
}

// Replies byte for byte; a new text starts a new version (the other parts
// come after it); a deleted clip is listed as such, and a new part revives it.
TEST_F(SyncService, RoundTrip)
{
    const uint32_t user = Open("alice", "key"), clip = Create(user, "Greeting");
    ASSERT_GT(clip, 0u);
    const std::string text = "Dear $$RN$$RN$all$$ at 5$ & 10%=", id = std::to_string(clip);
    ExpectAnswer(Clip("setdata", user, clip, {{"field", "ClipUTF"}, {"data", text}}, true), 200,
                 "<SetData>1</SetData>");
    Clip("setdata", user, clip, {{"field", "ClipHTML"}, {"data", "<b>x</b>"}}, true);
    EXPECT_TRUE(std::regex_match(
        List(user), std::regex("<Clips>\r\n" + id + "=Greeting;" + DATE + ";A\r\n</Clips>\r\n")));
    ExpectAnswer(Clip("check", user, clip), 200,
                 "<Check>\r\nlenUTF=32\r\nlenRTF=0\r\nlenHTML=8\r\n</Check>\r\n");
    ExpectAnswer(Clip("getdata", user, clip, {{"field", "ClipUTF"}}), 200,
                 "<Data>\r\nClipUTF=" + text + "\r\n</Data>\r\n");
    ExpectAnswer(Clip("rename", user, clip, {{"ClipName", "O'Brien \"x\" --"}}), 200, "<Rename>1</Rename>");
    Clip("setdata", user, clip, {{"field", "ClipUTF"}, {"data", "again"}}, true);
    ExpectAnswer(Clip("check", user, clip), 200,
                 "<Check>\r\nlenUTF=5\r\nlenRTF=0\r\nlenHTML=0\r\n</Check>\r\n");

    ExpectAnswer(Clip("delete", user, clip), 200, "<Delete>1</Delete>");
    EXPECT_TRUE(std::regex_match(
        List(user), std::regex("<Clips>\r\n" + id + "=O'Brien \"x\" --;" + DATE + ";X\r\n</Clips>\r\n")));
    ExpectAnswer(Clip("check", user, clip), 404, "no such clip");
    ExpectAnswer(Clip("delete", user, clip), 404, "no such clip");
    Clip("setdata", user, clip, {{"field", "ClipRTF"}, {"data", "{}"}}, true);
    ExpectAnswer(Clip("check", user, clip), 200,
                 "<Check>\r\nlenUTF=0\r\nlenRTF=2\r\nlenHTML=0\r\n</Check>\r\n");
    ExpectAnswer(Sync({{"act", "list"}, {"UserID", std::to_string(Open("empty", "k"))}}), 200, "<Clips />");
}

TEST_F(SyncService, ListFitsTheClientBufferWithPresentClipsFirst)
{
    Stop();
    m_config.maxClips = 16;
    Start();
    const uint32_t user = Open("many", "key");
    std::vector<uint32_t> clips;
    for (int i = 0; i < 16; i++)
        clips.push_back(Create(user, std::string(29, 'a' + i) + "xy"));
    ExpectAnswer(Sync({{"act", "create"}, {"UserID", std::to_string(user)}, {"ClipName", "one more"}}, true),
                 403, "clip limit reached");
    Clip("delete", user, clips[3]);
    Clip("delete", user, clips[7]);
    const std::string list = List(user);
    EXPECT_LE(list.size(), 1023u);
    EXPECT_TRUE(
        std::regex_match(list, std::regex(std::string("<Clips>\r\n(\\d+=\\w{31};") + DATE +
                                          ";A\r\n){14}(\\d+=\\w{31};" + DATE + ";X\r\n)*</Clips>\r\n")))
        << list;
    EXPECT_NE(list.find(std::to_string(clips[0]) + "=" + std::string(29, 'a') + "xy;"), std::string::npos);
    // Reviving a deletion counts against the limit like a new clip.
    Create(user, "fifteen");
    Create(user, "sixteen");
    ExpectAnswer(Clip("setdata", user, clips[3], {{"field", "ClipUTF"}, {"data", "x"}}, true), 403,
                 "clip limit reached");
}

TEST_F(SyncService, HostileInputIsRejectedAndNothingStored)
{
    const uint32_t user = Open("alice", "key"), intruder = Open("mallory", "key");
    const uint32_t clip = Create(user, "x' OR '1'='1");
    Clip("setdata", user, clip, {{"field", "ClipUTF"}, {"data", "secret"}}, true);
    const std::string ids = "&UserID=" + std::to_string(user) + "&DataID=" + std::to_string(clip);
    ExpectAnswer(Post(m_port, "act=setdata" + ids + "&field=ClipUTF&data=%zz"), 400, "malformed form data");
    ExpectAnswer(Post(m_port, "act=setdata" + ids + "&field=ClipUTF&data=" + std::string(1001, 'a')), 413,
                 "clip part too large");
    ExpectAnswer(Post(m_port, "act=setdata" + ids + "&field=ClipUTF&data=" + std::string(5000000, 'a')), 413,
                 "request too large");
    ExpectAnswer(Post(m_port, "act=setdata" + ids + "&field=ClipPNG&data=a"), 400,
                 "missing or malformed field");
    ExpectAnswer(Clip("delete", intruder, clip), 404, "no such clip");
    ExpectAnswer(Clip("getdata", intruder, clip, {{"field", "ClipUTF"}}), 404, "no such clip");
    ExpectAnswer(Clip("setdata", intruder, clip, {{"field", "ClipUTF"}, {"data", "mine"}}, true), 404,
                 "no such clip");
    ExpectAnswer(Sync({{"act", "list"}, {"UserID", "9999999"}}), 404, "no such account");
    ExpectAnswer(Sync({{"act", "list"}, {"UserID", "12345678"}}), 400, "missing or malformed UserID");
    ExpectAnswer(Clip("check", user, 0), 400, "missing or malformed DataID");
    ExpectAnswer(Sync({{"act", "dump"}}), 400, "unknown act");
    for (const char *name : {"semi;colon", "32 characters long, one too many"})
        ExpectAnswer(Clip("rename", user, clip, {{"ClipName", name}}), 400, "missing or malformed ClipName");
    ExpectAnswer(Split(Exchange(m_port, "PUT /software/quillet/qlsync.php HTTP/1.1\r\n\r\n")), 405,
                 "method not allowed");
    ExpectAnswer(Split(Exchange(m_port, "GET /x HTTP/1.1\r\nContent-Length: 9\r\n\r\nshort")), 400,
                 "request ended early");

    EXPECT_NE(List(user).find(std::to_string(clip) + "=x' OR '1'='1;"), std::string::npos);
    ExpectAnswer(Clip("getdata", user, clip, {{"field", "ClipUTF"}}), 200,
                 "<Data>\r\nClipUTF=secret\r\n</Data>\r\n");
    ExpectAnswer(Sync({{"act", "list"}, {"UserID", std::to_string(intruder)}}), 200, "<Clips />");
}

TEST_F(SyncService, FailuresFromOneAddressAreSlowedDown)
{
    Stop();
    m_config.freeFailures = 2;
    Start();
    Open("alice", "key");
    for (int i = 0; i < 2; i++)
        ExpectAnswer(Sync({{"act", "knock"}, {"name", "alice"}, {"key", "guess"}}), 403,
                     "wrong account name or key");
    ExpectAnswer(Sync({{"act", "list"}, {"UserID", "1"}}), 404, "no such account");
    ExpectAnswer(Sync({{"act", "knock"}, {"name", "alice"}, {"key", "key"}}), 429,
                 "too many failed attempts, try again later");
    ExpectAnswer(Sync({{"act", "list"}, {"UserID", "1"}}), 429, "too many failed attempts, try again later");
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_EQ(Sync({{"act", "knock"}, {"name", "alice"}, {"key", "key"}}).status, 200);
}

TEST_F(SyncService, TwoClientsAtOnce)
{
    auto client = [this](const std::string &name) {
        const uint32_t user = Open(name, "key");
        for (int i = 0; i < 5; i++) {
            const uint32_t clip = Create(user, name + std::to_string(i));
            const std::string text = name + " text " + std::to_string(i);
            EXPECT_EQ(Clip("setdata", user, clip, {{"field", "ClipUTF"}, {"data", text}}, true).status, 200);
            ExpectAnswer(Clip("getdata", user, clip, {{"field", "ClipUTF"}}), 200,
                         "<Data>\r\nClipUTF=" + text + "\r\n</Data>\r\n");
        }
        const std::string list = List(user);
        EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 7) << list;
    };
    std::thread one(client, "one"), two(client, "two");
    one.join();
    two.join();
}

namespace {

// The real program, started on a free port of its own choosing.
pid_t StartProgram(const std::string &database, uint16_t *port)
{
    int out[2];
    if (pipe(out) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const char *argv[] = {QUILLET_SERVER_EXE, "--bind", "127.0.0.1", "--port", "0", "--db",
                          database.c_str(),   nullptr};
    pid_t pid = -1;
    posix_spawn(&pid, QUILLET_SERVER_EXE, &actions, nullptr, const_cast<char **>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    FILE *lines = fdopen(out[0], "r");
    char line[256] = "";
    fgets(line, sizeof line, lines);
    fclose(lines);
    const char *colon = strrchr(line, ':');
    *port = colon ? uint16_t(atoi(colon + 1)) : 0;
    return pid;
}

} // namespace

// Killed in the middle of a stream of changes, the program keeps every one it
// acknowledged, and its database stays intact.
TEST_F(SyncService, KillLosesNoAcknowledgedChange)
{
    Stop();
    RemoveDatabase();
    uint16_t port = 0;
    pid_t pid = StartProgram(m_path, &port);
    ASSERT_GT(port, 0);
    m_port = port;
    const uint32_t user = Open("alice", "key"), clip = Create(user, "counter");
    std::thread killer([pid] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(pid, SIGKILL);
    });
    int acknowledged = 0;
    while (
        Clip("setdata", user, clip, {{"field", "ClipUTF"}, {"data", std::to_string(acknowledged + 1)}}, true)
            .status == 200)
        acknowledged++;
    killer.join();
    waitpid(pid, nullptr, 0);
    EXPECT_GT(acknowledged, 0);

    pid = StartProgram(m_path, &port);
    m_port = port;
    Answer answer = Clip("getdata", user, clip, {{"field", "ClipUTF"}});
    EXPECT_TRUE(answer.body == "<Data>\r\nClipUTF=" + std::to_string(acknowledged) + "\r\n</Data>\r\n" ||
                answer.body == "<Data>\r\nClipUTF=" + std::to_string(acknowledged + 1) + "\r\n</Data>\r\n")
        << answer.body << " after " << acknowledged;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);

    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(m_path.c_str(), &db), SQLITE_OK);
    std::string check;
    sqlite3_exec(
        db, "PRAGMA integrity_check",
        [](void *result, int, char **values, char **) {
            *static_cast<std::string *>(result) += values[0];
            return 0;
        },
        &check, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(check, "ok");
}
