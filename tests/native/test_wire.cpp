#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "cloud/wire.h"

namespace {

std::string Encoded(const std::string &src, size_t room)
{
    url_encoder_rfc_tables_init();
    std::vector<char> dst(room + 2, '#');
    dst.back() = '\0';
    url_encode(html5, src.c_str(), room, dst.data());
    return dst.data();
}

std::string Owned(char *text)
{
    HeapPtr<char> owner(text);
    return owner ? owner.get() : "<null>";
}

std::string Replace(const std::string &src, const char *find, const char *repl, size_t size)
{
    std::vector<char> dst(size, '#');
    return str_replace(src.c_str(), find, repl, size, dst.data()) ? dst.data() : "<0>";
}

// "lines:text,rich text,HTML" of a check block.
std::string Sizes(const char *body)
{
    uint32_t len[3] = {9, 9, 9};
    int lines = ParseClipSize(body, &len[0], &len[1], &len[2]);
    return std::to_string(lines) + ":" + std::to_string(len[0]) + "," + std::to_string(len[1]) + "," +
           std::to_string(len[2]);
}

// "text|result" of a data block read into `size` bytes.
std::string Data(const std::string &value, size_t size, bool whole = false)
{
    std::string body = "<Data>\r\n" + value + "\r\n</Data>";
    std::vector<char> dst(size, '#');
    int n = whole ? ParseWholeClipData(body.c_str(), "ClipUTF", dst.data(), size)
                  : ParseClipData(body.c_str(), "ClipUTF", dst.data(), size);
    return std::string(dst.data(), strnlen(dst.data(), size)) + "|" + std::to_string(n);
}

std::string Rotated(int forward, std::string text, std::vector<uint8_t> key)
{
    EXPECT_EQ(text.size(), RolString(forward, &text[0], key.data(), static_cast<uint32_t>(key.size())));
    return text;
}

} // namespace

// Outgoing text: every cut leaves a whole escape and a terminated string.
TEST(Wire, EncodingAndItsCuts)
{
    // An escape needs 4 bytes of room beyond the output, a plain byte one.
    EXPECT_EQ((std::vector<std::string>{"ab", "ab%26", "abc", "", "#"}),
              (std::vector<std::string>{Encoded("ab&", 6), Encoded("ab&", 7), Encoded("a&bc", 4),
                                        Encoded("abc", 1), Encoded("abc", 0)}));
    // The form is sized by url_encoded_length; an undercount would cut it.
    FormPair pairs[] = {{"Quillet", "6.0.200"}, {"k", "v v"}, {"data", "$RN$&=\xFF\r\n%+-._*\xC3\xA9"}};
    EXPECT_EQ("Quillet=6.0.200&k=v+v&data=%24RN%24%26%3D%FF%0D%0A%25%2B-._*%C3%A9", Owned(NewForm(pairs, 3)));

    EXPECT_EQ("<0>", Replace("a$b$", "$", "$$$", 8));
    // Runs of a shrinking find are counted as they are replaced: none is cut.
    EXPECT_EQ(5u, str_replace("$$$$$$", "$$", "$", 0, nullptr));
    EXPECT_EQ("$$$", Replace("$$$$$$", "$$", "$", 5));
    EXPECT_EQ("x$RN$y$$\n\r", Owned(EncodeCRLF("x\r\ny$\n\r")));
    EXPECT_EQ("a$\r\n$b", Owned(DecodeCRLF("a$$RN$$b")));
}

TEST(Wire, ReplyReaders)
{
    EXPECT_EQ(42, GetPXMLInt("x<UserID> 42</UserID>", "UserID"));
    EXPECT_EQ(-1, GetPXMLInt("UserID>42", "UserID"));

    EXPECT_EQ("3:12,0,0", Sizes("<Check>\r\nlenUTF=12\r\nlenRTF=0\r\nother=3\r\n</Check>\r\n"));
    EXPECT_EQ("0:0,0,0", Sizes("<Check>lenUTF=5"));

    EXPECT_EQ("a$\r\nb|8", Data("ClipUTF=a$$$RN$b", 64));
    EXPECT_EQ("|8", Data("ClipUTF=abcdefgh", 8));
    EXPECT_EQ("a$b$|6", Data("x ClipUTF =a$$b$$cdef", 6));
    EXPECT_EQ("|-1", Data("ClipUTF=a$$b$$cdef", 6, true));
    EXPECT_EQ("a$b$cdef|10", Data("ClipUTF=a$$b$$cdef", 10, true));
    char dst[4];
    EXPECT_EQ(0, ParseClipData("ClipUTF=x\r\n</Data>", "ClipUTF", dst, sizeof dst));
}

TEST(Wire, ClipList)
{
    std::string reply = "<Clips>\r\n";
    for (int i = 1; i <= 12; i++)
        reply += std::to_string(i) + "=Clip " + std::to_string(i) + ";2018-02-12 09:05:00;A\r\n";
    CloudClipEntry table[CLOUD_CLIPS_MAX + 1] = {};
    EXPECT_EQ(10u, ParseClipList((reply + "</Clips>").c_str(), table, CLOUD_CLIPS_MAX));
    EXPECT_EQ(10, table[9].id);
    EXPECT_STREQ("Clip 10", table[9].name);
    EXPECT_EQ(0, table[CLOUD_CLIPS_MAX].id);

    // A byte outside printable ASCII ends a line; the rest is another line.
    const char *mixed =
        "<Clips>\r\n<Clips>\r\n17=Greeting;2018-02-12 09:05:00;Xy\r\nbad line\r\n"
        "5=N\xE9w;d;A;e=f;g;A\r\n9=0123456789012345678901234567890123;d;A\r\n</Clips>\r\n3=x;d;A";
    ASSERT_EQ(3u, ParseClipList(mixed, table, CLOUD_CLIPS_MAX));
    EXPECT_EQ(17, table[0].id);
    EXPECT_EQ('X', table[0].state);
    EXPECT_EQ(0, table[1].id);
    EXPECT_STREQ("f", table[1].name);
    EXPECT_STREQ("", table[2].name);
    EXPECT_EQ(0u, ParseClipList("<Clips />", table, CLOUD_CLIPS_MAX));
}

TEST(Wire, Rotation)
{
    EXPECT_EQ("Aa0", Rotated(1, "Zz9", {1}));
    // Every byte advances the key, also those left as they are.
    EXPECT_EQ("\303\251b-c", Rotated(1, "\303\251a-a", {5, 9, 1, 0, 2}));
    EXPECT_EQ("Zz9", Rotated(0, "Aa0", {1}));

    uint8_t key[ROL_KEY_MAX];
    EXPECT_EQ(4u, DeriveRolKey("aZ-9 b", key, sizeof key));
    EXPECT_EQ(std::vector<uint8_t>({0, 25, 9, 1}), std::vector<uint8_t>(key, key + 4));
    EXPECT_EQ(31u, DeriveRolKey(std::string(40, 'c').c_str(), key, sizeof key));
}

TEST(Wire, ProgressAndSyncDecisions)
{
    EXPECT_EQ((std::vector<int>{0, 100, 33, 66, 100}),
              (std::vector<int>{CalcPct(1, 0), CalcPct(1, 1), CalcPct(1, 3), CalcPct(2, 3), CalcPct(3, 3)}));
    EXPECT_EQ(SYNC_UPDATE_CLOUD, DecideSync(99, 100, 0, 'X'));
    EXPECT_EQ(SYNC_UNCHANGED, DecideSync(100, 100, 100, 'A'));
    EXPECT_EQ(SYNC_DOWNLOAD, DecideSync(100, 100, 99, 'A'));
    EXPECT_EQ(SYNC_DELETE_LOCAL, DecideSync(300, 100, 200, 'X'));
    EXPECT_EQ(SYNC_NOTHING, DecideSync(300, 100, 200, 'U'));
}
