#include <gtest/gtest.h>
#include "clipboard/formatnames.h"

TEST(FormatNames, PredefinedAndUnnamedFormats)
{
    int category = 0;
    EXPECT_STREQ(PredefinedFormatName(13, &category), "Unicode Text");
    EXPECT_EQ(category, 4);
    EXPECT_STREQ(PredefinedFormatName(142, &category), "Enhanced MetaFile (owner-draw)");
    EXPECT_EQ(category, 3);
    EXPECT_EQ(PredefinedFormatName(18, &category), nullptr);
    char buf[64];
    for (auto c : {std::make_pair(0x80u, "Unknown format (80)"),
                   {0x200u, "Private format (200)"},
                   {0x3FFu, "GDI Object (3ff)"},
                   {0x400u, "Unknown format (400)"}}) {
        UnnamedFormatName(c.first, buf, sizeof buf);
        EXPECT_STREQ(buf, c.second);
    }
    char small[8];
    UnnamedFormatName(0xC0DE, small, sizeof small);
    EXPECT_STREQ(small, "Unknown");
}
