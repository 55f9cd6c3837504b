#include "net/http.h"
#include <winsock2.h>
#include <ws2tcpip.h>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "net/httpreply.h"
#include "settings/registry.h"
#include "util/safefns.h"
#include "util/socketguards.h"

namespace {

uint32_t m_HttpTimeoutMs = HTTP_TIMEOUT_MS;

// "host:port" with a host name of up to 253 characters.
const DWORD HOST_SIZE = 262;

void ConfiguredHost(char *host)
{
    GetSettingsStringA(nullptr, "ServerHost", SERVER_HOST, host, HOST_SIZE);
}

bool ValidPort(const char *port)
{
    size_t digits = strspn(port, "0123456789");
    if (digits == 0 || digits > 5 || port[digits])
        return false;
    long n = atol(port);
    return n >= 1 && n <= 65535;
}

// The IPv4 address of the configured server; false when the setting is
// malformed or the name does not resolve.
bool ResolveServer(sockaddr_in *address)
{
    char host[HOST_SIZE];
    ConfiguredHost(host);
    const char *port = "80";
    char *colon = strrchr(host, ':');
    if (colon) {
        *colon = '\0';
        port = colon + 1;
        if (!ValidPort(port))
            return false;
    }
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host, port, &hints, &found) != 0)
        return false;
    memcpy(address, found->ai_addr, sizeof *address);
    freeaddrinfo(found);
    return true;
}

// Windows reports a connection made in the write set, a failed one in the
// exception set.
bool WaitConnected(SOCKET s)
{
    fd_set made, failed;
    FD_ZERO(&made);
    FD_SET(s, &made);
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval limit = {static_cast<long>(m_HttpTimeoutMs / 1000),
                     static_cast<long>(m_HttpTimeoutMs % 1000 * 1000)};
    return select(0, nullptr, &made, &failed, &limit) > 0 && FD_ISSET(s, &made);
}

// A blocking connect has no time-out of its own: connect without blocking
// and wait, then block again with time-outs on sending and receiving.
bool Connect(SOCKET s, const sockaddr_in &address)
{
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0)
        return false;
    if (connect(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 &&
        (WSAGetLastError() != WSAEWOULDBLOCK || !WaitConnected(s)))
        return false;
    u_long blocking = 0;
    DWORD timeout = m_HttpTimeoutMs;
    const char *option = reinterpret_cast<const char *>(&timeout);
    return ioctlsocket(s, FIONBIO, &blocking) == 0 &&
           setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, option, sizeof timeout) == 0 &&
           setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, option, sizeof timeout) == 0;
}

// A send may take only part of the text; the rest must follow.
bool SendAll(SOCKET s, const char *text)
{
    size_t left = strlen(text);
    while (left > 0) {
        int sent = send(s, text, static_cast<int>(left < INT_MAX ? left : INT_MAX), 0);
        if (sent <= 0)
            return false;
        text += sent;
        left -= static_cast<size_t>(sent);
    }
    return true;
}

int ReceiveFromSocket(void *ctx, char *dst, size_t room)
{
    return recv(*static_cast<SOCKET *>(ctx), dst, static_cast<int>(room), 0);
}

// The formatted text in a new buffer released with free(), or null.
__attribute__((format(printf, 1, 2))) char *NewText(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int len = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    char *text = len < 0 ? nullptr : static_cast<char *>(xmalloc(static_cast<size_t>(len) + 1));
    if (text) {
        va_start(args, format);
        vsnprintf(text, static_cast<size_t>(len) + 1, format, args);
        va_end(args);
    }
    return text;
}

// Runs the request and releases it; without one, no request is made.
uint32_t Exchange(char *request, char *body, size_t size)
{
    uint32_t status = 0;
    if (request)
        DoHttpSocketEx(request, &status, size, body);
    else if (size)
        memset(body, 0, size);
    free(request);
    return status;
}

} // namespace

size_t DoHttpSocketEx(const char *request, uint32_t *status, size_t size, char *body)
{
    if (size)
        memset(body, 0, size);
    *status = 0;
    WsaSession wsa;
    sockaddr_in address = {};
    if (!wsa.ok() || !ResolveServer(&address))
        return 0;
    SocketHandle s(socket(AF_INET, SOCK_STREAM, 0));
    if (!s.ok() || !Connect(s.get(), address) || !SendAll(s.get(), request))
        return 0;
    // Nothing more to send: the server closes after its reply, which ends a
    // body without the chunked coding.
    shutdown(s.get(), SD_SEND);
    SOCKET raw = s.get();
    return ReadHttpReply(ReceiveFromSocket, &raw, status, body, size);
}

uint32_t DoHttpGet(const char *path, const char *query, char *body, size_t size)
{
    char host[HOST_SIZE];
    ConfiguredHost(host);
    return Exchange(NewText("GET %s?%s HTTP/1.1\r\nHost: %s\r\n\r\n", path, query, host), body, size);
}

uint32_t DoHttpPost(const char *path, const char *form, char *body, size_t size)
{
    char host[HOST_SIZE];
    ConfiguredHost(host);
    return Exchange(NewText("POST %s HTTP/1.1\r\nHost: %s\r\nContent-Length: %u\r\n"
                            "Content-Type: application/x-www-form-urlencoded\r\n\r\n%s\r\n",
                            path, host, static_cast<unsigned>(strlen(form)), form),
                    body, size);
}

void SetHttpTimeout(uint32_t ms)
{
    m_HttpTimeoutMs = ms;
}
