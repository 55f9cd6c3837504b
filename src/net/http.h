#pragma once
// A minimal blocking HTTP/1.1 client over Windows Sockets: each call opens
// one connection to the server, sends one request, half-closes, and reads
// the reply (net/httpreply.h).
#include <cstddef>
#include <cstdint>

// The server the program talks to. The root setting "ServerHost" ("host" or
// "host:port", port 80 when none is given; "https://host[:port]" for TLS,
// port 443 when none is given) overrides `SERVER_HOST`, so that a user can
// point the program at a service of their own; the Host header carries it
// as configured, without the scheme. Over TLS the server's certificate must
// be trusted by the system or be the one whose SHA-256 fingerprint the
// setting "ServerFingerprint" holds.
#define SERVER_HOST "localhost"
#define VCHK_PATH "/software/vercheck.php"
#define SYNC_PATH "/software/quillet/qlsync.php"

// Time-out of the connect, of every send and of every receive, in ms: a
// server that accepts and never answers must not hold the program for ever.
// A time-out ends the exchange as a closed connection would.
constexpr uint32_t HTTP_TIMEOUT_MS = 30000;
void SetHttpTimeout(uint32_t ms);

// Sends the complete request text and reads the reply into body (capacity
// size, zeroed first). Returns the length of the body text; the status stays
// 0 when no connection is made or no status line arrives. 200 is the only
// success.
size_t DoHttpSocketEx(const char *request, uint32_t *status, size_t size, char *body);
// GET path?query, or POST of a form-encoded body to path; the status, or 0
// when the request text cannot be allocated or no status line arrives.
uint32_t DoHttpGet(const char *path, const char *query, char *body, size_t size);
uint32_t DoHttpPost(const char *path, const char *form, char *body, size_t size);

// "AA:BB:...": SHA-256 of a certificate as 32 hexadecimal pairs.
constexpr size_t FINGERPRINT_SIZE = 96;

// Why an exchange found no secure connection.
enum TlsProblem {
    TLS_OK,           // none: plain HTTP, or a trusted certificate
    TLS_FAILED,       // no TLS handshake could be agreed
    TLS_UNKNOWN_CERT, // the system does not trust the certificate, and none is trusted by fingerprint
    TLS_CHANGED_CERT, // the system does not trust it, and it is not the one trusted by fingerprint
};
// The problem of this thread's last exchange and the fingerprint of the
// certificate the server showed ("" when none).
TlsProblem LastTlsProblem(char (&fingerprint)[FINGERPRINT_SIZE]);
// Connects to the configured server and judges its certificate without a
// request; TLS_OK also when the server is not reached or not over TLS.
TlsProblem CheckServerCertificate(char (&fingerprint)[FINGERPRINT_SIZE]);
