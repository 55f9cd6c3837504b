#include "clipboard/programlist.h"
#include <gtest/gtest.h>

TEST(ProgramList, NamesMatchWhateverTheCaseSeparatorsAndFolders)
{
    const struct {
        std::u16string_view list, program;
        bool listed;
    } cases[] = {
        {u"excel.exe", u"EXCEL.EXE", true},
        {u" mspaint.exe ; Excel.exe,word.exe", u"excel.exe", true},
        {u"a.exe\r\nb.exe\n", u"b.exe", true},
        {u"C:\\Office\\excel.exe", u"excel.exe", true},
        {u"excel.exe", u"C:\\Program Files\\excel.exe", true},
        {u"my tool.exe", u"My Tool.exe", true},
        {u"excel.exe", u"excel.ex", false},
        {u"xexcel.exe", u"excel.exe", false},
        {u"excel", u"excel.exe", false},
        {u"", u"excel.exe", false},
        {u";;, ;", u"", false},
        {u"\u00C9dit.exe", u"\u00E9dit.exe", false}, // only ASCII letters fold
        {u"excel.exe;", u"excel.exe", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.listed, ListsProgram(c.list, c.program))
            << std::string(c.list.begin(), c.list.end()) << " / "
            << std::string(c.program.begin(), c.program.end());
}
