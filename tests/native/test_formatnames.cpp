#include <gtest/gtest.h>
#include "clipboard/formatnames.h"

TEST(FormatNames, PredefinedTable)
{
    int category = 0;
    EXPECT_STREQ(PredefinedFormatName(6, &category), "Tagged Image File Format ");
    EXPECT_EQ(category, 3);
    EXPECT_STREQ(PredefinedFormatName(13, &category), "Unicode Text");
    EXPECT_EQ(category, 4);
    EXPECT_STREQ(PredefinedFormatName(142, &category), "Enhanced MetaFile (owner-draw)");
    EXPECT_EQ(category, 3);
    EXPECT_EQ(PredefinedFormatName(18, &category), nullptr);
    EXPECT_EQ(PredefinedFormatName(128, &category), nullptr);
}

TEST(FormatNames, UnnamedFormats)
{
    char buf[64];
    UnnamedFormatName(0x80, buf, sizeof buf);
    EXPECT_STREQ(buf, "Unknown format (80)");
    UnnamedFormatName(0x200, buf, sizeof buf);
    EXPECT_STREQ(buf, "Private format (200)");
    UnnamedFormatName(0x3FF, buf, sizeof buf);
    EXPECT_STREQ(buf, "GDI Object (3ff)");
    UnnamedFormatName(0x400, buf, sizeof buf);
    EXPECT_STREQ(buf, "Unknown format (400)");
    char small[8];
    UnnamedFormatName(0xC0DE, small, sizeof small);
    EXPECT_STREQ(small, "Unknown");
}
