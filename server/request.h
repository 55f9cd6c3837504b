#pragma once
// HTTP/1.1 requests and HTML form data, parsed without sockets so that every
// byte can be tested and fuzzed.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct RequestLimits {
    size_t maxHeader = 8192;   // request line and header lines together
    size_t maxBody = 4u << 20; // the announced Content-Length
};

struct HttpRequest {
    std::string method;
    std::string path;
    std::string query; // after the '?' of the target, still encoded
    std::string body;
    bool keepAlive = true;
    bool http10 = false;      // keeps the connection only when asked, and is told so
    std::string forwardedFor; // the client's address as a proxy gives it
};

enum class ParseState {
    Empty,      // only line breaks so far: `used` bytes may be dropped
    Incomplete, // a request has begun; more bytes are needed
    Done,       // `request` is filled from the first `used` bytes
    Failed,     // answer `status` with `text`, then close
};

struct ParseResult {
    ParseState state;
    size_t used;
    int status;
    const char *text;
};

// Parses the first request in `data`. Line breaks before the request line are
// skipped: a client ends its POST body with a CR LF that Content-Length does
// not count.
ParseResult ParseRequest(std::string_view data, const RequestLimits &limits, HttpRequest *request);

using Form = std::vector<std::pair<std::string, std::string>>;

// Every request of the protocol has a handful of fields; a form of a hundred
// thousand keys is an attack and fails at once.
constexpr size_t MAX_FORM_FIELDS = 64;

// Decodes application/x-www-form-urlencoded text. Fails on a malformed
// escape, on a NUL byte (replies are NUL-terminated texts on the client), on
// a key given twice and on more than MAX_FORM_FIELDS fields.
bool DecodeForm(std::string_view text, Form *form);

// The value of `key`, or null when the form lacks it.
const std::string *FormValue(const Form &form, std::string_view key);
