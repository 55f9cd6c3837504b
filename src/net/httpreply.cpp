#include "net/httpreply.h"
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include "util/safefns.h"

namespace {

// The receive block: at least four zero bytes always follow the received data.
struct RecvBuffer {
    char data[RECV_MAX + 4];
    uint32_t pos; // next byte not yet consumed
    uint32_t len; // bytes placed in data by the last receive
};
static_assert(sizeof(RecvBuffer) == 65544, "one receive block is 64 KiB and its counters");

// Once the peer has closed or a receive has failed, no receive is made
// again: a time-out must end the exchange, not start another wait.
struct ReplyStream {
    ReceiveFn receive;
    void *ctx;
    bool ended;
    RecvBuffer block;
};

// Where body data goes (see ReadHttpReply): what is stored never depends on
// how the bytes were split into receives.
struct BodySink {
    char *body;
    size_t size;
    size_t used;
    bool full; // a chunk did not fit: nothing more is stored
};

const size_t HEADER_LINE_SIZE = 250;
const size_t CHUNK_LINE_SIZE = 120;

bool recv_fillbuffer(ReplyStream *s)
{
    memset(&s->block, 0, sizeof s->block);
    if (s->ended)
        return false;
    int got = s->receive(s->ctx, s->block.data, RECV_MAX);
    if (got <= 0) {
        s->ended = true;
        return false;
    }
    s->block.len = static_cast<uint32_t>(std::min(static_cast<size_t>(got), RECV_MAX));
    return true;
}

// The next unconsumed byte, refilling the block when it is used up; false
// at the end of the stream.
bool Peek(ReplyStream *s, char *c)
{
    if (s->block.pos >= s->block.len && !recv_fillbuffer(s))
        return false;
    *c = s->block.data[s->block.pos];
    return true;
}

// The next line, its LF included, into line (capacity size); returns the
// characters stored, or 0 when the stream ends first (a partial line is
// lost). A NUL byte ends the line unconsumed, and so ends the stream. The
// part of a line that does not fit is dropped.
size_t recv_getline(ReplyStream *s, char *line, size_t size)
{
    size_t stored = 0;
    char c = 0;
    for (;;) {
        if (!Peek(s, &c)) {
            line[0] = '\0';
            return 0;
        }
        if (c == '\0')
            break;
        s->block.pos++;
        if (stored + 1 < size)
            line[stored++] = c;
        if (c == '\n')
            break;
    }
    line[stored] = '\0';
    return stored;
}

void Store(BodySink *sink, size_t chunkStart, const char *data, size_t n)
{
    if (sink->full)
        return;
    if (n < sink->size - sink->used) {
        memcpy(sink->body + sink->used, data, n);
        sink->used += n;
        return;
    }
    memset(sink->body + chunkStart, 0, sink->used - chunkStart);
    sink->used = chunkStart;
    sink->full = true;
}

// Consumes count bytes of body data into the sink; returns the bytes
// consumed, fewer when the stream ends or the sink is full first.
uint64_t recv_getchunk(ReplyStream *s, BodySink *sink, uint64_t count)
{
    size_t chunkStart = sink->used;
    uint64_t consumed = 0;
    while (consumed < count && !sink->full) {
        if (s->block.pos >= s->block.len && !recv_fillbuffer(s))
            break;
        size_t piece = static_cast<size_t>(std::min<uint64_t>(count - consumed, s->block.len - s->block.pos));
        Store(sink, chunkStart, s->block.data + s->block.pos, piece);
        s->block.pos += static_cast<uint32_t>(piece);
        consumed += piece;
    }
    return consumed;
}

// The CR LF that closes a chunk, when it is there (also in the next block).
void SkipChunkEnd(ReplyStream *s)
{
    char c = 0;
    if (Peek(s, &c) && c == '\r') {
        s->block.pos++;
        if (Peek(s, &c) && c == '\n')
            s->block.pos++;
    }
}

// The second space-separated token of the status line, as a decimal number.
uint32_t StatusCode(char *line)
{
    char *pos = nullptr;
    if (!safe_strtok(line, " ", &pos))
        return 0;
    const char *code = safe_strtok(nullptr, " ", &pos);
    if (!code || !isdigit(static_cast<unsigned char>(*code)))
        return 0;
    return static_cast<uint32_t>(std::min<unsigned long long>(strtoull(code, nullptr, 10), UINT32_MAX));
}

// Only the exact spelling counts: the name as is, one space, "chunked".
void ReadHeaderLine(char *line, bool *chunked)
{
    char *pos = nullptr;
    const char *name = safe_strtok(line, " :", &pos);
    if (!name || strcmp(name, "Transfer-Encoding") != 0)
        return;
    const char *value = safe_strtok(nullptr, "\r", &pos);
    *chunked = value && strcmp(value, " chunked") == 0;
}

// Lines shorter than 3 characters (the blank line, the end of the stream)
// end the header.
uint32_t recv_header(ReplyStream *s, bool *chunked)
{
    char line[HEADER_LINE_SIZE];
    uint32_t status = 0;
    for (bool first = true; recv_getline(s, line, sizeof line) >= 3; first = false) {
        if (first)
            status = StatusCode(line);
        else
            ReadHeaderLine(line, chunked);
    }
    return status;
}

// Lines whose hexadecimal value is 0 (the last chunk, trailers) are passed
// over; the blank line after them ends the body.
void ReadChunkedBody(ReplyStream *s, BodySink *sink)
{
    char line[CHUNK_LINE_SIZE];
    while (!sink->full) {
        long long count = 0;
        while (count == 0) {
            if (recv_getline(s, line, sizeof line) < 3)
                return;
            count = strtoll(line, nullptr, 16);
        }
        if (count < 0)
            return;
        if (recv_getchunk(s, sink, static_cast<uint64_t>(count)) == static_cast<uint64_t>(count))
            SkipChunkEnd(s);
    }
}

void recv_body(ReplyStream *s, bool chunked, BodySink *sink)
{
    if (chunked)
        ReadChunkedBody(s, sink);
    else
        recv_getchunk(s, sink, sink->size);
}

// The value after the key's first occurrence, or null when no '=' follows it.
const char *FindValue(const char *text, const char *key)
{
    if (!text || !key)
        return nullptr;
    const char *at = strstr(text, key);
    if (!at || at[strlen(key)] != '=')
        return nullptr;
    return at + strlen(key) + 1;
}

} // namespace

size_t ReadHttpReply(ReceiveFn receive, void *ctx, uint32_t *status, char *body, size_t size)
{
    if (size)
        memset(body, 0, size);
    // On the stack: every exchange, on whichever thread, has a block of its own.
    ReplyStream stream = {receive, ctx, false, {}};
    bool chunked = false;
    *status = recv_header(&stream, &chunked);
    if (size == 0)
        return 0;
    BodySink sink = {body, size, 0, false};
    recv_body(&stream, chunked, &sink);
    return strlen(body);
}

int32_t FindKeyValueUL(const char *text, const char *key)
{
    const char *value = FindValue(text, key);
    if (!value)
        return -1;
    return static_cast<int32_t>(std::clamp<long long>(strtoll(value, nullptr, 10), INT32_MIN, INT32_MAX));
}

char *FindKeyValueStr(const char *text, const char *key)
{
    const char *value = FindValue(text, key);
    if (!value)
        return nullptr;
    size_t len = strcspn(value, "\r");
    char *copy = static_cast<char *>(xmalloc(len + 1));
    if (copy)
        memcpy(copy, value, len);
    return copy;
}
