// Text files to and from the clipboard, with real files in the temp folder
// and the real clipboard.
#include <fstream>
#include "boxwatch.h"
#include "clipboard/textfile.h"
#include "resources/resource.h"
#include "testutil.h"
#include "util/globals.h"

namespace {

const std::string MARK_TEXT("before", 7);

class TextFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        GetCurrentDirectoryA(sizeof m_cwd, m_cwd);
        // A hidden stand-in for the main window, which owns the boxes.
        m_owner = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(m_owner);
        SetCurrentDirectoryA(m_cwd); // the file dialogs change it
        for (const std::string &file : m_files)
            DeleteFileA(file.c_str());
        EXPECT_EQ(0, TakePendingBoxes());
        gvGlobals.KeepUnicode = 0;
    }
    std::string PathOf(const std::string &name, const std::string &bytes = "")
    {
        m_files.push_back(TempPath("quillet_textfile_" + name));
        if (!bytes.empty())
            std::ofstream(m_files.back(), std::ios::binary) << bytes;
        return m_files.back();
    }
    // Runs `act`, which must show one box with the system's text (or
    // `message`) and keep the clipboard.
    void ExpectRefusal(const std::function<void()> &act, const std::string &message = "")
    {
        ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, MARK_TEXT}})) << GetLastError();
        std::string text;
        ExpectBox(APP_NAME, NoteText(&text));
        act();
        EXPECT_EQ(0, TakePendingBoxes());
        EXPECT_NE("", text);
        EXPECT_TRUE(message.empty() || text == message) << text;
        EXPECT_EQ(MARK_TEXT, ClipboardData(CF_TEXT).substr(0, MARK_TEXT.size()));
    }

    HWND m_owner = nullptr;
    char m_cwd[MAX_PATH];
    std::vector<std::string> m_files;
};

} // namespace

// Every byte of a file goes on the clipboard as its only format, zero bytes
// included; a file missing or small only in the low 32 bits of its size
// changes nothing.
TEST_F(TextFile, OpenPutsTheWholeFileOnTheClipboardOrNothing)
{
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, MARK_TEXT}, {RegisterClipboardFormatA("Quillet Test"), "x"}}))
        << GetLastError();
    const std::string bytes("ab\0cd\0\0ef\xff", 10);
    LoadTextFile(m_owner, PathOf("zeros.log", bytes).c_str());
    EXPECT_EQ(bytes + '\0', ClipboardData(CF_TEXT).substr(0, bytes.size() + 1));
    EXPECT_FALSE(IsClipboardFormatAvailable(RegisterClipboardFormatA("Quillet Test")));
    std::ofstream(PathOf("empty.txt"));
    LoadTextFile(m_owner, m_files.back().c_str());
    EXPECT_EQ(std::string(1, '\0'), ClipboardData(CF_TEXT).substr(0, 1));

    HANDLE h = CreateFileA(PathOf("huge.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = 0x100000003LL;
    EXPECT_TRUE(SetFilePointerEx(h, size, nullptr, FILE_BEGIN) && SetEndOfFile(h)) << GetLastError();
    CloseHandle(h);
    ExpectRefusal([this] { LoadTextFile(m_owner, m_files.back().c_str()); }, LoadedString(IDS_ALLOCFAILED));
    ExpectRefusal([this] { LoadTextFile(m_owner, PathOf("missing.txt").c_str()); });
}

// The text is saved up to its zero; Unicode text alone, even kept as such,
// as the ANSI text the system derives; without text no file; an unwritable
// path is said. The dialog gives a name without an extension the default one.
TEST_F(TextFile, SaveWritesTheTextUpToItsZeroOrNothing)
{
    std::string path = PathOf("saved.txt", std::string(100, 'L')), none = PathOf("none.txt");
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("abc\0\0\0\0\0\0", 9)}})) << GetLastError();
    SaveClipboardText(m_owner, path.c_str());
    EXPECT_EQ("abc", ReadFileBytes(path));
    const wchar_t wide[] = L"wide text";
    ASSERT_TRUE(SetClipboardFormats({{CF_UNICODETEXT, std::string((const char *)wide, sizeof wide)}}))
        << GetLastError();
    gvGlobals.KeepUnicode = 1;
    SaveClipboardText(m_owner, path.c_str());
    EXPECT_EQ("wide text", ReadFileBytes(path));
    ExpectBox("Save As", TypePath(PathOf("bare")));
    OnFileSaveas(m_owner);
    EXPECT_EQ("wide text", ReadFileBytes(PathOf("bare.TXT")));
    ASSERT_TRUE(SetClipboardFormats({{RegisterClipboardFormatA("Quillet Test"), "x"}})) << GetLastError();
    SaveClipboardText(m_owner, none.c_str());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(none.c_str()));
    ExpectRefusal([this] { SaveClipboardText(m_owner, TempPath("no such folder\\x.txt").c_str()); });
}
