#include "clipboard/cleanup.h"
#include <gtest/gtest.h>

namespace {

struct Case {
    std::u16string in, out;
};

void ExpectAll(std::u16string (*convert)(std::u16string_view), const std::initializer_list<Case> &cases)
{
    for (const Case &c : cases)
        EXPECT_EQ(c.out, convert(c.in)) << std::string(c.in.begin(), c.in.end());
}

} // namespace

TEST(Cleanup, TrimLineEndsKeepsEachLineEndAsItIs)
{
    ExpectAll(TrimLineEnds,
              {
                  {u"", u""},
                  {u"a \t\r\nb  \nc\t\rd  ", u"a\r\nb\nc\rd"},
                  {u"   \r\n\t\n", u"\r\n\n"},
                  {u"  lead stays ", u"  lead stays"},
                  {u"no end", u"no end"},
                  {u"\u00E9t\u00E9 \u3000\n", u"\u00E9t\u00E9 \u3000\n"}, // only ASCII blanks go
              });
}

TEST(Cleanup, JoinWrappedLinesKeepsParagraphsListsAndIndents)
{
    ExpectAll(JoinWrappedLines,
              {
                  {u"", u""},
                  {u"one\r\ntwo\r\nthree\r\n", u"one two three\r\n"},
                  {u"wrapped  \nline\n\nnext par\nagraph", u"wrapped line\n\nnext par agraph"},
                  {u"a\r\n   \r\nb", u"a\r\n   \r\nb"}, // a line of only spaces is a break
                  {u"a\rb\r\rc", u"a b\r\rc"},          // lone CRs
                  {u"list:\n- one\n* two\n\u2022 three\n12. four\n3) five",
                   u"list:\n- one\n* two\n\u2022 three\n12. four\n3) five"},
                  {u"code\n    indented\nwraps", u"code\n    indented wraps"},
                  {u"-5 degrees\nand 3.5 more\n2024 was", u"-5 degrees and 3.5 more 2024 was"},
                  {u"end\n", u"end\n"},
              });
}

TEST(Cleanup, StraightenPunctuationToAscii)
{
    ExpectAll(StraightenPunctuation,
              {
                  {u"\u2018it\u2019s\u2019 \u201Cq\u201D \u201Elow\u201C \u00ABg\u00BB \u2039s\u203A",
                   u"'it's' \"q\" \"low\" \"g\" 's'"},
                  {u"1\u20132, a\u2014b, c\u2015d, \u22125, x\u2010y\u2011z, 6\u20327\u2033",
                   u"1-2, a--b, c--d, -5, x-y-z, 6'7\""},
                  {u"plain 'ascii' \"text\" - ok \u00E9\u4E2D", u"plain 'ascii' \"text\" - ok \u00E9\u4E2D"},
              });
}
