// libFuzzer target: any bytes as a server's reply. The first byte is the
// body buffer's size, the second the largest receive; the reply must read
// the same however its bytes arrive, and never past the buffer.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "net/httpreply.h"

namespace {

struct Stream {
    const uint8_t *data;
    size_t size;
    size_t piece; // largest receive, 0 for as much as is asked
};

int Receive(void *ctx, char *dst, size_t room)
{
    auto *s = static_cast<Stream *>(ctx);
    size_t n = std::min(s->size, s->piece ? std::min(room, s->piece) : room);
    memcpy(dst, s->data, n);
    s->data += n;
    s->size -= n;
    return static_cast<int>(n);
}

std::string Read(Stream stream, size_t size, uint32_t *status)
{
    std::vector<char> body(size);
    size_t length = ReadHttpReply(Receive, &stream, status, body.data(), size);
    if (size ? length >= size || body[length] != '\0' : length != 0)
        abort();
    return std::string(body.data(), length);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    uint32_t wholeStatus = 0, piecesStatus = 0;
    const std::string whole = Read({data + 2, size - 2, 0}, data[0], &wholeStatus),
                      pieces = Read({data + 2, size - 2, size_t(data[1]) + 1}, data[0], &piecesStatus);
    if (whole != pieces || wholeStatus != piecesStatus)
        abort();
    // The keys the program reads; a key without a text has no number either.
    for (const char *key : {"Vmajor", "Vminor", "Vbuild", "RelDate", "DataID"}) {
        char *text = FindKeyValueStr(whole.c_str(), key);
        if (text ? strchr(text, '\r') != nullptr : FindKeyValueUL(whole.c_str(), key) != -1)
            abort();
        free(text);
    }
    return 0;
}
