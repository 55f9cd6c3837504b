#include "request.h"

#include <algorithm>
#include <cstring>

namespace {

ParseResult Fail(int status, const char *text)
{
    return {ParseState::Failed, 0, status, text};
}

bool IsTokenChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? char(a[i] + 32) : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? char(b[i] + 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// "METHOD /target HTTP/1.x"; the status on failure, 0 on success.
int ParseRequestLine(std::string_view line, HttpRequest *request)
{
    size_t first = line.find(' ');
    size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos)
        return 400;
    std::string_view method = line.substr(0, first);
    std::string_view target = line.substr(first + 1, second - first - 1);
    std::string_view version = line.substr(second + 1);
    // The absolute form, as sent to a proxy, names the same resource.
    for (std::string_view scheme : {"http://", "https://"}) {
        if (target.size() > scheme.size() && EqualsNoCase(target.substr(0, scheme.size()), scheme)) {
            const size_t slash = target.find('/', scheme.size());
            target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
        }
    }
    if (method.empty() || target.empty() || target[0] != '/')
        return 400;
    for (char c : method) {
        if (c < 'A' || c > 'Z')
            return 400;
    }
    for (char c : target) {
        if (c <= ' ' || c > '~')
            return 400;
    }
    request->http10 = version == "HTTP/1.0";
    if (version == "HTTP/1.1")
        request->keepAlive = true;
    else if (version == "HTTP/1.0")
        request->keepAlive = false;
    else
        return version.substr(0, 5) == "HTTP/" ? 505 : 400;
    request->method = method;
    size_t question = target.find('?');
    request->path = target.substr(0, question);
    if (question != std::string_view::npos)
        request->query = target.substr(question + 1);
    return 0;
}

void ApplyConnection(std::string_view value, HttpRequest *request)
{
    while (!value.empty()) {
        size_t comma = value.find(',');
        std::string_view option = Trim(value.substr(0, comma));
        if (EqualsNoCase(option, "close"))
            request->keepAlive = false;
        else if (EqualsNoCase(option, "keep-alive"))
            request->keepAlive = true;
        value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    }
}

// One "Name: value" line; the failure to reply, or null.
const ParseResult *ParseHeader(std::string_view line, HttpRequest *request, long long *contentLength)
{
    static const ParseResult malformed = Fail(400, "malformed header");
    static const ParseResult badLength = Fail(400, "malformed Content-Length");
    static const ParseResult chunked = Fail(501, "chunked requests are not supported");
    size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos)
        return &malformed;
    std::string_view name = line.substr(0, colon);
    for (char c : name) {
        if (!IsTokenChar(c))
            return &malformed;
    }
    std::string_view value = Trim(line.substr(colon + 1));
    if (EqualsNoCase(name, "Content-Length")) {
        if (value.empty() || value.size() > 18 ||
            value.find_first_not_of("0123456789") != std::string_view::npos)
            return &badLength;
        long long length = std::stoll(std::string(value));
        if (*contentLength >= 0 && *contentLength != length)
            return &badLength;
        *contentLength = length;
    } else if (EqualsNoCase(name, "Transfer-Encoding")) {
        return &chunked;
    } else if (EqualsNoCase(name, "Connection")) {
        ApplyConnection(value, request);
    } else if (EqualsNoCase(name, "X-Forwarded-For")) {
        // The last address is the one the proxy in front of the service saw.
        const size_t comma = value.rfind(',');
        request->forwardedFor = Trim(comma == std::string_view::npos ? value : value.substr(comma + 1));
    }
    return nullptr;
}

} // namespace

ParseResult ParseRequest(std::string_view data, const RequestLimits &limits, HttpRequest *request)
{
    *request = HttpRequest();
    const size_t start = data.find_first_not_of("\r\n");
    if (start == std::string_view::npos)
        return {ParseState::Empty, data.size(), 0, nullptr};

    long long contentLength = -1;
    size_t at = start;
    for (;;) {
        size_t end = data.find('\n', at);
        if ((end == std::string_view::npos ? data.size() : end + 1) - start > limits.maxHeader)
            return Fail(431, "request header too large");
        if (end == std::string_view::npos)
            return {ParseState::Incomplete, 0, 0, nullptr};
        std::string_view line = data.substr(at, end - at);
        const bool first = at == start;
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.find('\r') != std::string_view::npos || line.find('\0') != std::string_view::npos)
            return Fail(400, "malformed request");
        if (first) {
            int status = ParseRequestLine(line, request);
            if (status != 0)
                return status == 505 ? Fail(505, "HTTP version not supported")
                                     : Fail(400, "malformed request line");
        } else if (line.empty()) {
            break;
        } else if (line[0] == ' ' || line[0] == '\t') {
            return Fail(400, "folded header lines are not supported");
        } else if (const ParseResult *failure = ParseHeader(line, request, &contentLength)) {
            return *failure;
        }
    }

    const size_t length = contentLength < 0 ? 0 : size_t(contentLength);
    if (contentLength > 0 && (unsigned long long)contentLength > limits.maxBody)
        return Fail(413, "request too large");
    if (data.size() - at < length)
        return {ParseState::Incomplete, 0, 0, nullptr};
    request->body = data.substr(at, length);
    return {ParseState::Done, at + length, 0, nullptr};
}

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool DecodeComponent(std::string_view in, std::string *out)
{
    out->clear();
    out->reserve(in.size());
    for (size_t i = 0; i < in.size(); i++) {
        char c = in[i];
        if (c == '+') {
            c = ' ';
        } else if (c == '%') {
            int high = i + 2 < in.size() ? HexValue(in[i + 1]) : -1;
            int low = high < 0 ? -1 : HexValue(in[i + 2]);
            if (low < 0)
                return false;
            c = char(high << 4 | low);
            i += 2;
        }
        if (c == '\0')
            return false;
        out->push_back(c);
    }
    return true;
}

} // namespace

namespace {

// Sorted: a comparison of each key with every earlier one is quadratic.
bool KeysRepeat(const Form &form)
{
    std::vector<std::string_view> keys;
    keys.reserve(form.size());
    for (const auto &pair : form)
        keys.push_back(pair.first);
    std::sort(keys.begin(), keys.end());
    return std::adjacent_find(keys.begin(), keys.end()) != keys.end();
}

} // namespace

bool DecodeForm(std::string_view text, Form *form)
{
    form->clear();
    while (!text.empty()) {
        if (form->size() == MAX_FORM_FIELDS)
            return false;
        size_t amp = text.find('&');
        std::string_view pair = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
        if (pair.empty())
            continue;
        size_t equals = pair.find('=');
        std::string key, value;
        if (!DecodeComponent(pair.substr(0, equals), &key))
            return false;
        if (equals != std::string_view::npos && !DecodeComponent(pair.substr(equals + 1), &value))
            return false;
        form->emplace_back(std::move(key), std::move(value));
    }
    return !KeysRepeat(*form);
}

const std::string *FormValue(const Form &form, std::string_view key)
{
    for (const auto &pair : form) {
        if (pair.first == key)
            return &pair.second;
    }
    return nullptr;
}
