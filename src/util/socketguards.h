#pragma once
// Owners for Windows Sockets: a start-up and a socket. Copying is forbidden.
#include <winsock2.h>

// Windows Sockets counts start-ups per process, so every exchange, on any
// thread, pairs its own.
class WsaSession {
public:
    WsaSession()
    {
        WSADATA data;
        m_ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WsaSession()
    {
        if (m_ok)
            WSACleanup();
    }
    WsaSession(const WsaSession &) = delete;
    WsaSession &operator=(const WsaSession &) = delete;
    bool ok() const { return m_ok; }

private:
    bool m_ok;
};

class SocketHandle {
public:
    explicit SocketHandle(SOCKET s) : m_s(s) {}
    ~SocketHandle()
    {
        if (ok())
            closesocket(m_s);
    }
    SocketHandle(const SocketHandle &) = delete;
    SocketHandle &operator=(const SocketHandle &) = delete;
    bool ok() const { return m_s != INVALID_SOCKET; }
    SOCKET get() const { return m_s; }

private:
    SOCKET m_s;
};
