#pragma once
// Clients of the service for its tests, as the Windows client speaks: the
// request, a half-close, and the reply read to the end of the connection.
#include <sys/types.h>
#include <cstdint>
#include <string>
#include <vector>
#include "fd.h"

// A connection to the service that reads time out after `seconds`.
UniqueFd Connect(uint16_t port, int seconds = 30);
// What the service sends on a connection (or a program to a pipe) before it
// ends or goes quiet.
std::string ReadAll(int fd);
// A connection that has sent `text` (blocking: all of it, or up to where the
// server stopped reading) and stays open.
UniqueFd Sent(uint16_t port, const std::string &text, int seconds = 30);
std::string Exchange(uint16_t port, const std::string &request, int seconds = 30);
// "status body" of an HTTP/1.1 reply; anything else as it came.
std::string Said(const std::string &reply);

// The real program with `args`, listening on 127.0.0.1 on a free port of its
// own choosing (0 when it did not start); `lines` gets what it printed
// until it said so.
pid_t StartProgram(const std::vector<std::string> &args, uint16_t *port, std::string *lines = nullptr);
