#pragma once
// The HTTP side: a listening socket and a pool of worker threads that share
// one epoll set. A worker takes a connection when it has bytes to read, reads
// one request, answers it and hands the connection back to the set, so slow
// acts (a key hash, a synced commit) hold up only their own worker. The
// client half-closes after its request and reads the reply to the end of the
// connection, so it is closed as soon as its end arrives; other clients may
// send further requests on the same connection. Given a TLS context, it
// speaks HTTPS on the same terms: a handshake or TLS record that waits for
// more bytes hands the connection back like a half-read request.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include "fd.h"
#include "request.h"
#include "service.h"
#include "tls.h"

struct ServerConfig {
    std::string bind = "0.0.0.0";
    uint16_t port = 8080; // 0 picks a free one
    int threads = 0;      // 0: twice the processors, at least 4
    RequestLimits limits;
    int sendTimeoutSeconds = 5; // a reply that makes no progress for this long is dropped
    int idleSeconds = 10;       // without a byte from the client
    int requestSeconds = 10;    // from a request's first byte to its last
    int maxConnections = 4096;  // in all, less what the descriptor limit keeps in reserve
    int maxPerAddress = 256;
    size_t maxBuffered = 64u << 20; // bytes of unfinished requests, all connections together
    // A load balancer in front: its connections are not capped per address,
    // and its requests count as those of the address it forwards.
    std::string trustedProxy = "";
    std::shared_ptr<const TlsContext> tls = nullptr; // HTTPS when set, plain HTTP without
};

class Server {
public:
    // Binds and listens; throws std::runtime_error when that fails.
    Server(Service &service, const ServerConfig &config);
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    uint16_t Port() const { return m_port; }
    // Bytes of unfinished requests held now, and connections open.
    size_t Buffered() const { return m_buffered.load(); }
    int Connections()
    {
        std::lock_guard<std::mutex> lock(m_countLock);
        return m_connections;
    }
    void Start();
    // Lets the requests in progress finish, then joins the workers.
    void Stop();

private:
    struct Connection;
    using Clock = std::chrono::steady_clock;

    void Work();
    void AcceptAll();
    void Watch(std::unique_ptr<Connection> connection, int operation);
    std::unique_ptr<Connection> Take(uint64_t tag);
    void CloseIdle();
    bool Overdue(const Connection &connection, Clock::time_point now) const;
    void Serve(std::unique_ptr<Connection> connection);
    void Linger(std::unique_ptr<Connection> connection);
    void Drain(std::unique_ptr<Connection> connection);
    ParseResult ReadRequest(Connection &connection, HttpRequest *request);
    bool Admit(const std::string &peer);
    void Release(const std::string &peer);

    Service &m_service;
    const ServerConfig m_config;
    UniqueFd m_listen;
    UniqueFd m_epoll;
    UniqueFd m_wake;
    uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::vector<std::thread> m_workers;
    std::mutex m_lock;
    std::map<uint64_t, std::unique_ptr<Connection>> m_idle; // waiting in the epoll set, by tag
    uint64_t m_nextTag = 2;
    std::atomic<int64_t> m_lastSweep{0};
    // Connections open, by address and in all; their own lock, since a
    // connection ends also under m_lock.
    std::mutex m_countLock;
    std::map<std::string, int> m_perAddress;
    int m_connections = 0;
    int m_maxConnections;
    std::atomic<size_t> m_buffered{0};
    std::atomic<bool> m_trimDue{false};
};
