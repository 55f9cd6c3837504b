#pragma once
// Clients of the service for its tests, as the Windows client speaks: the
// request, a half-close, and the reply read to the end of the connection.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>
#include "fd.h"

// A connection to the service that reads time out after `seconds`.
inline UniqueFd Connect(uint16_t port, int seconds = 30)
{
    UniqueFd fd(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout = {seconds, 0};
    setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (connect(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        return UniqueFd(-1);
    return fd;
}

// What the service sends on a connection before it ends or goes quiet.
inline std::string ReadAll(int fd)
{
    std::string reply;
    char buffer[65536];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
        reply.append(buffer, size_t(n));
    return reply;
}

// A connection that has sent `text` (blocking: all of it, or up to where the
// server stopped reading) and stays open.
inline UniqueFd Sent(uint16_t port, const std::string &text, int seconds = 30)
{
    UniqueFd fd = Connect(port, seconds);
    if (fd.ok())
        send(fd.get(), text.data(), text.size(), MSG_NOSIGNAL);
    return fd;
}

inline std::string Exchange(uint16_t port, const std::string &request, int seconds = 30)
{
    UniqueFd fd = Sent(port, request, seconds);
    shutdown(fd.get(), SHUT_WR);
    return fd.ok() ? ReadAll(fd.get()) : "";
}

// "status body" of an HTTP/1.1 reply; anything else as it came.
inline std::string Said(const std::string &reply)
{
    size_t end = reply.find("\r\n\r\n");
    if (reply.compare(0, 9, "HTTP/1.1 ") != 0 || end == std::string::npos)
        return reply;
    return reply.substr(9, 3) + " " + reply.substr(end + 4);
}

// The real program with `args`, listening on 127.0.0.1 on a free port of its
// own choosing (0 when it did not start); `lines` gets what it printed
// until it said so.
inline pid_t StartProgram(const std::vector<std::string> &args, uint16_t *port, std::string *lines = nullptr)
{
    *port = 0;
    int out[2];
    if (pipe(out) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<const char *> argv = {QUILLET_SERVER_EXE, "--bind", "127.0.0.1", "--port", "0"};
        for (const std::string &arg : args)
            argv.push_back(arg.c_str());
        argv.push_back(nullptr);
        dup2(out[1], 1);
        execv(QUILLET_SERVER_EXE, const_cast<char *const *>(argv.data()));
        _exit(127);
    }
    close(out[1]);
    FILE *said = fdopen(out[0], "r");
    char line[512];
    unsigned listening = 0;
    while (!listening && fgets(line, sizeof line, said)) {
        if (lines)
            *lines += line;
        sscanf(line, "quillet-server: listening on 127.0.0.1:%u", &listening);
    }
    fclose(said);
    *port = uint16_t(listening);
    return pid;
}
