// Text files to and from the clipboard, with real files in a folder of the
// temp directory and the real clipboard.
#include <gtest/gtest.h>
#include <windows.h>
#include <fstream>
#include <string>
#include <vector>
#include "boxwatch.h"
#include "clipboard/reduce.h"
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
        char cwd[MAX_PATH];
        GetCurrentDirectoryA(sizeof cwd, cwd);
        m_cwd = cwd;
        m_dir = TempPath("quillet_textfile_" + std::to_string(GetCurrentProcessId()));
        ASSERT_TRUE(CreateDirectoryA(m_dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        // A hidden stand-in for the main window: what RefreshList updates.
        m_owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 400, 300,
                                  nullptr, nullptr, nullptr, nullptr);
        for (int id : {IDC_FORMATLIST, IDC_REDUCE})
            CreateWindowExA(0, id == IDC_REDUCE ? "BUTTON" : "LISTBOX", "", WS_CHILD, 0, 0, 100, 100, m_owner,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(m_owner);
        SetCurrentDirectoryA(m_cwd.c_str()); // the file dialogs change it
        for (const std::string &file : m_files)
            DeleteFileA(file.c_str());
        EXPECT_TRUE(RemoveDirectoryA(m_dir.c_str())) << GetLastError();
        EXPECT_EQ(0, TakePendingBoxes());
        gvGlobals.AutoConvert = gvGlobals.KeepUnicode = 0;
    }

    std::string PathOf(const std::string &name)
    {
        m_files.push_back(m_dir + "\\" + name);
        return m_files.back();
    }
    std::string WriteFileNamed(const std::string &name, const std::string &bytes)
    {
        std::string path = PathOf(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    int Listed() const { return (int)SendDlgItemMessageA(m_owner, IDC_FORMATLIST, LB_GETCOUNT, 0, 0); }
    static std::string Text() { return ClipboardData(CF_TEXT).c_str(); }

    HWND m_owner = nullptr;
    std::string m_dir;

private:
    std::string m_cwd;
    std::vector<std::string> m_files;
};

} // namespace

TEST_F(TextFile, OpenPutsTheWholeFileOnTheClipboardOrNothing)
{
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, MARK_TEXT}, {RegisterClipboardFormatA("Quillet Test"), "x"}}));
    const int undoCount = m_UndoCount;
    gvGlobals.AutoConvert = 1;
    LoadTextFile(m_owner, WriteFileNamed("empty.txt", "").c_str());
    EXPECT_EQ("", ClipboardData(RegisterClipboardFormatA("Quillet Test")));
    EXPECT_EQ(std::string(1, '\0'), ClipboardData(CF_TEXT).substr(0, 1));
    EXPECT_EQ(1, Listed());
    EXPECT_EQ(1u, gvGlobals.AutoConvert);
    EXPECT_EQ(undoCount, m_UndoCount);

    const std::string bytes("ab\0cd\0\0ef\xff", 10);
    LoadTextFile(m_owner, WriteFileNamed("zeros.log", bytes).c_str());
    EXPECT_EQ(bytes + '\0', ClipboardData(CF_TEXT).substr(0, bytes.size() + 1));

    // A missing file, and one whose size is small only in its low 32 bits
    // (loading those would silently cut it short): a box, the clipboard kept.
    std::string huge = PathOf("huge.txt");
    HANDLE h = CreateFileA(huge.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = 0x100000003LL;
    EXPECT_TRUE(SetFilePointerEx(h, size, nullptr, FILE_BEGIN) && SetEndOfFile(h));
    CloseHandle(h);
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, MARK_TEXT}}));
    for (const std::string &path : {PathOf("missing.txt"), huge}) {
        std::string text;
        ExpectBox(APP_NAME, NoteText(&text));
        LoadTextFile(m_owner, path.c_str());
        EXPECT_EQ(0, TakePendingBoxes());
        EXPECT_NE("", text) << "the system's text for the error";
        EXPECT_TRUE(path != huge || text == LoadedString(IDS_ALLOCFAILED)) << text;
        EXPECT_EQ(MARK_TEXT, ClipboardData(CF_TEXT).substr(0, MARK_TEXT.size()));
    }
}

TEST_F(TextFile, SaveWritesTheTextUpToItsZeroOrNothing)
{
    std::string path = WriteFileNamed("saved.txt", std::string(100, 'L'));
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("abc\0\0\0\0\0\0", 9)}}));
    SaveClipboardText(m_owner, path.c_str());
    EXPECT_EQ("abc", ReadFileBytes(path));
    EXPECT_EQ((int)ClipboardFormats().size(), Listed());

    // Unicode text alone is saved as the ANSI text the system derives.
    const wchar_t wide[] = L"wide text";
    ASSERT_TRUE(SetClipboardFormats({{CF_UNICODETEXT, std::string((const char *)wide, sizeof wide)}}));
    gvGlobals.KeepUnicode = 1;
    SaveClipboardText(m_owner, path.c_str());
    EXPECT_EQ("wide text", ReadFileBytes(path));

    std::string none = PathOf("none.txt");
    ASSERT_TRUE(SetClipboardFormats({{RegisterClipboardFormatA("Quillet Test"), "x"}}));
    SaveClipboardText(m_owner, none.c_str());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(none.c_str()));

    std::string text;
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, MARK_TEXT}}));
    ExpectBox(APP_NAME, NoteText(&text));
    SaveClipboardText(m_owner, (m_dir + "\\no such folder\\x.txt").c_str());
    EXPECT_EQ(0, TakePendingBoxes());
    EXPECT_NE("", text);
}

TEST_F(TextFile, DialogsTakeTypedPaths)
{
    const std::string bytes = "typed into the dialog";
    ExpectBox("Open", TypePath(WriteFileNamed("source.txt", bytes)));
    OnFileOpen(m_owner);
    EXPECT_EQ(0, TakePendingBoxes());
    EXPECT_EQ(bytes, Text());

    // A name without an extension gets the default one.
    std::string bare = PathOf("bare"), withExt = PathOf("bare.TXT");
    ExpectBox("Save As", TypePath(bare));
    OnFileSaveas(m_owner);
    EXPECT_EQ(0, TakePendingBoxes());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(bare.c_str()));
    EXPECT_EQ(bytes, ReadFileBytes(withExt));

    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, MARK_TEXT}}));
    ExpectBox("Open", ClickButton(IDCANCEL));
    OnFileOpen(m_owner);
    EXPECT_EQ(0, TakePendingBoxes());
    EXPECT_EQ(MARK_TEXT, ClipboardData(CF_TEXT).substr(0, MARK_TEXT.size()));
}
