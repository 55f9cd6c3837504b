#include "scriptedserver.h"
#include <algorithm>
#include <random>
#include "settings/registry.h"

ScriptedServer::ScriptedServer(Answer answer, bool stall) : m_answer(std::move(answer)), m_stall(stall)
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
    auto *s = static_cast<ScriptedServer *>(self);
    for (SOCKET client; (client = accept(s->m_listener, nullptr, nullptr)) != INVALID_SOCKET;) {
        std::string request;
        char buf[4096];
        for (int got; (got = recv(client, buf, sizeof buf, 0)) > 0;)
            request.append(buf, got);
        std::unique_lock<std::mutex> guard(s->m_lock);
        s->m_requests.push_back(request);
        auto broken = s->m_breaks.find(ActOf(request));
        const Fault fault = broken == s->m_breaks.end() ? Fault::None : broken->second;
        s->m_killed = s->m_killed || fault == Fault::Killed;
        const std::string reply = s->m_answer(request);
        guard.unlock();
        s->Reply(client, reply, s->m_killed ? Fault::Killed : fault);
    }
    return 0;
}

void ScriptedServer::Reply(SOCKET client, std::string reply, Fault fault)
{
    static std::mt19937 random(7);
    if (fault == Fault::Silent || fault == Fault::Killed)
        reply.clear();
    else if (fault == Fault::Garbage) {
        reply = "HTTP/1.1 200 OK\r\n\r\n";
        for (int i = 0; i < 600; i++)
            reply += static_cast<char>(random());
    } else if (fault == Fault::Reset && !reply.empty())
        reply.resize(reply.size() - (reply.size() - reply.find("\r\n\r\n") - 4) / 2);
    for (size_t at = 0, end; at < reply.size(); at = end + 1) {
        end = std::min(reply.find('\f', at), reply.size());
        send(client, reply.data() + at, (int)(end - at), 0);
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
