#pragma once
// The setting "ServerHost": "host", "host:port", "http://host[:port]" or
// "https://host[:port]". Portable: no <windows.h>.
#include <cstddef>

struct ServerHost {
    char name[254];   // the host name or address
    char port[6];     // its port, 80 or 443 when none is given
    char header[262]; // the Host header: the setting without its scheme
    bool tls;
};

// False for a malformed setting: an empty or too long name, a port that is
// not a number from 1 to 65535, or a path after the host.
bool ParseServerHost(const char *setting, ServerHost *out);
