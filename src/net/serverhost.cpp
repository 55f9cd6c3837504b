#include "serverhost.h"
#include <cstdlib>
#include <cstring>

namespace {

bool StartsWith(const char *text, const char *prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

bool ValidPort(const char *port)
{
    const size_t digits = strspn(port, "0123456789");
    if (digits == 0 || digits > 5 || port[digits])
        return false;
    const long n = atol(port);
    return n >= 1 && n <= 65535;
}

} // namespace

bool ParseServerHost(const char *setting, ServerHost *out)
{
    out->tls = StartsWith(setting, "https://");
    if (out->tls)
        setting += strlen("https://");
    else if (StartsWith(setting, "http://"))
        setting += strlen("http://");
    // A slash closing the host, as in a pasted address, is no path.
    size_t len = strlen(setting);
    if (len > 0 && setting[len - 1] == '/')
        len--;
    if (len == 0 || len >= sizeof out->header || memchr(setting, '/', len))
        return false;
    memcpy(out->header, setting, len);
    out->header[len] = '\0';
    const char *colon = strrchr(out->header, ':');
    const size_t nameLen = colon ? static_cast<size_t>(colon - out->header) : len;
    if (nameLen == 0 || nameLen >= sizeof out->name)
        return false;
    memcpy(out->name, out->header, nameLen);
    out->name[nameLen] = '\0';
    const char *port = colon ? colon + 1 : out->tls ? "443" : "80";
    if (!ValidPort(port))
        return false;
    strcpy(out->port, port);
    return true;
}
