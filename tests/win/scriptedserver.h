#pragma once
// A loopback HTTP server on a thread of the test, pointed at by "ServerHost"
// while it exists. It records each request up to the client's half-close and
// answers it; a '\f' in an answer splits it into pieces sent 50 ms apart, so
// that they arrive in separate receives. With `stall` it then holds the
// connection until it ends. A request of a broken act meets its fault instead.
#include <winsock2.h>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// How a reply breaks off: cut halfway through its body and reset, never sent
// (the connection held until the server ends), status 200 with random bytes,
// or the server killed (this connection and every later one reset unanswered).
enum class Fault { None, Reset, Silent, Garbage, Killed };

class ScriptedServer {
public:
    using Answer = std::function<std::string(const std::string &request)>;
    explicit ScriptedServer(Answer answer, bool stall = false);
    explicit ScriptedServer(const std::string &reply = "", bool stall = false)
        : ScriptedServer([reply](const std::string &) { return reply; }, stall)
    {
    }
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer &) = delete;
    ScriptedServer &operator=(const ScriptedServer &) = delete;
    std::vector<std::string> Requests();
    // Requests of this sync act ("act=..." in their form) meet `fault`.
    void Break(const std::string &act, Fault fault);
    std::string host; // "127.0.0.1:port"

private:
    static DWORD WINAPI Run(void *self);
    void Reply(SOCKET client, std::string reply, Fault fault);
    Answer m_answer;
    bool m_stall, m_killed = false;
    std::vector<std::string> m_requests;
    std::map<std::string, Fault> m_breaks;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    SOCKET m_listener;
    HANDLE m_thread;
};

// The sync act a request names ("" for none).
std::string ActOf(const std::string &request);
// "127.0.0.1:port" of a port where nothing listens any more.
std::string RefusingHost();
