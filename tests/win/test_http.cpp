// The HTTP client over real sockets, against a scripted loopback server.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "net/http.h"
#include "scriptedserver.h"
#include "settings/registry.h"

namespace {

const std::string OK = "HTTP/1.1 200 OK\r\n", HELLO = "\r\n5\r\nhello\r\n0\r\n\r\n";

std::pair<uint32_t, std::string> Get(size_t size = 64)
{
    std::vector<char> body(size);
    uint32_t status = DoHttpGet("/p", "q=1", body.data(), size);
    return {status, body.data()};
}

} // namespace

TEST(Http, RequestsAreSentByteForByte)
{
    ScriptedServer server({OK + "\r\nfine"});
    std::string big(300000, 'f'); // far more than one send takes
    EXPECT_EQ(std::make_pair(200u, std::string("fine")), Get());
    char body[8];
    EXPECT_EQ(200u, DoHttpPost(SYNC_PATH, "Quillet=6.0.200&act=list", body, sizeof body));
    EXPECT_EQ(200u, DoHttpPost(SYNC_PATH, big.c_str(), body, sizeof body));
    std::string host = "Host: " + server.host + "\r\n", post = "POST " SYNC_PATH " HTTP/1.1\r\n" + host;
    std::string type = "\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n";
    EXPECT_EQ((std::vector<std::string>{"GET /p?q=1 HTTP/1.1\r\n" + host + "\r\n",
                                        post + "Content-Length: 24" + type + "Quillet=6.0.200&act=list\r\n",
                                        post + "Content-Length: 300000" + type + big + "\r\n"}),
              server.Requests());
}

TEST(Http, ReplyShapes)
{
    const std::string te = "Transfer-Encoding: chunked";
    struct {
        std::vector<std::string> pieces;
        size_t size;
        uint32_t status;
        std::string body;
    } cases[] = {
        {{OK + te + "\r\n\r\n5\r\nhello\r", "\n3\r\nabc\r\n0\r\n\r\n"}, 64, 200, "helloabc"},
        {{OK + te, "\r\n" + HELLO}, 64, 200, "hello"},
        {{"HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\n", "not found"}, 64, 404, "not found"},
        {{}, 64, 0, ""},
        {{OK + "\r\n", "1234567"}, 8, 200, "1234567"},
        {{OK + "\r\n12345678"}, 8, 200, ""},
        {{OK + "Transfer-Encoding: Chunked\r\n" + HELLO}, 64, 200, HELLO.substr(2)},
        {{OK + "Transfer-Encoding:chunked\r\n" + HELLO}, 64, 200, HELLO.substr(2)},
        {{OK + "transfer-encoding: chunked\r\n" + HELLO}, 64, 200, HELLO.substr(2)},
    };
    for (const auto &c : cases) {
        ScriptedServer server(c.pieces);
        EXPECT_EQ(std::make_pair(c.status, c.body), Get(c.size)) << ::testing::PrintToString(c.pieces);
    }
}

TEST(Http, SilentOrMissingServerEndsTheExchange)
{
    m_HttpTimeoutMs = 500;
    {
        ScriptedServer silent({}, true);
        DWORD start = GetTickCount();
        EXPECT_EQ(std::make_pair(0u, std::string()), Get());
        EXPECT_GE(GetTickCount() - start, 400u);
        ScriptedServer stalls({OK + "\r\npartial"}, true);
        EXPECT_EQ(std::make_pair(200u, std::string("partial")), Get());
    }
    m_HttpTimeoutMs = 30000;
    for (const char *host : {"127.0.0.1:1", "127.0.0.1:http", "no-such-host.invalid"}) {
        WriteSettingsStringA(nullptr, "ServerHost", host);
        DWORD start = GetTickCount();
        EXPECT_EQ(0u, Get().first) << host;
        EXPECT_LT(GetTickCount() - start, 5000u) << host;
    }
}
