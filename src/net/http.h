#pragma once
// A minimal blocking HTTP/1.1 client over Windows Sockets: each call opens
// one connection to the server, sends one request, half-closes, and reads
// the reply (net/httpreply.h).
#include <cstddef>
#include <cstdint>

// The server the program talks to. The root setting "ServerHost" ("host" or
// "host:port", port 80 when none is given) overrides `SERVER_HOST`, so that
// a user can point the program at a service of their own; the Host header
// carries it as configured.
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
