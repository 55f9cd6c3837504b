#include <gtest/gtest.h>
#include <climits>
#include "util/safefns.h"

// A result that does not fit leaves the destination exactly as it was.
TEST(SafeFns, AllOrNothing)
{
    char buf[8] = "abc";
    EXPECT_EQ(safe_strcpy(buf, sizeof buf, "12345678"), SAFE_ERANGE);
    EXPECT_EQ(safe_strcat(buf, sizeof buf, "12345"), SAFE_ERANGE);
    EXPECT_EQ(safe_strncat(buf, sizeof buf, "123456", 5), SAFE_ERANGE);
    EXPECT_EQ(safe_memcpy(buf, 3, "12345", 4), SAFE_ERANGE);
    EXPECT_EQ(safe_itoa(LLONG_MIN, buf, sizeof buf, 10), SAFE_ERANGE);
    EXPECT_EQ(safe_strcpy(nullptr, 8, "a"), SAFE_EINVAL);
    EXPECT_EQ(safe_itoa(1, buf, sizeof buf, 37), SAFE_EINVAL);
    EXPECT_STREQ(buf, "abc");
    wchar_t wide[4] = L"xy";
    EXPECT_EQ(safe_wcscpy(wide, 4, L"abcd"), SAFE_ERANGE);
    EXPECT_STREQ(wide, L"xy");

    EXPECT_EQ(safe_strcat(buf, sizeof buf, "1234"), SAFE_OK);
    EXPECT_STREQ(buf, "abc1234");
    EXPECT_EQ(safe_strncpy(buf, sizeof buf, "123456789", 3), SAFE_OK);
    EXPECT_STREQ(buf, "123");
}

TEST(SafeFns, CountsItoaCaseAndTokens)
{
    EXPECT_EQ(strstrcnt("aaaa", "aa"), 3u);
    EXPECT_EQ(strstrcnt("abc", ""), 0u);
    char buf[24];
    EXPECT_EQ(safe_itoa(LLONG_MIN, buf, sizeof buf, 10), SAFE_OK);
    EXPECT_STREQ(buf, "-9223372036854775808");
    char text[] = "Mixed az`{@[ 1 \xe4"; // both ends of the alphabet and their neighbours
    EXPECT_EQ(safe_strupr(text, sizeof text), SAFE_OK);
    EXPECT_STREQ(text, "MIXED AZ`{@[ 1 \xe4");
    char a[] = ",one,,two", b[] = "x=y";
    char *pa = nullptr, *pb = nullptr;
    EXPECT_STREQ(safe_strtok(a, ",", &pa), "one");
    EXPECT_STREQ(safe_strtok(b, "=", &pb), "x");
    EXPECT_STREQ(safe_strtok(nullptr, ",", &pa), "two");
    EXPECT_EQ(safe_strtok(nullptr, ",", &pa), nullptr);
    EXPECT_STREQ(safe_strtok(nullptr, "=", &pb), "y");
}
