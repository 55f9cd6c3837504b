#pragma once
// TLS over a connected socket with Schannel: the handshake, the judgement of
// the server's certificate, and the encrypted stream. The socket's own
// time-outs bound every wait.
#include <winsock2.h>
#define SECURITY_WIN32
#include <security.h>
#include <cstddef>
#include <vector>
#include "net/http.h"

enum CertVerdict {
    CERT_TRUSTED, // by the system (chain and host name), or its fingerprint is the trusted one
    CERT_UNKNOWN, // the system does not trust it, and no fingerprint is trusted yet
    CERT_CHANGED, // the system does not trust it, and it is not the trusted fingerprint
};

class TlsStream {
public:
    explicit TlsStream(SOCKET s) : m_socket(s) {}
    ~TlsStream();
    TlsStream(const TlsStream &) = delete;
    TlsStream &operator=(const TlsStream &) = delete;

    // False when no secure connection could be agreed.
    bool Handshake(const char *host);
    // The server certificate's fingerprint and whether it may be trusted;
    // `trusted` is the fingerprint the user accepted before ("" for none).
    CertVerdict Judge(const char *host, const char *trusted, char (&fingerprint)[FINGERPRINT_SIZE]);
    bool Send(const char *data, size_t len);
    // As recv: the bytes read, 0 once the server has closed, below 0 on failure.
    int Receive(char *dst, size_t room);

private:
    bool SendToken(SecBuffer &token);
    bool ReadMore();
    bool Continue(bool waitFirst);
    enum Decrypted { DECRYPTED, MORE_NEEDED, CLOSED, FAILED };
    // Decrypts one record of what has arrived into m_plain.
    Decrypted Decrypt();

    SOCKET m_socket;
    CredHandle m_cred = {};
    CtxtHandle m_ctx = {};
    bool m_haveCred = false, m_haveCtx = false;
    SecPkgContext_StreamSizes m_sizes = {};
    std::vector<char> m_in;    // received, not yet decrypted
    std::vector<char> m_plain; // decrypted, not yet handed out
};
