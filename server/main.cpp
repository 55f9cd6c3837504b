// quillet-server: the update check and the sync service that Quillet talks
// to, for hosting them yourself. Runs in the foreground until SIGINT or SIGTERM.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include "server.h"
#include "pgstore.h"
#include "sqlitestore.h"
#include "tls.h"

namespace {

const char USAGE[] =
    "usage: quillet-server [--bind ADDRESS] [--port N] [--db FILE|URL] [--threads N]\n"
    "                      [--trusted-proxy ADDRESS]\n"
    "                      [--tls-cert FILE --tls-key FILE] [--tls-self-signed HOST[,HOST...]]\n"
    "                      [--max-clips N] [--max-part BYTES] [--max-request BYTES]\n"
    "                      [--release MAJOR.MINOR] [--release-build N] [--release-date TEXT]\n"
    "Defaults: --bind 0.0.0.0 --port 8080 --db quillet-sync.db --max-clips 10\n"
    "          --max-part 1398144 --max-request 4194304\n"
    "          --release 6.0 --release-build 200 --release-date \"12 Feb 2018\"\n"
    "--db takes an SQLite file or a PostgreSQL URL (postgresql://user@host:port/database),\n"
    "which several instances behind a load balancer can share.\n"
    "--tls-cert and --tls-key serve HTTPS with a PEM certificate (chain) and its key.\n"
    "--tls-self-signed makes them first, for the host names and addresses given, where\n"
    "they do not exist: at --tls-cert and --tls-key, by default beside the SQLite file\n"
    "(quillet-sync-cert.pem, quillet-sync-key.pem).\n";

struct Options {
    ServerConfig server;
    ServiceConfig service;
    std::string database = "quillet-sync.db";
    std::string certificate, key;
    std::vector<std::string> selfSigned; // host names of a certificate to make
};

bool ParseNumber(const char *text, long long min, long long max, long long *value)
{
    char *end = nullptr;
    errno = 0;
    long long n = strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || n < min || n > max)
        return false;
    *value = n;
    return true;
}

bool ParseRelease(const char *text, ServiceConfig *service)
{
    const char *dot = strchr(text, '.');
    long long major, minor;
    if (!dot || !ParseNumber(dot + 1, 0, 65535, &minor) ||
        !ParseNumber(std::string(text, size_t(dot - text)).c_str(), 0, 65535, &major))
        return false;
    service->releaseMajor = int(major);
    service->releaseMinor = int(minor);
    return true;
}

// The date ends its reply line, so it must not break it.
bool ParseDate(const char *text, std::string *date)
{
    for (const char *p = text; *p; p++) {
        if (static_cast<unsigned char>(*p) < ' ')
            return false;
    }
    *date = text;
    return *text != '\0' && strlen(text) <= 64;
}

bool ParseHosts(const std::string &text, std::vector<std::string> *hosts)
{
    hosts->clear();
    for (size_t start = 0; start <= text.size();) {
        const size_t comma = std::min(text.find(',', start), text.size());
        if (comma == start)
            return false;
        hosts->push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return true;
}

bool ParseOption(const std::string &name, const char *value, Options *options)
{
    ServiceConfig &service = options->service;
    long long n = 0;
    if (name == "--bind")
        options->server.bind = value;
    else if (name == "--db")
        options->database = value;
    else if (name == "--trusted-proxy")
        options->server.trustedProxy = value;
    else if (name == "--tls-cert")
        options->certificate = value;
    else if (name == "--tls-key")
        options->key = value;
    else if (name == "--tls-self-signed")
        return ParseHosts(value, &options->selfSigned);
    else if (name == "--release")
        return ParseRelease(value, &service);
    else if (name == "--release-date")
        return ParseDate(value, &service.releaseDate);
    else if (name == "--port" && ParseNumber(value, 0, 65535, &n))
        options->server.port = uint16_t(n);
    else if (name == "--threads" && ParseNumber(value, 1, 1024, &n))
        options->server.threads = int(n);
    else if (name == "--max-clips" && ParseNumber(value, 1, 1000, &n))
        service.maxClips = int(n);
    else if (name == "--max-part" && ParseNumber(value, 1, 1LL << 30, &n))
        service.maxPart = size_t(n);
    else if (name == "--max-request" && ParseNumber(value, 1024, 1LL << 32, &n))
        options->server.limits.maxBody = size_t(n);
    else if (name == "--release-build" && ParseNumber(value, 0, 0x7FFFFFFF, &n))
        service.releaseBuild = int(n);
    else
        return false;
    return true;
}

// The database file's path with `suffix` in place of its extension.
std::string Beside(const std::string &database, const char *suffix)
{
    const size_t name = database.rfind('/') + 1, dot = database.rfind('.'); // name: 0 without a folder
    return database.substr(0, dot != std::string::npos && dot > name ? dot : std::string::npos) + suffix;
}

// Places the certificate to make beside the database unless told where;
// false when the TLS options do not go together.
bool PlaceCertificate(Options *options)
{
    if (!options->selfSigned.empty() && !IsPostgresUrl(options->database)) {
        if (options->certificate.empty())
            options->certificate = Beside(options->database, "-cert.pem");
        if (options->key.empty())
            options->key = Beside(options->database, "-key.pem");
    }
    return options->certificate.empty() == options->key.empty() &&
           (options->selfSigned.empty() || !options->certificate.empty());
}

// The certificate to serve HTTPS with, made first when asked for; null for
// plain HTTP. Its fingerprint is printed for users to compare with the one
// their client shows.
std::shared_ptr<const TlsContext> SetUpTls(const Options &options)
{
    if (options.certificate.empty())
        return nullptr;
    if (!options.selfSigned.empty() && EnsureSelfSigned(options.certificate, options.key, options.selfSigned))
        printf("quillet-server: made a self-signed certificate %s with its key %s\n",
               options.certificate.c_str(), options.key.c_str());
    auto tls = std::make_shared<const TlsContext>(options.certificate, options.key);
    printf("quillet-server: certificate SHA-256 fingerprint %s\n", tls->Fingerprint().c_str());
    return tls;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 >= argc || !ParseOption(argv[i], argv[i + 1], &options)) {
            fputs(USAGE, stderr);
            return strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }
    if (!PlaceCertificate(&options)) {
        fputs(USAGE, stderr);
        return 2;
    }
    // The signals are taken by sigwait below, not by whichever thread they hit.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    try {
        std::unique_ptr<Store> store;
        if (IsPostgresUrl(options.database))
            store = std::make_unique<PgStore>(options.database);
        else
            store = std::make_unique<SqliteStore>(options.database);
        Service service(*store, options.service);
        options.server.tls = SetUpTls(options);
        Server server(service, options.server);
        server.Start();
        printf("quillet-server: listening on %s:%u%s, database %s\n", options.server.bind.c_str(),
               server.Port(), options.server.tls ? " over HTTPS" : "", options.database.c_str());
        fflush(stdout);
        int signal = 0;
        sigwait(&signals, &signal);
        server.Stop();
    } catch (const std::exception &e) {
        fprintf(stderr, "quillet-server: %s\n", e.what());
        return 1;
    }
    return 0;
}
