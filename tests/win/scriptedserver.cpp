#include "scriptedserver.h"
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

DWORD WINAPI ScriptedServer::Run(void *self)
{
    auto *server = static_cast<ScriptedServer *>(self);
    for (SOCKET client; (client = accept(server->m_listener, nullptr, nullptr)) != INVALID_SOCKET;) {
        std::string request;
        char buf[4096];
        for (int got; (got = recv(client, buf, sizeof buf, 0)) > 0;)
            request.append(buf, got);
        std::vector<std::string> pieces;
        {
            std::lock_guard<std::mutex> guard(server->m_lock);
            server->m_requests.push_back(request);
            pieces =
                server->m_answer ? std::vector<std::string>{server->m_answer(request)} : server->m_pieces;
        }
        for (const std::string &piece : pieces) {
            send(client, piece.data(), (int)piece.size(), 0);
            Sleep(50);
        }
        while (server->m_stall && !server->m_stop)
            Sleep(20);
        closesocket(client);
    }
    return 0;
}

std::string RefusingHost()
{
    return ScriptedServer().host;
}
