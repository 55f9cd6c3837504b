#include "net/http.h"
#include <winsock2.h>
#include <ws2tcpip.h>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "net/httpreply.h"
#include "net/serverhost.h"
#include "net/tls.h"
#include "settings/registry.h"
#include "util/safefns.h"
#include "util/socketguards.h"

namespace {

uint32_t m_HttpTimeoutMs = HTTP_TIMEOUT_MS;

// "https://host:port" with a host name of up to 253 characters.
const DWORD HOST_SIZE = 270;

// Why the last exchange of a thread found no secure connection, and the
// certificate it was shown.
thread_local TlsProblem m_TlsProblem;
thread_local char m_Fingerprint[FINGERPRINT_SIZE];

bool ConfiguredHost(ServerHost *host)
{
    char setting[HOST_SIZE];
    GetSettingsStringA(nullptr, "ServerHost", SERVER_HOST, setting, sizeof setting);
    return ParseServerHost(setting, host);
}

// The IPv4 address of the server; false when the name does not resolve.
bool Resolve(const ServerHost &host, sockaddr_in *address)
{
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.name, host.port, &hints, &found) != 0)
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

int ReceiveFromTls(void *ctx, char *dst, size_t room)
{
    return static_cast<TlsStream *>(ctx)->Receive(dst, room);
}

// Connected to the configured server; false when the setting is malformed,
// the name does not resolve or nobody answers.
bool ConnectServer(const ServerHost &host, const SocketHandle &s)
{
    sockaddr_in address = {};
    return Resolve(host, &address) && s.ok() && Connect(s.get(), address);
}

// The handshake, and the certificate judged against the one the user
// trusted; false, with the reason kept for LastTlsProblem, when the
// connection is not secure.
bool Secure(TlsStream &tls, const ServerHost &host)
{
    char trusted[FINGERPRINT_SIZE];
    GetSettingsStringA(nullptr, "ServerFingerprint", "", trusted, sizeof trusted);
    if (!tls.Handshake(host.name)) {
        m_TlsProblem = TLS_FAILED;
        return false;
    }
    const CertVerdict verdict = tls.Judge(host.name, trusted, m_Fingerprint);
    m_TlsProblem = verdict == CERT_TRUSTED   ? TLS_OK
                   : verdict == CERT_UNKNOWN ? TLS_UNKNOWN_CERT
                                             : TLS_CHANGED_CERT;
    return verdict == CERT_TRUSTED;
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
    m_TlsProblem = TLS_OK;
    WsaSession wsa;
    ServerHost host;
    if (!wsa.ok() || !ConfiguredHost(&host))
        return 0;
    SocketHandle s(socket(AF_INET, SOCK_STREAM, 0));
    if (!ConnectServer(host, s))
        return 0;
    TlsStream tls(s.get());
    const bool sent =
        host.tls ? Secure(tls, host) && tls.Send(request, strlen(request)) : SendAll(s.get(), request);
    if (!sent)
        return 0;
    // Nothing more to send: the server closes after its reply, which ends a
    // body without the chunked coding. Over TLS too, the socket's end says
    // so; the replies still come through TLS.
    shutdown(s.get(), SD_SEND);
    if (host.tls)
        return ReadHttpReply(ReceiveFromTls, &tls, status, body, size);
    SOCKET raw = s.get();
    return ReadHttpReply(ReceiveFromSocket, &raw, status, body, size);
}

TlsProblem CheckServerCertificate(char (&fingerprint)[FINGERPRINT_SIZE])
{
    fingerprint[0] = '\0';
    WsaSession wsa;
    ServerHost host;
    if (!wsa.ok() || !ConfiguredHost(&host) || !host.tls)
        return TLS_OK;
    SocketHandle s(socket(AF_INET, SOCK_STREAM, 0));
    if (!ConnectServer(host, s))
        return TLS_OK;
    TlsStream tls(s.get());
    m_TlsProblem = TLS_OK;
    Secure(tls, host);
    memcpy(fingerprint, m_Fingerprint, sizeof fingerprint);
    return m_TlsProblem;
}

TlsProblem LastTlsProblem(char (&fingerprint)[FINGERPRINT_SIZE])
{
    memcpy(fingerprint, m_Fingerprint, sizeof fingerprint);
    return m_TlsProblem;
}

// The Host header as the setting names the server, without its scheme.
const char *HostHeader(ServerHost &host)
{
    return ConfiguredHost(&host) ? host.header : "";
}

uint32_t DoHttpGet(const char *path, const char *query, char *body, size_t size)
{
    ServerHost host;
    return Exchange(NewText("GET %s?%s HTTP/1.1\r\nHost: %s\r\n\r\n", path, query, HostHeader(host)), body,
                    size);
}

uint32_t DoHttpPost(const char *path, const char *form, char *body, size_t size)
{
    ServerHost host;
    return Exchange(NewText("POST %s HTTP/1.1\r\nHost: %s\r\nContent-Length: %u\r\n"
                            "Content-Type: application/x-www-form-urlencoded\r\n\r\n%s\r\n",
                            path, HostHeader(host), static_cast<unsigned>(strlen(form)), form),
                    body, size);
}

void SetHttpTimeout(uint32_t ms)
{
    m_HttpTimeoutMs = ms;
}
