#pragma once
// Reading of one HTTP/1.1 reply, and of the key=value texts the server puts
// in reply bodies. Portable: the bytes come from a receive function, a socket
// in the program, a script in the tests and the fuzzer.
#include <cstddef>
#include <cstdint>

// One receive of at most `room` bytes into dst: the number of bytes
// received, 0 when the peer has closed, negative on an error or a time-out.
using ReceiveFn = int (*)(void *ctx, char *dst, size_t room);

// Each receive asks for at most this many bytes. A receive that has to wait
// for data costs far more than its copy (about 150 microseconds in a Wine
// process with windows), so large ones read a long reply in few waits.
constexpr size_t RECV_MAX = 65532;

// Reads the status line, the header and the body of one reply. The body is
// chunked when the header says exactly "Transfer-Encoding: chunked", else it
// ends when the peer closes (Content-Length is not consulted). body (capacity
// size) is zeroed first and always terminated; a chunk is stored whole or not
// at all, and nothing is stored after the first one that does not fit. A
// plain body is one chunk: of size bytes or more it is not stored. The status
// stays 0 until a status line has been read; the first error, time-out or
// close ends the reading. Returns the length of the body text.
size_t ReadHttpReply(ReceiveFn receive, void *ctx, uint32_t *status, char *body, size_t size);

// The number after "key=" in text, read as decimal (white space and a sign
// allowed, no digits give 0), or -1 when the key's first occurrence is not
// followed directly by '='. The key need not start a line.
int32_t FindKeyValueUL(const char *text, const char *key);
// The text after "key=" up to the first CR (a LF alone does not end it), as
// a new copy released with free(); null when the key counts as absent.
char *FindKeyValueStr(const char *text, const char *key);
