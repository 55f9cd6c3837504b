// Text files to and from the clipboard, with real files in a folder of the
// temp directory and the real clipboard.
#include <gtest/gtest.h>
#include <windows.h>
#include <memory>
#include <string>
#include <vector>
#include "boxwatch.h"
#include "clipboard/reduce.h"
#include "clipboard/textfile.h"
#include "resources/resource.h"
#include "testutil.h"
#include "util/globals.h"

namespace {

// A hidden stand-in for the main window: what RefreshList updates.
class OwnerWindow {
public:
    OwnerWindow()
    {
        hwnd = CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 400, 300,
                               nullptr, nullptr, nullptr, nullptr);
        list = Child("LISTBOX", IDC_FORMATLIST);
        Child("BUTTON", IDC_REDUCE);
    }
    ~OwnerWindow() { DestroyWindow(hwnd); }
    int ListCount() const { return (int)SendMessageA(list, LB_GETCOUNT, 0, 0); }
    HWND hwnd, list;

private:
    HWND Child(const char *cls, int id)
    {
        return CreateWindowExA(0, cls, "", WS_CHILD, 0, 0, 100, 100, hwnd,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    }
};

// Answers a message box with OK after noting its text.
BoxAnswer NoteText(std::shared_ptr<std::string> text)
{
    return [text](HWND box) {
        char buf[512] = "";
        GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf);
        *text = buf;
        SendDlgItemMessageA(box, IDOK, BM_CLICK, 0, 0);
    };
}

// Types a path into a file dialog and confirms it.
BoxAnswer TypePath(const std::string &path)
{
    return [path](HWND box) {
        HWND name = GetDlgItem(box, 0x47c);
        if (!name)
            name = GetDlgItem(box, 0x480);
        SetWindowTextA(name, path.c_str());
        SendMessageA(box, WM_COMMAND, IDOK, 0);
    };
}

std::string LoadedString(UINT id)
{
    char text[256] = "";
    LoadStringA(gvGlobals.hInstance, id, text, sizeof text);
    return text;
}

class TextFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char cwd[MAX_PATH];
        GetCurrentDirectoryA(sizeof cwd, cwd);
        m_cwd = cwd;
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        m_dir = std::string(temp) + "quillet_textfile_" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryA(m_dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    }
    void TearDown() override
    {
        // The file dialogs make the chosen folder the current one.
        SetCurrentDirectoryA(m_cwd.c_str());
        for (const std::string &file : m_files)
            DeleteFileA(file.c_str());
        EXPECT_TRUE(RemoveDirectoryA(m_dir.c_str())) << GetLastError();
        gvGlobals.AutoConvert = 0;
    }

    std::string PathOf(const std::string &name)
    {
        m_files.push_back(m_dir + "\\" + name);
        return m_files.back();
    }
    std::string WriteFileNamed(const std::string &name, const std::string &bytes)
    {
        std::string path = PathOf(name);
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(h, bytes.data(), (DWORD)bytes.size(), &written, nullptr));
        CloseHandle(h);
        return path;
    }
    static bool Exists(const std::string &path)
    {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    static std::string ReadAll(const std::string &path)
    {
        HANDLE h =
            CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return "<missing>";
        std::string bytes(GetFileSize(h, nullptr), '\0');
        DWORD read = 0;
        ReadFile(h, &bytes[0], (DWORD)bytes.size(), &read, nullptr);
        CloseHandle(h);
        return bytes.substr(0, read);
    }

    OwnerWindow m_owner;

private:
    std::string m_cwd, m_dir;
    std::vector<std::string> m_files;
};

const std::string MARK_TEXT("before", 7);

} // namespace

TEST_F(TextFile, OpenPutsTheWholeFileOnTheClipboard)
{
    const UINT other = RegisterClipboardFormatA("Quillet Test");
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, MARK_TEXT}, {other, "x"}}));
    const int undoCount = m_UndoCount;
    gvGlobals.AutoConvert = 1;
    LoadTextFile(m_owner.hwnd, WriteFileNamed("empty.txt", "").c_str());
    EXPECT_TRUE(ClipboardData(other).empty());
    std::string data = ClipboardData(CF_TEXT);
    ASSERT_GE(data.size(), 1u);
    EXPECT_EQ(data[0], '\0');
    EXPECT_EQ(m_owner.ListCount(), 1);
    EXPECT_EQ(gvGlobals.AutoConvert, 1u);
    EXPECT_EQ(m_UndoCount, undoCount);

    const std::string bytes("ab\0cd\0\0ef\xff", 10);
    LoadTextFile(m_owner.hwnd, WriteFileNamed("zeros.log", bytes).c_str());
    data = ClipboardData(CF_TEXT);
    ASSERT_GE(data.size(), bytes.size() + 1);
    EXPECT_EQ(data.substr(0, bytes.size() + 1), bytes + '\0');
}

TEST_F(TextFile, FailedOpenLeavesTheClipboardAlone)
{
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, MARK_TEXT}}));
    auto text = std::make_shared<std::string>();
    ExpectBox(APP_NAME, NoteText(text));
    LoadTextFile(m_owner.hwnd, PathOf("missing.txt").c_str());
    EXPECT_EQ(TakePendingBoxes(), 0);
    EXPECT_FALSE(text->empty()) << "the system's text for the error";
    EXPECT_EQ(ClipboardData(CF_TEXT).substr(0, MARK_TEXT.size()), MARK_TEXT);

    // Only the low 32 bits of this size are small; loading them would
    // silently cut the file short.
    std::string huge = PathOf("huge.txt");
    HANDLE h = CreateFileA(huge.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = 0x100000003LL;
    EXPECT_TRUE(SetFilePointerEx(h, size, nullptr, FILE_BEGIN));
    EXPECT_TRUE(SetEndOfFile(h));
    CloseHandle(h);
    ExpectBox(APP_NAME, NoteText(text));
    LoadTextFile(m_owner.hwnd, huge.c_str());
    EXPECT_EQ(TakePendingBoxes(), 0);
    EXPECT_EQ(*text, LoadedString(IDS_ALLOCFAILED));
    EXPECT_EQ(ClipboardData(CF_TEXT).substr(0, MARK_TEXT.size()), MARK_TEXT);
}

TEST_F(TextFile, SaveWritesTheTextUpToItsZero)
{
    std::string path = WriteFileNamed("saved.txt", std::string(100, 'L'));
    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, std::string("abc\0\0\0\0\0\0", 9)}}));
    SaveClipboardText(m_owner.hwnd, path.c_str());
    EXPECT_EQ(ReadAll(path), "abc");
    EXPECT_EQ(m_owner.ListCount(), (int)ClipboardFormats().size());

    // Unicode text alone is saved as the ANSI text the system derives.
    const wchar_t wide[] = L"wide text";
    ASSERT_TRUE(SetClipboardFormats({{CF_UNICODETEXT, std::string((const char *)wide, sizeof wide)}}));
    gvGlobals.KeepUnicode = 1;
    SaveClipboardText(m_owner.hwnd, path.c_str());
    gvGlobals.KeepUnicode = 0;
    EXPECT_EQ(ReadAll(path), "wide text");
}

TEST_F(TextFile, SaveWithoutTextOrFolderWritesNothing)
{
    std::string path = PathOf("none.txt");
    ASSERT_TRUE(SetClipboardFormats({{RegisterClipboardFormatA("Quillet Test"), "x"}}));
    SaveClipboardText(m_owner.hwnd, path.c_str());
    EXPECT_FALSE(Exists(path));

    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, MARK_TEXT}}));
    auto text = std::make_shared<std::string>();
    ExpectBox(APP_NAME, NoteText(text));
    SaveClipboardText(m_owner.hwnd, PathOf("no such folder\\x.txt").c_str());
    EXPECT_EQ(TakePendingBoxes(), 0);
    EXPECT_FALSE(text->empty());
}

TEST_F(TextFile, DialogsTakeTypedPaths)
{
    const std::string bytes = "typed into the dialog";
    std::string source = WriteFileNamed("source.txt", bytes);
    ExpectBox("Open", TypePath(source));
    OnFileOpen(m_owner.hwnd);
    EXPECT_EQ(TakePendingBoxes(), 0);
    EXPECT_EQ(std::string(ClipboardData(CF_TEXT).c_str()), bytes);

    // A name without an extension gets the default one.
    std::string bare = PathOf("bare");
    std::string withExt = PathOf("bare.TXT");
    ExpectBox("Save As", TypePath(bare));
    OnFileSaveas(m_owner.hwnd);
    EXPECT_EQ(TakePendingBoxes(), 0);
    EXPECT_FALSE(Exists(bare));
    EXPECT_EQ(ReadAll(withExt), bytes);

    ASSERT_TRUE(SetClipboardFormats({{CF_TEXT, MARK_TEXT}}));
    ExpectBox("Open", ClickButton(IDCANCEL));
    OnFileOpen(m_owner.hwnd);
    EXPECT_EQ(TakePendingBoxes(), 0);
    EXPECT_EQ(ClipboardData(CF_TEXT).substr(0, MARK_TEXT.size()), MARK_TEXT);
}
