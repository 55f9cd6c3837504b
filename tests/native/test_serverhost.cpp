#include "net/serverhost.h"
#include <gtest/gtest.h>
#include <string>

TEST(ServerHost, SchemesPortsAndMalformedSettings)
{
    const std::string longName(254, 'a');
    const struct {
        const char *setting;
        bool ok, tls;
        const char *name, *port, *header;
    } cases[] = {
        {"localhost", true, false, "localhost", "80", "localhost"},
        {"sync.example.org:8080", true, false, "sync.example.org", "8080", "sync.example.org:8080"},
        {"http://host:81/", true, false, "host", "81", "host:81"},
        {"https://host", true, true, "host", "443", "host"},
        {"https://10.0.0.2:8443", true, true, "10.0.0.2", "8443", "10.0.0.2:8443"},
        {"", false}, {"https://", false}, {":80", false}, {"host:", false}, {"host:0", false},
        {"host:65536", false}, {"host:8o", false}, {"https://host/path", false}, {"ftp://host", false},
        {"host:123456", false}, {longName.c_str(), false},
    };
    for (const auto &c : cases) {
        ServerHost host;
        ASSERT_EQ(c.ok, ParseServerHost(c.setting, &host)) << c.setting;
        if (!c.ok)
            continue;
        EXPECT_EQ(c.tls, host.tls) << c.setting;
        EXPECT_STREQ(c.name, host.name);
        EXPECT_STREQ(c.port, host.port);
        EXPECT_STREQ(c.header, host.header);
    }
}
