#include "scriptedserver.h"
#include <random>
#include "settings/registry.h"

ScriptedServer::ScriptedServer(std::vector<std::string> pieces, bool stall)
    : m_pieces(std::move(pieces)), m_stall(stall)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    bind(m_listener, reinterpret_cast<sockaddr *>(&address), size);
    getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size);
    listen(m_listener, 8);
    host = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    WriteSettingsStringA(nullptr, "ServerHost", host.c_str());
    m_thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

ScriptedServer::ScriptedServer(Answer answer) : ScriptedServer()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_answer = std::move(answer);
}

// Closing the listener ends the thread's accept.
ScriptedServer::~ScriptedServer()
{
    m_stop = true;
    closesocket(m_listener);
    WaitForSingleObject(m_thread, INFINITE);
    CloseHandle(m_thread);
    WSACleanup();
}

std::vector<std::string> ScriptedServer::Requests()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_requests;
}

void ScriptedServer::Break(const std::string &act, Fault fault)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_breaks[act] = fault;
}

DWORD WINAPI ScriptedServer::Run(void *self)
{
    auto *server = static_cast<ScriptedServer *>(self);
    for (SOCKET client; (client = accept(server->m_listener, nullptr, nullptr)) != INVALID_SOCKET;) {
        std::string request;
        char buf[4096];
        for (int got; (got = recv(client, buf, sizeof buf, 0)) > 0;)
            request.append(buf, got);
        std::vector<std::string> pieces;
        Fault fault;
        {
            std::lock_guard<std::mutex> guard(server->m_lock);
            server->m_requests.push_back(request);
            auto broken = server->m_breaks.find(ActOf(request));
            fault = broken == server->m_breaks.end() ? Fault::None : broken->second;
            server->m_killed = server->m_killed || fault == Fault::Killed;
            fault = server->m_killed ? Fault::Killed : fault;
            pieces =
                server->m_answer ? std::vector<std::string>{server->m_answer(request)} : server->m_pieces;
        }
        server->Reply(client, std::move(pieces), fault);
    }
    return 0;
}

void ScriptedServer::Reply(SOCKET client, std::vector<std::string> pieces, Fault fault)
{
    static std::mt19937 random(7);
    if (fault == Fault::Silent || fault == Fault::Killed)
        pieces.clear();
    else if (fault == Fault::Garbage) {
        pieces = {"HTTP/1.1 200 OK\r\n\r\n"};
        for (int i = 0; i < 600; i++)
            pieces[0] += static_cast<char>(random());
    } else if (fault == Fault::Reset && !pieces.empty()) {
        const size_t body = pieces[0].size() - pieces[0].find("\r\n\r\n") - 4;
        pieces = {pieces[0].substr(0, pieces[0].size() - body / 2)};
    }
    for (const std::string &piece : pieces) {
        send(client, piece.data(), (int)piece.size(), 0);
        Sleep(50);
    }
    while ((m_stall || fault == Fault::Silent) && !m_stop)
        Sleep(20);
    if (fault == Fault::Reset || fault == Fault::Killed) {
        const linger abort = {1, 0}; // what was sent has arrived: the 50 ms above
        setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&abort), sizeof abort);
    }
    closesocket(client);
}

std::string ActOf(const std::string &request)
{
    const size_t at = request.find("act=");
    return at == std::string::npos ? ""
                                   : request.substr(at + 4, request.find_first_of("& \r", at + 4) - at - 4);
}

std::string RefusingHost()
{
    return ScriptedServer().host;
}
