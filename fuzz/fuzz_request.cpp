// libFuzzer target: any bytes as a client might send them to the sync service.
#include <cstdlib>
#include <string_view>
#include "request.h"

namespace {

void CheckForm(std::string_view text)
{
    Form form;
    if (!DecodeForm(text, &form))
        return;
    for (const auto &pair : form) {
        if (pair.first.find('\0') != std::string::npos || pair.second.find('\0') != std::string::npos)
            abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    RequestLimits limits;
    limits.maxHeader = 2048;
    limits.maxBody = 4096;
    HttpRequest request;
    const ParseResult parsed = ParseRequest(bytes, limits, &request);
    if ((parsed.state == ParseState::Empty && parsed.used != size) ||
        (parsed.state == ParseState::Failed && (parsed.status < 400 || !parsed.text)))
        abort();
    if (parsed.state == ParseState::Done) {
        // A request must not depend on the bytes that follow it.
        HttpRequest alone;
        const ParseResult again = ParseRequest(bytes.substr(0, parsed.used), limits, &alone);
        if (parsed.used > size || again.state != ParseState::Done || again.used != parsed.used ||
            alone.body != request.body || alone.query != request.query || request.path.empty() ||
            request.path[0] != '/' || request.body.size() > limits.maxBody)
            abort();
        CheckForm(request.query);
        CheckForm(request.body);
    }
    CheckForm(bytes);
    return 0;
}
