#include "net/serverhost.h"
#include <gtest/gtest.h>
#include <string>

TEST(ServerHost, SchemesPortsAndMalformedSettings)
{
    const struct {
        const char *setting;
        bool tls;
        const char *name, *port, *header;
    } valid[] = {
        {"localhost", false, "localhost", "80", "localhost"},
        {"sync.example.org:8080", false, "sync.example.org", "8080", "sync.example.org:8080"},
        {"http://host:81/", false, "host", "81", "host:81"},
        {"https://host", true, "host", "443", "host"},
        {"https://10.0.0.2:8443", true, "10.0.0.2", "8443", "10.0.0.2:8443"},
    };
    for (const auto &c : valid) {
        ServerHost host;
        ASSERT_TRUE(ParseServerHost(c.setting, &host)) << c.setting;
        EXPECT_EQ(c.tls, host.tls) << c.setting;
        EXPECT_STREQ(c.name, host.name);
        EXPECT_STREQ(c.port, host.port);
        EXPECT_STREQ(c.header, host.header);
    }
    const std::string longName(254, 'a');
    for (const char *setting : {"", "https://", ":80", "host:", "host:0", "host:65536", "host:8o",
                                "https://host/path", "ftp://host", "host:123456", longName.c_str()}) {
        ServerHost host;
        EXPECT_FALSE(ParseServerHost(setting, &host)) << setting;
    }
}
