// The native benchmarks: the hexadecimal dump of a file ("hexdump FILE"),
// and a local server that answers every request on a port with one reply
// of 1 MB in the chunked coding ("serve-chunked PORT"), for the HTTP client
// and for curl alike.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include "clipboard/blockcalc.h"

namespace {

constexpr size_t MB = size_t(1) << 20;
constexpr size_t CHUNK = 16384;

double Seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The least time of five dumps into one buffer, as the program's viewer
// dumps into a block of its own.
int HexDumpFile(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string data{std::istreambuf_iterator<char>(in), {}};
    std::unique_ptr<char[]> out(new char[HexDumpSize(data.size())]);
    double best = 1e30;
    for (int i = 0; i < 5; i++) {
        const double start = Seconds();
        HexDump(reinterpret_cast<const uint8_t *>(data.data()), data.size(), out.get());
        best = std::min(best, Seconds() - start);
    }
    printf("hexdump.native %.6f\n", best);
    return 0;
}

std::string ChunkedReply()
{
    std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n"
                        "Connection: close\r\n\r\n";
    char size[16];
    snprintf(size, sizeof size, "%zx\r\n", CHUNK);
    for (size_t sent = 0; sent < MB; sent += CHUNK)
        reply += size + std::string(CHUNK, 'c') + "\r\n";
    return reply + "0\r\n\r\n";
}

bool SendAll(int fd, const std::string &text)
{
    for (size_t done = 0; done < text.size();) {
        ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// One connection: the request up to its blank line, then the reply.
void Answer(int fd, const std::string &reply)
{
    std::string request;
    char buf[4096];
    ssize_t n;
    while (request.find("\r\n\r\n") == std::string::npos && (n = recv(fd, buf, sizeof buf, 0)) > 0)
        request.append(buf, size_t(n));
    SendAll(fd, reply);
    close(fd);
}

int ServeChunked(int port)
{
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(listener, 16) != 0) {
        perror("serve-chunked");
        return 1;
    }
    const std::string reply = ChunkedReply();
    for (int fd; (fd = accept(listener, nullptr, nullptr)) >= 0;)
        Answer(fd, reply);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "hexdump") == 0)
        return HexDumpFile(argv[2]);
    if (argc == 3 && strcmp(argv[1], "serve-chunked") == 0)
        return ServeChunked(atoi(argv[2]));
    fprintf(stderr, "usage: quillet_bench_native hexdump FILE | serve-chunked PORT\n");
    return 2;
}
