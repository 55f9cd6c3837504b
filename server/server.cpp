#include "server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <malloc.h>
#include <stdexcept>

namespace {

constexpr uint64_t LISTEN_TAG = 0;
constexpr uint64_t WAKE_TAG = 1;
constexpr int LINGER_MS = 2000;
constexpr size_t RECEIVE_BYTES = 65536;

std::runtime_error SystemError(const std::string &what)
{
    return std::runtime_error(what + ": " + strerror(errno));
}

int OpenListener(const ServerConfig &config)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(config.port);
    if (inet_pton(AF_INET, config.bind.c_str(), &address.sin_addr) != 1)
        throw std::runtime_error("not an IPv4 address: " + config.bind);
    UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    int on = 1;
    if (!fd.ok() || setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        throw SystemError("socket");
    if (bind(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        throw SystemError("cannot listen on " + config.bind + ":" + std::to_string(config.port));
    if (listen(fd.get(), SOMAXCONN) != 0)
        throw SystemError("listen");
    return fd.release();
}

bool EpollSet(int epoll, int fd, uint64_t tag, uint32_t events, int operation)
{
    epoll_event event = {};
    event.events = events;
    event.data.u64 = tag;
    return epoll_ctl(epoll, operation, fd, &event) == 0;
}

const char *Reason(int status)
{
    static const struct {
        int status;
        const char *text;
    } reasons[] = {
        {200, "OK"},
        {400, "Bad Request"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {408, "Request Timeout"},
        {409, "Conflict"},
        {413, "Content Too Large"},
        {429, "Too Many Requests"},
        {431, "Request Header Fields Too Large"},
        {501, "Not Implemented"},
        {503, "Service Unavailable"},
        {505, "HTTP Version Not Supported"},
    };
    for (const auto &reason : reasons) {
        if (reason.status == status)
            return reason.text;
    }
    return "Internal Server Error";
}

// Content-Length is there for clients that keep the connection; ours ignores
// it and reads to the end of the connection.
std::string FormatReply(const Reply &reply, bool keepAlive, bool http10 = false)
{
    const char *end = !keepAlive ? "\r\nConnection: close\r\n\r\n"
                      : http10   ? "\r\nConnection: keep-alive\r\n\r\n"
                                 : "\r\n\r\n";
    return "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) +
           "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(reply.body.size()) + end +
           reply.body;
}

bool WaitFor(int fd, short events, int timeoutMs)
{
    pollfd entry = {fd, events, 0};
    return poll(&entry, 1, timeoutMs) > 0;
}

bool SendAll(int fd, const std::string &data, int timeoutMs)
{
    for (size_t sent = 0; sent < data.size();) {
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0)
            sent += size_t(n);
        else if (!(n < 0 && (errno == EINTR ||
                             ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd, POLLOUT, timeoutMs)))))
            return false;
    }
    return true;
}

// The same over TLS, which may also have to read (a key update) to go on.
bool SendAll(SSL *tls, int fd, const std::string &data, int timeoutMs)
{
    for (size_t sent = 0; sent < data.size();) {
        ERR_clear_error();
        const int n = SSL_write(tls, data.data() + sent, int(data.size() - sent));
        if (n > 0) {
            sent += size_t(n);
            continue;
        }
        const int error = SSL_get_error(tls, n);
        if (!(error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ) ||
            !WaitFor(fd, error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN, timeoutMs))
            return false;
    }
    return true;
}

// A reply sent without waiting, as the service answers when it cannot take
// a connection or a request: whatever does not fit at once is dropped.
void SendNow(int fd, const Reply &reply)
{
    const std::string text = FormatReply(reply, false);
    (void)!send(fd, text.data(), text.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

// Descriptors kept free beyond the connections, so that the listener can
// always accept one more and answer 503.
constexpr int FD_RESERVE = 64;

int ConnectionLimit(int wanted)
{
    rlimit limit = {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return wanted;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    const long long room = (long long)limit.rlim_cur - FD_RESERVE;
    return int(std::max<long long>(1, std::min<long long>(wanted, room)));
}

} // namespace

struct Server::Connection {
    Connection(Server &owner, int socket, std::string address)
        : server(owner), fd(socket), peer(std::move(address)), idleSince(Clock::now()),
          requestStart(idleSince)
    {
    }
    ~Connection()
    {
        server.m_buffered -= in.size();
        server.Release(peer);
    }
    // Bytes of a request, of the TLS handshake or of a TLS record have come
    // and wait for the rest: the request's clock runs, not the idle one. The
    // handshake's runs from the connection's start.
    bool Midway() const
    {
        return !in.empty() || (tls && (!SSL_is_init_finished(tls.get()) || SSL_has_pending(tls.get())));
    }
    // Reads what has come without waiting to the end of `in`: the bytes
    // read, 0 at the end of the connection (`broken` when it failed), or -1
    // when more must come first, or over TLS go out first (`wantWrite`).
    ssize_t Read()
    {
        const bool waiting = !Midway();
        char buffer[RECEIVE_BYTES];
        const ssize_t n = tls ? ReceiveTls(buffer, sizeof buffer) : Receive(buffer, sizeof buffer);
        if (n > 0) {
            in.append(buffer, size_t(n));
            server.m_buffered += size_t(n);
        }
        if (waiting && Midway())
            requestStart = Clock::now();
        return n;
    }
    void Consume(size_t n)
    {
        in.erase(0, n);
        server.m_buffered -= n;
    }
    bool Send(const std::string &data, int timeoutMs)
    {
        broken = broken ||
                 !(tls ? SendAll(tls.get(), fd.get(), data, timeoutMs) : SendAll(fd.get(), data, timeoutMs));
        return !broken;
    }
    // Answers without waiting; over TLS only once the handshake is done.
    void SendNow(const Reply &reply)
    {
        if (!tls) {
            ::SendNow(fd.get(), reply);
            return;
        }
        const std::string text = FormatReply(reply, false);
        ERR_clear_error();
        if (SSL_is_init_finished(tls.get()) && SSL_write(tls.get(), text.data(), int(text.size())) > 0)
            EndTls();
    }
    // TLS's own end (close_notify) before the socket's, unless TLS failed.
    void EndTls()
    {
        if (tls && !broken && SSL_is_init_finished(tls.get())) {
            ERR_clear_error();
            SSL_shutdown(tls.get());
        }
    }
    Server &server;
    UniqueFd fd;
    SslPtr tls; // null for plain HTTP
    std::string peer;
    std::string in; // received, not yet answered
    uint64_t tag = 0;
    Clock::time_point idleSince;
    Clock::time_point requestStart; // when the first byte of `in` (or of its record) came
    Clock::time_point lingerUntil;
    bool ended = false;     // the client sends no more, or the connection failed
    bool broken = false;    // failed: no reply reaches the client
    bool wantWrite = false; // TLS waits to send before it can read on
    bool lingering = false; // answered and half-closed: what comes is dropped

private:
    ssize_t Receive(char *buffer, size_t size)
    {
        for (;;) {
            const ssize_t n = recv(fd.get(), buffer, size, 0);
            if (n >= 0)
                return n;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return -1;
            if (errno != EINTR) {
                broken = true;
                return 0;
            }
        }
    }
    // The handshake first, then records; the client's close_notify, or the
    // end of its socket, ends the connection cleanly.
    ssize_t ReceiveTls(char *buffer, size_t size)
    {
        ERR_clear_error();
        const int accepted = SSL_is_init_finished(tls.get()) ? 1 : SSL_accept(tls.get());
        const int n = accepted == 1 ? SSL_read(tls.get(), buffer, int(size)) : accepted;
        if (n > 0)
            return n;
        const int error = SSL_get_error(tls.get(), n);
        wantWrite = error == SSL_ERROR_WANT_WRITE;
        if (error == SSL_ERROR_WANT_READ || wantWrite)
            return -1;
        broken = error != SSL_ERROR_ZERO_RETURN;
        return 0;
    }
};

Server::Server(Service &service, const ServerConfig &config)
    : m_service(service), m_config(config), m_listen(OpenListener(config)),
      m_epoll(epoll_create1(EPOLL_CLOEXEC)), m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_maxConnections(ConnectionLimit(config.maxConnections))
{
    if (!m_listen.ok() || !m_epoll.ok() || !m_wake.ok())
        throw SystemError("cannot set up the listener");
    sockaddr_in bound = {};
    socklen_t size = sizeof bound;
    getsockname(m_listen.get(), reinterpret_cast<sockaddr *>(&bound), &size);
    m_port = ntohs(bound.sin_port);
    // The wake-up is level-triggered: once written, it wakes every worker.
    if (!EpollSet(m_epoll.get(), m_listen.get(), LISTEN_TAG, EPOLLIN | EPOLLONESHOT, EPOLL_CTL_ADD) ||
        !EpollSet(m_epoll.get(), m_wake.get(), WAKE_TAG, EPOLLIN, EPOLL_CTL_ADD))
        throw SystemError("epoll_ctl");
}

Server::~Server()
{
    Stop();
}

void Server::Start()
{
    int threads = m_config.threads;
    if (threads <= 0)
        threads = std::max(4, 2 * int(std::thread::hardware_concurrency()));
    for (int i = 0; i < threads; i++)
        m_workers.emplace_back(&Server::Work, this);
}

void Server::Stop()
{
    m_stopping = true;
    uint64_t one = 1;
    if (write(m_wake.get(), &one, sizeof one) < 0 && errno != EAGAIN)
        perror("quillet-server: wake");
    for (std::thread &worker : m_workers)
        worker.join();
    m_workers.clear();
    std::lock_guard<std::mutex> lock(m_lock);
    m_idle.clear();
}

void Server::Work()
{
    // OpenSSL writes to the socket with write(), which raises SIGPIPE when
    // the client has gone; blocked here, the write just fails.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    while (!m_stopping) {
        epoll_event event;
        int n = epoll_wait(m_epoll.get(), &event, 1, 1000);
        CloseIdle();
        if (n != 1 || m_stopping || event.data.u64 == WAKE_TAG)
            continue;
        if (event.data.u64 == LISTEN_TAG)
            AcceptAll();
        else if (std::unique_ptr<Connection> connection = Take(event.data.u64))
            connection->lingering ? Drain(std::move(connection)) : Serve(std::move(connection));
    }
}

void Server::AcceptAll()
{
    for (;;) {
        sockaddr_in peer = {};
        socklen_t size = sizeof peer;
        int fd =
            accept4(m_listen.get(), reinterpret_cast<sockaddr *>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE) // let connections end before trying again
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            break;
        }
        char text[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        if (!Admit(text)) {
            // A TLS client could not read the plain reply, and a handshake
            // costs too much to refuse a connection.
            if (!m_config.tls)
                SendNow(fd, {503, "too many connections, try again later"});
            close(fd);
            continue;
        }
        auto connection = std::make_unique<Connection>(*this, fd, text);
        if (m_config.tls && !(connection->tls = m_config.tls->NewSession(fd)))
            continue; // out of memory: closed

        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Watch(std::move(connection), EPOLL_CTL_ADD);
    }
    if (!EpollSet(m_epoll.get(), m_listen.get(), LISTEN_TAG, EPOLLIN | EPOLLONESHOT, EPOLL_CTL_MOD))
        perror("quillet-server: no longer accepting connections");
}

// Hands a connection to the epoll set until it has bytes to read (or ends),
// or room to send what TLS must send first.
void Server::Watch(std::unique_ptr<Connection> connection, int operation)
{
    const int fd = connection->fd.get();
    const uint32_t events = (connection->wantWrite ? EPOLLOUT : EPOLLIN) | EPOLLRDHUP | EPOLLONESHOT;
    connection->idleSince = Clock::now();
    uint64_t tag;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (operation == EPOLL_CTL_ADD)
            connection->tag = m_nextTag++;
        tag = connection->tag;
        m_idle.emplace(tag, std::move(connection));
    }
    if (!EpollSet(m_epoll.get(), fd, tag, events, operation)) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_idle.erase(tag);
    }
}

// The connection behind an event, unless the idle sweep has closed it.
std::unique_ptr<Server::Connection> Server::Take(uint64_t tag)
{
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_idle.find(tag);
    if (it == m_idle.end())
        return nullptr;
    std::unique_ptr<Connection> connection = std::move(it->second);
    m_idle.erase(it);
    return connection;
}

// Whether a connection has had its time: quiet for too long, a request
// that has not arrived whole in time, or a lingering end.
bool Server::Overdue(const Connection &connection, Clock::time_point now) const
{
    if (connection.lingering)
        return now >= connection.lingerUntil;
    if (connection.Midway())
        return now - connection.requestStart > std::chrono::seconds(m_config.requestSeconds);
    return now - connection.idleSince > std::chrono::seconds(m_config.idleSeconds);
}

// Once a second, one worker ends the connections that have had their time.
// A client whose request has not arrived whole hears 408 first.
void Server::CloseIdle()
{
    const Clock::time_point now = Clock::now();
    const int64_t second = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    int64_t last = m_lastSweep.load();
    if (second == last || !m_lastSweep.compare_exchange_strong(last, second))
        return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (auto it = m_idle.begin(); it != m_idle.end();) {
            Connection &connection = *it->second;
            if (!Overdue(connection, now)) {
                ++it;
                continue;
            }
            if (!connection.lingering && connection.Midway())
                connection.SendNow({408, "request took too long"});
            it = m_idle.erase(it);
        }
    }
    // Memory of unfinished requests goes back to the system once they end.
    if (m_trimDue.exchange(false))
        malloc_trim(0);
}

bool Server::Admit(const std::string &peer)
{
    std::lock_guard<std::mutex> lock(m_countLock);
    int &mine = m_perAddress[peer];
    const bool capped = peer != m_config.trustedProxy;
    if (m_connections >= m_maxConnections || (capped && mine >= m_config.maxPerAddress)) {
        if (mine == 0)
            m_perAddress.erase(peer);
        return false;
    }
    mine++;
    m_connections++;
    return true;
}

void Server::Release(const std::string &peer)
{
    std::lock_guard<std::mutex> lock(m_countLock);
    auto it = m_perAddress.find(peer);
    if (it != m_perAddress.end() && --it->second == 0)
        m_perAddress.erase(it);
    m_connections--;
}

void Server::Serve(std::unique_ptr<Connection> connection)
{
    const int timeoutMs = m_config.sendTimeoutSeconds * 1000;
    for (;;) {
        HttpRequest request;
        ParseResult parsed = ReadRequest(*connection, &request);
        if (parsed.state == ParseState::Empty || parsed.state == ParseState::Incomplete) {
            if (!connection->ended)
                Watch(std::move(connection), EPOLL_CTL_MOD);
            else
                connection->EndTls();
            return;
        }
        const bool done = parsed.state == ParseState::Done;
        const bool proxied = connection->peer == m_config.trustedProxy && !request.forwardedFor.empty();
        Reply reply = done ? m_service.Handle(request, proxied ? request.forwardedFor : connection->peer)
                           : Reply{parsed.status, parsed.text};
        const bool keep = done && request.keepAlive && !m_stopping;
        if (!connection->Send(FormatReply(reply, keep, request.http10), timeoutMs) || !keep) {
            Linger(std::move(connection));
            return;
        }
        // The clock of a request sent along with this one starts now.
        connection->Consume(parsed.used);
        connection->requestStart = Clock::now();
    }
}

// Closing with unread bytes would reset the connection, and a reset can
// destroy the reply before the client has read it: the end is sent, and
// what the client still sends is dropped as it comes, for a moment at most,
// by whichever worker is free. No worker waits for it.
void Server::Linger(std::unique_ptr<Connection> connection)
{
    connection->EndTls();
    shutdown(connection->fd.get(), SHUT_WR);
    connection->lingering = true;
    connection->wantWrite = false;
    connection->lingerUntil = Clock::now() + std::chrono::milliseconds(LINGER_MS);
    m_buffered -= connection->in.size();
    connection->in.clear();
    connection->in.shrink_to_fit();
    m_trimDue = true;
    Drain(std::move(connection));
}

void Server::Drain(std::unique_ptr<Connection> connection)
{
    char scrap[4096];
    for (;;) {
        ssize_t n = recv(connection->fd.get(), scrap, sizeof scrap, 0);
        if (n > 0 || (n < 0 && errno == EINTR))
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            Watch(std::move(connection), EPOLL_CTL_MOD);
        return;
    }
}

// Reads what has arrived without waiting. Done or Failed when a reply is due;
// otherwise Empty or Incomplete, and `ended` tells whether more can come.
ParseResult Server::ReadRequest(Connection &connection, HttpRequest *request)
{
    for (;;) {
        ParseResult parsed = ParseRequest(connection.in, m_config.limits, request);
        if (parsed.state == ParseState::Empty)
            connection.Consume(parsed.used);
        if (parsed.state == ParseState::Done || parsed.state == ParseState::Failed || connection.ended)
            return parsed;
        const ssize_t n = connection.Read();
        if (n > 0) {
            // Half-sent requests may hold only so much memory in all.
            if (m_buffered.load() > m_config.maxBuffered) {
                connection.ended = true;
                return {ParseState::Failed, 0, 503, "too busy, try again later"};
            }
            continue;
        }
        if (n < 0)
            return parsed;
        connection.ended = true;
        if (!connection.broken && parsed.state == ParseState::Incomplete)
            return {ParseState::Failed, 0, 400, "request ended early"};
        return parsed;
    }
}
