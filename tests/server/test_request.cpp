#include <gtest/gtest.h>
#include <string>
#include "request.h"

// The client's POST ends its body with a CR LF that Content-Length does not
// count; every shorter prefix waits for more bytes.
TEST(Request, ClientPostByteByByteThenTheNextRequest)
{
    const std::string body = "Quillet=6.0.200&act=open&name=a+b&key=%25x";
    const std::string post =
        "POST /software/quillet/qlsync.php HTTP/1.1\r\nHost: localhost:8080\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n" + body +
        "\r\n";
    HttpRequest request;
    EXPECT_EQ(ParseRequest("", {}, &request).state, ParseState::Empty);
    for (size_t n = 1; n < post.size() - 2; n++)
        ASSERT_EQ(ParseRequest(post.substr(0, n), {}, &request).state, ParseState::Incomplete) << n;
    ParseResult parsed = ParseRequest(post, {}, &request);
    ASSERT_EQ(parsed.state, ParseState::Done);
    EXPECT_EQ(parsed.used, post.size() - 2);
    EXPECT_EQ(request.body, body);
    EXPECT_TRUE(request.keepAlive);

    const std::string rest = post.substr(parsed.used);
    parsed = ParseRequest(rest, {}, &request);
    EXPECT_EQ(parsed.state, ParseState::Empty);
    EXPECT_EQ(parsed.used, 2u);
    parsed = ParseRequest(rest + "GET /p?a=1&b HTTP/1.0\nHost: h\n\n", {}, &request);
    ASSERT_EQ(parsed.state, ParseState::Done);
    EXPECT_EQ(request.path, "/p");
    EXPECT_EQ(request.query, "a=1&b");
    EXPECT_TRUE(request.body.empty());
    EXPECT_FALSE(request.keepAlive);
    ParseRequest("GET / HTTP/1.1\r\nConnection: Keep-Alive, CLOSE\r\n\r\n", {}, &request);
    EXPECT_FALSE(request.keepAlive);
    ParseRequest("GET / HTTP/1.0\r\nconnection: keep-alive\r\n\r\n", {}, &request);
    EXPECT_TRUE(request.keepAlive && request.http10);
    // The absolute form names the same resource.
    for (const char *target : {"http://h:8080/p?a=1", "HTTPS://h/p?a=1"}) {
        ASSERT_EQ(ParseRequest(std::string("GET ") + target + " HTTP/1.1\r\n\r\n", {}, &request).state,
                  ParseState::Done)
            << target;
        EXPECT_EQ(request.path + "?" + request.query, "/p?a=1");
    }
    ParseRequest("GET http://h HTTP/1.1\r\n\r\n", {}, &request);
    EXPECT_EQ(request.path, "/");
    // A proxy's view of the client: the last address it appended.
    ParseRequest("GET / HTTP/1.1\r\nX-Forwarded-For: 10.1.1.1, 192.0.2.7 \r\n\r\n", {}, &request);
    EXPECT_EQ(request.forwardedFor, "192.0.2.7");
}

// Smuggling, overflowing numbers, bytes that do not belong, and sizes one
// above the limits.
TEST(Request, MalformedOrOversizedRequestsFail)
{
    const std::pair<std::string, int> cases[] = {
        {"GET /x HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", 400},
        {"GET /x HTTP/1.1\r\nContent-Length: 1234567890123456789\r\n\r\n", 400},
        {"POST /x HTTP/1.1\r\nContent-Length: 4097\r\n\r\n", 413},
        {"POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 501},
        {"GET /x HTTP/2.0\r\n\r\n", 505},
        {"GET x HTTP/1.1\r\n\r\n", 400},
        {"GET /a b HTTP/1.1\r\n\r\n", 400},
        {"GET /\x80 HTTP/1.1\r\n\r\n", 400},
        {"GET /x HTTP/1.1\r\nA: 1\r\n folded\r\n\r\n", 400},
        {"GET /x HTTP/1.1\r\nA: b\rc\r\n\r\n", 400},
        {"GET /x HTTP/1.1\r\nA: " + std::string(1, '\0') + "\r\n\r\n", 400},
        {"GET /x HTTP/1.1\r\nA: " + std::string(5000, 'a'), 431},
    };
    for (const auto &c : cases) {
        HttpRequest request;
        ParseResult parsed = ParseRequest(c.first, RequestLimits{4096, 4096}, &request);
        EXPECT_EQ(parsed.state, ParseState::Failed) << c.first;
        EXPECT_EQ(parsed.status, c.second) << c.first;
    }
}

// Escapes are decoded once; a broken escape, a NUL (the client reads replies
// as C strings) and a key given twice fail the whole form.
TEST(Request, FormDecoding)
{
    Form form;
    ASSERT_TRUE(DecodeForm("Quillet=6.0.200&&data=%24RN%24a+b%2B%25%e9&flag&e=x=y", &form));
    EXPECT_EQ(*FormValue(form, "Quillet"), "6.0.200");
    EXPECT_EQ(*FormValue(form, "data"), "$RN$a b+%\xE9");
    EXPECT_EQ(*FormValue(form, "flag"), "");
    EXPECT_EQ(*FormValue(form, "e"), "x=y");
    EXPECT_EQ(FormValue(form, "none"), nullptr);
    for (const std::string &bad : std::vector<std::string>{"a=%", "a=%4", "a=%zz", "a=%00", "%G1=a",
                                                           "a=1&a=2", std::string("a=\0", 3)})
        EXPECT_FALSE(DecodeForm(bad, &form)) << bad;
    // Up to 64 fields, repeats found among them all; a 4 MB form of 400,000
    // keys fails without decoding them.
    std::string many;
    for (int i = 0; i < 400000; i++)
        many += "k" + std::to_string(i) + "=&";
    const std::string most = many.substr(0, many.find("k64="));
    ASSERT_TRUE(DecodeForm(most, &form));
    EXPECT_EQ(64u, form.size());
    EXPECT_FALSE(DecodeForm(most.substr(0, most.find("k63=")) + "k17=x", &form));
    EXPECT_FALSE(DecodeForm(many, &form));
}
