#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "net/httpreply.h"

namespace {

// One piece per receive (split when longer than asked for), then `end`:
// 0 for a close, -1 for an error or a time-out.
struct Script {
    std::vector<std::string> pieces;
    int end = 0;
    size_t next = 0, at = 0;
    int receives = 0;
};

int Receive(void *ctx, char *dst, size_t room)
{
    auto *s = static_cast<Script *>(ctx);
    s->receives++;
    if (s->next == s->pieces.size())
        return s->end;
    size_t n = std::min(room, s->pieces[s->next].size() - s->at);
    memcpy(dst, s->pieces[s->next].data() + s->at, n);
    s->at += n;
    if (s->at == s->pieces[s->next].size())
        s->next++, s->at = 0;
    return static_cast<int>(n);
}

// The body buffer has exactly `size` bytes: AddressSanitizer sees any write past it.
std::pair<uint32_t, std::string> Read(Script &script, size_t size)
{
    std::vector<char> body(size);
    uint32_t status = 99;
    size_t length = ReadHttpReply(Receive, &script, &status, body.data(), size);
    EXPECT_EQ(size ? strlen(body.data()) : 0, length);
    return {status, std::string(body.data(), length)};
}

const std::string OK = "HTTP/1.1 200 OK\r\n", TE = "Transfer-Encoding: chunked\r\n";
const std::string HELLO = "\r\n5\r\nhello\r\n0\r\n\r\n",
                  ABC = "\r\n3\r\nabc\r\n5\r\ndefgh\r\n1\r\ni\r\n0\r\n\r\n";

} // namespace

// The reply whole, split once at every place and one byte per receive;
// the fuzzer looks for crashes, these are the results promised.
TEST(HttpReply, EveryArrivalReadsAlike)
{
    struct {
        std::string reply;
        size_t size;
        uint32_t status;
        std::string body;
    } cases[] = {
        {OK + "Date: x\r\n" + TE + "\r\n1a;n=v\r\n" + std::string(26, 'z') + "\r\n0\r\nX: t\r\n\r\n", 64, 200,
         std::string(26, 'z')},
        {OK + "Transfer-Encoding: chunked, gzip\r\n" + HELLO, 64, 200, HELLO.substr(2)},
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nnot found", 64, 404, "not found"},
        {"HTTP/1.1\r\n\r\nbody", 64, 0, "body"},
        {OK + "\r\n1234567", 8, 200, "1234567"},
        {OK + "\r\n12345678", 8, 200, ""},
        {OK + TE + ABC, 8, 200, "abc"},
        {OK + "transfer-encoding: chunked\r\n" + HELLO, 64, 200, HELLO.substr(2)}, // the exact header only
        {OK + TE + HELLO, 0, 200, ""},
    };
    for (const auto &c : cases) {
        std::vector<std::vector<std::string>> arrivals = {{c.reply}, {}};
        for (size_t i = 0; i < c.reply.size(); i++) {
            arrivals[1].push_back(c.reply.substr(i, 1));
            if (i)
                arrivals.push_back({c.reply.substr(0, i), c.reply.substr(i)});
        }
        for (const auto &arrival : arrivals) {
            Script script{arrival};
            EXPECT_EQ(std::make_pair(c.status, c.body), Read(script, c.size))
                << c.reply << " " << arrival.size();
        }
    }
}

TEST(HttpReply, EndsAtTheFirstCloseOrFailure)
{
    Script closed, failed{{OK}, -1}, midChunk{{OK + TE + "\r\n5\r\nhe"}, -1};
    EXPECT_EQ(std::make_pair(0u, std::string()), Read(closed, 16));
    EXPECT_EQ(std::make_pair(200u, std::string()), Read(failed, 16));
    EXPECT_EQ(std::make_pair(200u, std::string("he")), Read(midChunk, 16));
    EXPECT_EQ(2, failed.receives); // a time-out is never waited for twice
    EXPECT_EQ(2, midChunk.receives);

    std::string big(20000, 'x'), size = "4e20";
    big[8000] = 'y';
    Script plain{{OK + "\r\n" + big}},
        chunked{{OK + TE + "\r\n" + size + "\r\n" + big + "\r\n2\r\n!!\r\n0\r\n\r\n"}};
    EXPECT_EQ(big, Read(plain, 20001).second);
    EXPECT_EQ(big + "!!", Read(chunked, 30000).second);
}

TEST(HttpReply, KeyValues)
{
    const char reply[] = "RelDate=12 Feb 2018\r\nVmajor=6\r\nVminor=0\r\n";
    for (auto c : {std::make_pair(reply, 0),
                   {"Vminor:0", -1},
                   {"Vminor =0", -1},
                   {"XVminor=7", 7},
                   {"Vminor= -12x", -12},
                   {"Vminor=99999999999", INT32_MAX}})
        EXPECT_EQ(c.second, FindKeyValueUL(c.first, "Vminor")) << c.first;
    for (auto c : {std::make_pair(reply, "12 Feb 2018"),
                   {"RelDate=12 Feb\nV=6", "12 Feb\nV=6"},
                   {"RelDate=", ""},
                   {"RelDate 12 Feb", "(absent)"}}) {
        char *value = FindKeyValueStr(c.first, "RelDate");
        EXPECT_STREQ(c.second, value ? value : "(absent)");
        free(value);
    }
}
