// The service over HTTPS: the replies of plain HTTP, the time-outs of plain
// HTTP for clients that stall in the handshake or inside a TLS record, and
// the self-signed certificate that the program makes once and names by its
// fingerprint.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <signal.h>
#include <sodium.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <filesystem>
#include <regex>
#include <thread>
#include "client.h"
#include "server.h"
#include "sqlitestore.h"
#include "tls.h"

namespace {

using ContextPtr = std::unique_ptr<SSL_CTX, OpenSslFree<SSL_CTX_free>>;
using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509_free>>;

const std::string VERCHECK = "GET /software/vercheck.php?app=Quillet HTTP/1.1\r\nHost: x\r\n\r\n";

// A folder of the test's own, removed with all in it.
struct TempFolder {
    TempFolder()
    {
        const auto *test = testing::UnitTest::GetInstance()->current_test_info();
        path = testing::TempDir() + "https-" + std::to_string(getpid()) + "-" + test->name() + "/";
        std::filesystem::create_directories(path);
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    std::string path;
};

struct TlsClient {
    UniqueFd fd;
    SslPtr ssl; // null when the handshake failed
};

// A TLS connection that takes whatever certificate the service shows (the
// tests compare certificates instead); reads time out after `seconds`.
TlsClient ConnectTls(uint16_t port, int seconds = 30)
{
    // A service that has gone fails the client's write instead of killing the tests.
    signal(SIGPIPE, SIG_IGN);
    TlsClient client{Connect(port, seconds), nullptr};
    ContextPtr context(SSL_CTX_new(TLS_client_method()));
    client.ssl.reset(SSL_new(context.get()));
    if (!client.fd.ok() || !SSL_set_fd(client.ssl.get(), client.fd.get()) ||
        SSL_connect(client.ssl.get()) != 1)
        client.ssl.reset();
    return client;
}

// What the service sends over TLS until it ends; an end without TLS's own
// (close_notify) shows as "[cut]".
std::string ReadAllTls(SSL *ssl)
{
    std::string reply;
    char buffer[65536];
    int n;
    while ((n = SSL_read(ssl, buffer, sizeof buffer)) > 0)
        reply.append(buffer, size_t(n));
    if (SSL_get_error(ssl, n) != SSL_ERROR_ZERO_RETURN)
        reply += "[cut]";
    ERR_clear_error();
    return reply;
}

// Exchange over TLS; the client's end is TLS's own, or with `socketEnd` a
// half-close of its socket, as over plain HTTP.
std::string ExchangeTls(uint16_t port, const std::string &request, bool socketEnd = false, int seconds = 30)
{
    TlsClient client = ConnectTls(port, seconds);
    if (!client.ssl)
        return "[no handshake]";
    SSL_write(client.ssl.get(), request.data(), int(request.size()));
    socketEnd ? shutdown(client.fd.get(), SHUT_WR) : SSL_shutdown(client.ssl.get());
    return ReadAllTls(client.ssl.get());
}

std::string MemoryText(BIO *bio)
{
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return std::string(data, size_t(size));
}

// The bytes a client's TLS sends first: its hello.
std::string ClientHello()
{
    ContextPtr context(SSL_CTX_new(TLS_client_method()));
    SslPtr ssl(SSL_new(context.get()));
    BIO *out = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl.get(), BIO_new(BIO_s_mem()), out);
    SSL_connect(ssl.get());
    return MemoryText(out);
}

X509Ptr ReadCertificate(const std::string &path)
{
    std::unique_ptr<FILE, int (*)(FILE *)> file(fopen(path.c_str(), "r"), fclose);
    return X509Ptr(file ? PEM_read_X509(file.get(), nullptr, nullptr, nullptr) : nullptr);
}

// The fingerprint as the openssl command prints it, after its "=".
std::string OpenSslFingerprint(const std::string &certificate)
{
    const std::string command = "openssl x509 -noout -fingerprint -sha256 -in '" + certificate + "'";
    std::unique_ptr<FILE, int (*)(FILE *)> said(popen(command.c_str(), "r"), pclose);
    char line[256] = "";
    if (!said || !fgets(line, sizeof line, said.get()) || !strchr(line, '='))
        return "";
    return std::string(strchr(line, '=') + 1, strcspn(strchr(line, '=') + 1, "\n"));
}

// The exit status of the program run with `args` to its end; `said` gets
// what it wrote to standard error.
int ExitStatus(const std::vector<std::string> &args, std::string *said)
{
    int error[2];
    if (pipe(error) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<const char *> argv = {QUILLET_SERVER_EXE};
        for (const std::string &arg : args)
            argv.push_back(arg.c_str());
        argv.push_back(nullptr);
        dup2(open("/dev/null", O_WRONLY), 1);
        dup2(error[1], 2);
        execv(QUILLET_SERVER_EXE, const_cast<char *const *>(argv.data()));
        _exit(127);
    }
    close(error[1]);
    *said = ReadAll(error[0]);
    close(error[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The service on one SQLite store behind two servers: plain HTTP and HTTPS
// with a self-signed certificate.
class HttpsService : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(EnsureSelfSigned(m_folder.path + "cert.pem", m_folder.path + "key.pem", {"localhost"}));
        m_config.accounts.opsLimit = crypto_pwhash_OPSLIMIT_MIN;
        m_config.accounts.memLimit = crypto_pwhash_MEMLIMIT_MIN;
        m_config.log = nullptr;
        Restart();
    }
    void Restart()
    {
        m_plain.reset();
        m_https.reset();
        m_service.reset();
        m_store = std::make_unique<SqliteStore>(m_folder.path + "sync.db");
        m_service = std::make_unique<Service>(*m_store, m_config);
        m_plain = std::make_unique<Server>(*m_service, m_serverConfig);
        ServerConfig https = m_serverConfig;
        https.tls = std::make_shared<TlsContext>(m_folder.path + "cert.pem", m_folder.path + "key.pem");
        m_https = std::make_unique<Server>(*m_service, https);
        m_plain->Start();
        m_https->Start();
    }

    TempFolder m_folder;
    ServiceConfig m_config;
    ServerConfig m_serverConfig{"127.0.0.1", 0, 4, {}};
    std::unique_ptr<Store> m_store;
    std::unique_ptr<Service> m_service;
    std::unique_ptr<Server> m_plain, m_https;
};

// A client that sends one byte at a time of a TLS hello or of a request's
// TLS record, and listens between the bytes for the service's answer.
struct Trickle {
    TlsClient client; // without TLS, the hello's bytes go out raw
    std::string bytes, heard;
    bool over = false;

    void Step(size_t i)
    {
        if (i < bytes.size())
            send(client.fd.get(), &bytes[i], 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        char buffer[4096];
        const int n = client.ssl ? SSL_read(client.ssl.get(), buffer, sizeof buffer)
                                 : int(recv(client.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT));
        if (n > 0)
            heard.append(buffer, size_t(n));
        else if (client.ssl)
            over = SSL_get_error(client.ssl.get(), n) != SSL_ERROR_WANT_READ;
        else
            over = n == 0 || errno != EAGAIN;
        ERR_clear_error();
    }
};

} // namespace

// Every reply comes over TLS byte for byte as over plain HTTP, whether the
// client ends with TLS's end or by half-closing its socket: a request cut
// short, requests sent together on a kept connection, and a clip of many TLS
// records up and down.
TEST_F(HttpsService, RepliesAsOverPlainHttp)
{
    const std::string requests[] = {
        VERCHECK,
        "GET /elsewhere HTTP/1.1\r\n\r\n",
        "GET /x HTTP/1.1\r\nContent-Length: 9\r\n\r\nshort",
        VERCHECK + "GET /software/vercheck.php?app=Quillet HTTP/1.0\r\nConnection: keep-alive\r\n\r\n" +
            VERCHECK,
    };
    for (const std::string &request : requests) {
        const std::string plain = Exchange(m_plain->Port(), request);
        EXPECT_EQ(plain.substr(0, 9), "HTTP/1.1 ");
        for (bool socketEnd : {false, true})
            EXPECT_EQ(ExchangeTls(m_https->Port(), request, socketEnd), plain) << request << socketEnd;
    }

    const auto post = [this](const std::string &form) {
        return Said(
            ExchangeTls(m_https->Port(), std::string("POST ") + SYNC_PATH + " HTTP/1.1\r\nContent-Length: " +
                                             std::to_string(form.size()) + "\r\n\r\n" + form + "\r\n"));
    };
    std::smatch match;
    const std::string opened = post("act=open&name=tls&key=key");
    ASSERT_TRUE(
        std::regex_match(opened, match, std::regex("200 <UserID>(\\d+)</UserID><Token>(\\w+)</Token>")))
        << opened;
    const std::string account = "UserID=" + match[1].str() + "&Token=" + match[2].str();
    const std::string created = post("act=create&" + account + "&ClipName=big");
    ASSERT_TRUE(std::regex_match(created, match, std::regex("200 DataID=(\\d+)\r\n"))) << created;
    const std::string clip = account + "&DataID=" + match[1].str() + "&field=ClipUTF";
    const std::string text(300000, 't');
    EXPECT_EQ(post("act=setdata&" + clip + "&data=" + text), "200 <SetData>1</SetData>");
    const std::string get = std::string("GET ") + SYNC_PATH + "?act=getdata&" + clip + " HTTP/1.1\r\n\r\n";
    EXPECT_EQ(Said(ExchangeTls(m_https->Port(), get)), "200 <Data>\r\nClipUTF=" + text + "\r\n</Data>\r\n");
    EXPECT_EQ(Exchange(m_plain->Port(), get), ExchangeTls(m_https->Port(), get, true));
}

// With two workers, four clients that stall in TLS hold neither: one silent
// from the start, one with half a hello, one that sends its hello a byte at
// a time and one that sends its request's record so after the handshake.
// Another client is served meanwhile; each slow one is cut off once its
// second is up, the last with 408 over TLS.
TEST_F(HttpsService, StalledHandshakesAndRecordsAreCutOff)
{
    m_serverConfig.threads = 2;
    m_serverConfig.requestSeconds = 1;
    Restart();
    const uint16_t port = m_https->Port();
    const std::string hello = ClientHello();
    UniqueFd silent = Connect(port, 5), half = Sent(port, hello.substr(0, hello.size() / 2), 5);
    Trickle slowHello{{Connect(port, 5), nullptr}, hello, ""};
    Trickle slowRecord{ConnectTls(port, 5), "", ""};
    ASSERT_TRUE(slowRecord.client.ssl);
    BIO *record = BIO_new(BIO_s_mem());
    SSL_set0_wbio(slowRecord.client.ssl.get(), record);
    SSL_write(slowRecord.client.ssl.get(), VERCHECK.data(), int(VERCHECK.size()));
    slowRecord.bytes = MemoryText(record);
    fcntl(slowRecord.client.fd.get(), F_SETFL, O_NONBLOCK);

    for (size_t i = 0; i < 60 && !(slowHello.over && slowRecord.over); i++) {
        slowHello.Step(i);
        slowRecord.Step(i);
        if (i == 3) {
            EXPECT_EQ(Said(ExchangeTls(port, VERCHECK, false, 1)).substr(0, 4), "200 ");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(slowHello.over);
    EXPECT_EQ(slowHello.heard, "");
    EXPECT_EQ(Said(slowRecord.heard), "408 request took too long");
    for (const UniqueFd *fd : {&silent, &half}) {
        char byte;
        const ssize_t n = recv(fd->get(), &byte, 1, 0);
        EXPECT_TRUE(n == 0 || (n < 0 && errno == ECONNRESET)) << n << " " << strerror(errno);
    }
    for (int i = 0; i < 200 && m_https->Connections() != 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(m_https->Connections(), 0);
}

// --tls-self-signed makes a certificate for the names given and its key
// (the owner's alone) beside the database, prints the fingerprint that the
// openssl command prints and serves that certificate; a restart keeps it.
// A certificate made elsewhere (here by the openssl command, on a curve) is
// served as given. TLS options that do not go together, or files it cannot
// use, stop the program at once.
TEST(HttpsProgram, SelfSignedCertificateIsMadeOnceAndNamedByItsFingerprint)
{
    TempFolder folder;
    const std::string database = folder.path + "sync.db", certificate = folder.path + "sync-cert.pem",
                      key = folder.path + "sync-key.pem", other = folder.path + "other-cert.pem",
                      otherKey = folder.path + "other-key.pem";
    const std::string makeOther = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
                                  "-subj /CN=other -keyout '" +
                                  otherKey + "' -out '" + other + "' 2>/dev/null";
    ASSERT_EQ(system(makeOther.c_str()), 0);
    const std::vector<std::string> selfSigned = {"--tls-self-signed", "localhost,127.0.0.1"};
    const struct {
        std::vector<std::string> args;
        std::string served;
    } runs[] = {{selfSigned, certificate},
                {selfSigned, certificate},
                {{"--tls-cert", other, "--tls-key", otherKey}, other}};
    std::vector<std::string> fingerprints;
    for (const auto &run : runs) {
        std::vector<std::string> args = {"--db", database};
        args.insert(args.end(), run.args.begin(), run.args.end());
        uint16_t port = 0;
        std::string lines;
        const pid_t pid = StartProgram(args, &port, &lines);
        ASSERT_GT(port, 0) << lines;
        EXPECT_EQ(lines.find("made a self-signed certificate " + certificate) != std::string::npos,
                  fingerprints.empty())
            << lines;
        std::smatch match;
        EXPECT_TRUE(std::regex_search(lines, match, std::regex("certificate SHA-256 fingerprint (.*)\n")))
            << lines;
        EXPECT_EQ(match[1].str(), OpenSslFingerprint(run.served));
        fingerprints.push_back(match[1].str());
        const TlsClient client = ConnectTls(port);
        ASSERT_TRUE(client.ssl);
        X509Ptr served(SSL_get1_peer_certificate(client.ssl.get()));
        EXPECT_EQ(X509_cmp(served.get(), ReadCertificate(run.served).get()), 0);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    EXPECT_EQ(fingerprints[1], fingerprints[0]);
    EXPECT_TRUE(std::regex_match(fingerprints[0], std::regex("[0-9A-F]{2}(:[0-9A-F]{2}){31}")))
        << fingerprints[0];
    struct stat status = {};
    EXPECT_EQ(stat(key.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    X509Ptr made = ReadCertificate(certificate);
    EXPECT_EQ(X509_check_host(made.get(), "localhost", 0, 0, nullptr), 1);
    EXPECT_EQ(X509_check_ip_asc(made.get(), "127.0.0.1", 0), 1);

    const std::string lone = folder.path + "lone.pem";
    const struct {
        std::vector<std::string> args;
        int status;
    } refused[] = {
        {{"--tls-cert", certificate}, 2},
        {{"--tls-self-signed", "localhost,,x"}, 2},
        {{"--db", "postgresql://quillet@127.0.0.1:1/none", "--tls-self-signed", "localhost"}, 2},
        {{"--tls-cert", folder.path + "none.pem", "--tls-key", key}, 1},
        {{"--tls-cert", certificate, "--tls-key", certificate}, 1},
        {{"--tls-cert", other, "--tls-key", key}, 1},
        {{"--tls-cert", lone, "--tls-key", key, "--tls-self-signed", "localhost"}, 1},
    };
    for (const auto &run : refused) {
        std::vector<std::string> args = {"--bind", "127.0.0.1", "--port", "0", "--db", database};
        args.insert(args.end(), run.args.begin(), run.args.end());
        std::string said;
        EXPECT_EQ(ExitStatus(args, &said), run.status) << run.args[1];
        EXPECT_EQ(said.rfind(run.status == 2 ? "usage: " : "quillet-server: ", 0), 0u) << said;
    }
    EXPECT_NE(access(lone.c_str(), F_OK), 0);
    EXPECT_EQ(OpenSslFingerprint(certificate), fingerprints[0]);
}
