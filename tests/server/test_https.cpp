// The service over HTTPS: the replies and time-outs of plain HTTP, and the
// self-signed certificate that the program makes once and names by its
// fingerprint.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <cstring>
#include <filesystem>
#include <regex>
#include "client.h"
#include "server.h"
#include "sqlitestore.h"

namespace {

using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509_free>>;
using FilePtr = std::unique_ptr<FILE, int (*)(FILE *)>;

const std::string VERCHECK = "GET /software/vercheck.php?app=Quillet HTTP/1.1\r\nHost: x\r\n\r\n";

struct TempFolder {
    TempFolder() { std::filesystem::create_directories(path); }
    ~TempFolder() { std::filesystem::remove_all(path); }
    const std::string path = testing::TempDir() + "https-" + std::to_string(getpid()) + "-" +
                             testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
};

// A TLS session on `fd`, of version `newest` at most, that takes whatever
// certificate the service shows (the tests compare certificates instead).
SslPtr Handshake(int fd, int newest = TLS1_3_VERSION)
{
    // A service that has gone fails the client's write instead of killing the tests.
    signal(SIGPIPE, SIG_IGN);
    ERR_clear_error();
    std::unique_ptr<SSL_CTX, OpenSslFree<SSL_CTX_free>> context(SSL_CTX_new(TLS_client_method()));
    SSL_CTX_set_max_proto_version(context.get(), newest);
    SslPtr ssl(SSL_new(context.get()));
    return SSL_set_fd(ssl.get(), fd) && SSL_connect(ssl.get()) == 1 ? std::move(ssl) : nullptr;
}

// What the service sends over TLS until it ends; an end without TLS's own
// (close_notify) shows as "[cut]".
std::string ReadAll(SSL *ssl)
{
    std::string reply;
    char buffer[65536];
    int n;
    while ((n = SSL_read(ssl, buffer, sizeof buffer)) > 0)
        reply.append(buffer, size_t(n));
    return SSL_get_error(ssl, n) == SSL_ERROR_ZERO_RETURN ? reply : reply + "[cut]";
}

// Exchange over TLS. The client ends with TLS's end, or with `socketEnd` by
// half-closing its socket as over plain HTTP.
std::string ExchangeTls(uint16_t port, const std::string &request, bool socketEnd = false, int seconds = 30)
{
    UniqueFd fd = Connect(port, seconds);
    SslPtr ssl = Handshake(fd.get());
    if (!ssl)
        return "[no handshake]";
    SSL_write(ssl.get(), request.data(), int(request.size()));
    socketEnd ? shutdown(fd.get(), SHUT_WR) : SSL_shutdown(ssl.get());
    return ReadAll(ssl.get());
}

// The fingerprint as the openssl command prints it, after its "=".
std::string OpenSslFingerprint(const std::string &certificate)
{
    FilePtr said(popen(("openssl x509 -noout -fingerprint -sha256 -in '" + certificate + "'").c_str(), "r"),
                 pclose);
    char text[128] = "";
    return said && fscanf(said.get(), "%*[^=]=%127s", text) == 1 ? text : "";
}

} // namespace

// Replies over TLS are those of plain HTTP byte for byte, however the client
// ends (two thousand requests on one connection: many records each way).
// Two workers serve a client while three stall: silent, half a hello, and a
// request's record sent a byte at a time (over TLS 1.2, after which only the
// answer comes); each is cut off once its second is up, the last with 408.
TEST(Https, RepliesAndTimeOutsOfPlainHttp)
{
    TempFolder folder;
    ASSERT_TRUE(EnsureSelfSigned(folder.path + "cert.pem", folder.path + "key.pem", {"localhost"}));
    SqliteStore store(folder.path + "sync.db");
    ServiceConfig config;
    config.log = nullptr;
    Service service(store, config);
    ServerConfig plainConfig{"127.0.0.1", 0, 2, {}};
    plainConfig.requestSeconds = 1;
    ServerConfig httpsConfig = plainConfig;
    httpsConfig.tls = std::make_shared<TlsContext>(folder.path + "cert.pem", folder.path + "key.pem");
    Server plain(service, plainConfig), https(service, httpsConfig);
    plain.Start();
    https.Start();

    std::string many;
    for (int i = 0; i < 2000; i++)
        many += VERCHECK;
    for (const std::string &request :
         {VERCHECK, std::string("GET /x HTTP/1.1\r\nContent-Length: 9\r\n\r\nshort"), many}) {
        const std::string reply = Exchange(plain.Port(), request);
        EXPECT_EQ(reply.substr(0, 9), "HTTP/1.1 ");
        for (bool socketEnd : {false, true})
            EXPECT_TRUE(ExchangeTls(https.Port(), request, socketEnd) == reply) << request.substr(0, 40);
    }

    UniqueFd silent = Connect(https.Port(), 5), half = Sent(https.Port(), "\x16\x03\x01\x01\xfc\x01", 5);
    UniqueFd slow = Connect(https.Port(), 5);
    SslPtr slowTls = Handshake(slow.get(), TLS1_2_VERSION);
    ASSERT_TRUE(slowTls);
    BIO *record = BIO_new(BIO_s_mem());
    SSL_set0_wbio(slowTls.get(), record);
    SSL_write(slowTls.get(), VERCHECK.data(), int(VERCHECK.size()));
    char *bytes = nullptr;
    const long size = BIO_get_mem_data(record, &bytes);
    pollfd answer = {slow.get(), POLLIN, 0};
    for (long i = 0; i < size && poll(&answer, 1, 100) == 0; i++) {
        send(slow.get(), bytes + i, 1, MSG_NOSIGNAL);
        if (i == 3) {
            EXPECT_EQ(Said(ExchangeTls(https.Port(), VERCHECK, false, 1)).substr(0, 4), "200 ");
        }
    }
    EXPECT_EQ(Said(ReadAll(slowTls.get())), "408 request took too long");
    for (const UniqueFd *fd : {&silent, &half}) {
        char byte;
        EXPECT_TRUE(recv(fd->get(), &byte, 1, 0) == 0 || errno == ECONNRESET) << strerror(errno);
    }
}

// --tls-self-signed makes a certificate for the names given and its key (the
// owner's alone) beside the database, prints the fingerprint that the openssl
// command prints and serves that certificate; a restart keeps it. A key of
// another type than the certificate's is refused.
TEST(Https, SelfSignedCertificateIsMadeOnceAndNamedByItsFingerprint)
{
    TempFolder folder;
    const std::string certificate = folder.path + "sync-cert.pem", key = folder.path + "sync-key.pem";
    std::string printed[2];
    X509Ptr made;
    for (std::string &fingerprint : printed) {
        uint16_t port = 0;
        std::string lines;
        const pid_t pid = StartProgram(
            {"--db", folder.path + "sync.db", "--tls-self-signed", "localhost,127.0.0.1"}, &port, &lines);
        std::smatch match;
        EXPECT_TRUE(std::regex_search(lines, match, std::regex("certificate SHA-256 fingerprint (.*)\n")))
            << lines;
        fingerprint = match[1];
        UniqueFd fd = Connect(port);
        SslPtr ssl = Handshake(fd.get());
        ASSERT_TRUE(ssl);
        FilePtr file(fopen(certificate.c_str(), "r"), fclose);
        made.reset(PEM_read_X509(file.get(), nullptr, nullptr, nullptr));
        EXPECT_EQ(X509_cmp(X509Ptr(SSL_get1_peer_certificate(ssl.get())).get(), made.get()), 0);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    EXPECT_EQ(printed[0], OpenSslFingerprint(certificate));
    EXPECT_EQ(printed[1], printed[0]);
    struct stat status = {};
    EXPECT_EQ(stat(key.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(X509_check_host(made.get(), "localhost", 0, 0, nullptr), 1);
    EXPECT_EQ(X509_check_ip_asc(made.get(), "127.0.0.1", 0), 1);

    const std::string curve = folder.path + "curve.pem", curveKey = folder.path + "curve-key.pem";
    const std::string makeCurve =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=x"
        " -keyout '" +
        curveKey + "' -out '" + curve + "' 2>/dev/null";
    ASSERT_EQ(system(makeCurve.c_str()), 0);
    EXPECT_NO_THROW((TlsContext(curve, curveKey)));
    EXPECT_THROW((TlsContext(curve, key)), std::runtime_error);
}
