#pragma once
// A loopback HTTP server on a thread of the test, pointed at by "ServerHost"
// while it exists. It records each request up to the client's half-close and
// answers with the pieces, 50 ms apart so that they arrive in separate
// receives; with `stall` it then holds the connection until it ends.
#include <winsock2.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class ScriptedServer {
public:
    explicit ScriptedServer(std::vector<std::string> pieces = {}, bool stall = false);
    // Answers each request with what `answer` makes of it, in one piece.
    using Answer = std::function<std::string(const std::string &request)>;
    explicit ScriptedServer(Answer answer);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer &) = delete;
    ScriptedServer &operator=(const ScriptedServer &) = delete;
    std::vector<std::string> Requests();
    std::string host; // "127.0.0.1:port"

private:
    static DWORD WINAPI Run(void *self);
    std::vector<std::string> m_pieces, m_requests;
    bool m_stall;
    Answer m_answer;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    SOCKET m_listener;
    HANDLE m_thread;
};

// "127.0.0.1:port" of a port where nothing listens any more.
std::string RefusingHost();
