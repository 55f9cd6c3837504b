#pragma once
// HTTPS with OpenSSL: the certificate and key every connection's TLS uses,
// and a self-signed pair for those who have no certificate from a CA.
#include <openssl/ssl.h>
#include <memory>
#include <string>
#include <vector>

// Frees an OpenSSL object with its own function, for std::unique_ptr.
template <auto Release> struct OpenSslFree {
    template <typename T> void operator()(T *object) const { Release(object); }
};

using SslPtr = std::unique_ptr<SSL, OpenSslFree<SSL_free>>;

class TlsContext {
public:
    // Reads a PEM certificate (the server's first, then any chain of its CA)
    // and the PEM private key that belongs to it; throws std::runtime_error.
    TlsContext(const std::string &certificateFile, const std::string &keyFile);

    // A server-side session on `fd`, or null when OpenSSL has no memory.
    SslPtr NewSession(int fd) const;
    // The server's certificate's SHA-256 fingerprint, as
    // `openssl x509 -noout -fingerprint -sha256` prints it.
    std::string Fingerprint() const;

private:
    std::unique_ptr<SSL_CTX, OpenSslFree<SSL_CTX_free>> m_context;
};

// Makes a self-signed certificate for `hosts` (names and IP addresses, the
// first also its subject) and its new private key, readable by the owner
// only, unless both files exist already; returns whether it made them.
// Throws std::runtime_error when only one exists or they cannot be written.
bool EnsureSelfSigned(const std::string &certificateFile, const std::string &keyFile,
                      const std::vector<std::string> &hosts);
