// The paste key: chosen in Options, and pressed in another program as a
// user does, against quillet.exe running as a process of its own.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <map>
#include "app/options.h"
#include "clipboard/pastekey.h"
#include "mainwindow.h"
#include "quilletprocess.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "boxwatch.h"
#include "util/globals.h"

namespace {

using Clipboard = std::map<UINT, std::string>;

Clipboard ClipboardNow()
{
    Clipboard now;
    for (UINT format : ClipboardFormats())
        now[format] = ClipboardData(format);
    return now;
}

// Options with the paste key set to `key` (and the programs left alone to
// `programs`) and OK; the box the program then shows, if any, is noted in
// `box`.
void ChooseKey(WORD key, std::string *box = nullptr, const wchar_t *programs = nullptr)
{
    ExpectBox("Quillet Options", [key, programs](HWND dlg) {
        SendDlgItemMessageA(dlg, IDC_OPT_PASTEKEY, HKM_SETHOTKEY, key, 0);
        if (programs)
            SetDlgItemTextW(dlg, IDC_OPT_LEFTALONE, programs);
        ClickButton(IDOK)(dlg);
    });
    if (box)
        ExpectBox("Quillet", NoteText(box));
    Command(IDM_OPTIONS);
    EXPECT_EQ(0, TakePendingBoxes());
}

bool Registered(UINT modifiers, UINT vk)
{
    if (!RegisterHotKey(nullptr, 0x2000, modifiers, vk))
        return true;
    UnregisterHotKey(nullptr, 0x2000);
    return false;
}

} // namespace

// The key and the programs left alone chosen in Options are stored, the key
// registered at once and read back by the next start; a cleared key stays cleared. A key another program
// holds is named in a message and the program goes on without one. A stored
// value that is no key gives the default.
TEST_F(MainWindowTest, PasteKeyOptionRoundTripsAndATakenKeyIsNamed)
{
    const WORD ctrlShiftF8 = MAKEWORD(VK_F8, HOTKEYF_CONTROL | HOTKEYF_SHIFT);
    ChooseKey(ctrlShiftF8, nullptr, L"excel.exe; Zeichnen.exe");
    EXPECT_EQ(ctrlShiftF8, GetSettingsInt(nullptr, "PasteKey", 1));
    EXPECT_EQ(L"excel.exe; Zeichnen.exe", StoredWideSetting(nullptr, "LeftAlone"));
    EXPECT_TRUE(Registered(MOD_CONTROL | MOD_SHIFT, VK_F8));
    ExpectBox("Quillet Options", [ctrlShiftF8](HWND dlg) {
        EXPECT_EQ(ctrlShiftF8, SendDlgItemMessageA(dlg, IDC_OPT_PASTEKEY, HKM_GETHOTKEY, 0, 0));
        ClickButton(IDCANCEL)(dlg);
    });
    Command(IDM_OPTIONS);

    ASSERT_TRUE(RegisterHotKey(nullptr, 0x2001, MOD_CONTROL | MOD_ALT, VK_F7)) << GetLastError();
    std::string box;
    ChooseKey(MAKEWORD(VK_F7, HOTKEYF_CONTROL | HOTKEYF_ALT), &box);
    UnregisterHotKey(nullptr, 0x2001);
    EXPECT_NE(std::string::npos, box.find("Ctrl+Alt+F7")) << box;
    EXPECT_FALSE(Registered(MOD_CONTROL | MOD_SHIFT, VK_F8));
    EXPECT_TRUE(IsWindow(Main()));

    ChooseKey(0);
    EXPECT_EQ(0u, GetSettingsInt(nullptr, "PasteKey", 1));
    const struct {
        DWORD type;
        std::string data;
        DWORD key;
    } STORED[] = {
        {REG_DWORD, std::string("\0\0\0\0", 4), 0},
        {REG_DWORD, std::string("\x51\x06\0\0", 4), 0x0651},
        {REG_DWORD, std::string("\x51\x06\1\0", 4), DEFAULT_PASTE_KEY},
        {REG_DWORD, std::string("\x51\x16\0\0", 4), DEFAULT_PASTE_KEY},
        {REG_DWORD, std::string("\0\x06\0\0", 4), DEFAULT_PASTE_KEY},
        {REG_SZ, "Ctrl+Q", DEFAULT_PASTE_KEY},
    };
    for (const auto &stored : STORED) {
        ASSERT_EQ(ERROR_SUCCESS, StoreRaw(nullptr, "PasteKey", stored.type, stored.data));
        ReadOptions();
        EXPECT_EQ(stored.key, gvGlobals.PasteKey) << stored.data;
    }
    RegDeleteKeyValueA(HKEY_CURRENT_USER, SETTINGS_ROOT, "PasteKey");
    ReadOptions();
    EXPECT_EQ(DEFAULT_PASTE_KEY, gvGlobals.PasteKey);
    EXPECT_EQ("Ctrl+Alt+Shift+V", PasteKeyName(DEFAULT_PASTE_KEY));
}

// Formatted text (with a format of bytes, and with a privacy mark) pasted
// into a text box as plain text with the chosen clean-ups, then given back
// with every format; with "keep the plain text" the text stays, marks and
// all. A window that ignores Ctrl+V gets the copy back after the limit; an
// empty clipboard pastes and changes nothing. No key is left down.
TEST(EndToEnd, PasteKeyPastesPlainTextAndGivesTheCopyBack)
{
    const UINT bytes = RegisterClipboardFormatA("Quillet Test Bytes");
    const UINT mark = RegisterClipboardFormatA("ExcludeClipboardContentFromMonitorProcessing");
    const struct {
        const char *what;
        bool keep, reads, marked;
        std::wstring copied, pasted; // no copy: an empty clipboard
    } ROWS[] = {
        {"paste", false, true, false, L"Hello World", L"Hello World"},
        {"cleaned up", false, true, false, L"\u201cHello\u201d World  ", L"\"Hello\" World"},
        {"private paste", false, true, true, L"Hello World", L"Hello World"},
        {"ignored", false, false, false, L"Hello World", L""},
        {"empty clipboard", false, true, false, L"", L""},
        {"kept text", true, true, false, L"Hello World", L"Hello World"},
        {"kept private text", true, true, true, L"Hello World", L"Hello World"},
    };
    for (int keep : {0, 1}) {
        for (const char *name : {"HideSplash", "NoVerCheck", "TrimLineEnds", "StraightQuotes"})
            WriteSettingsInt(nullptr, name, 1);
        WriteSettingsInt(nullptr, "KeepPlainText", keep);
        QuilletProcess quillet;
        ASSERT_NE(nullptr, quillet.Window()) << GetLastError();
        for (const auto &row : ROWS) {
            if (row.keep != (keep != 0))
                continue;
            SCOPED_TRACE(row.what);
            PasteTarget target(row.reads);
            ASSERT_NE(nullptr, target.Window());
            std::vector<ClipFormat> copy = {
                {CF_UNICODETEXT, std::string((const char *)row.copied.c_str(), (row.copied.size() + 1) * 2)},
                {RTF, "{\\rtf1 Hello {\\b World}}"},
                {bytes, std::string("\0\1\2\3", 4)}};
            if (row.marked)
                copy.push_back({mark, "1"});
            const bool empty = row.copied.empty();
            ASSERT_TRUE(SetClipboardFormats(empty ? std::vector<ClipFormat>() : copy)) << GetLastError();
            Settle(300);
            const Clipboard before = ClipboardNow();
            const DWORD changes = GetClipboardSequenceNumber();
            PressKey(MOD_CONTROL | MOD_ALT | MOD_SHIFT, 'V');
            // Lent: the plain text is on offer.
            EXPECT_EQ(!empty, WaitFor([&] { return GetClipboardSequenceNumber() != changes; }, 3000));
            EXPECT_TRUE(WaitFor([&] { return target.Text() == row.pasted; }, 5000)) << target.Text().size();
            if (empty) {
                EXPECT_TRUE(ClipboardFormats().empty());
            } else if (row.keep) {
                EXPECT_TRUE(WaitFor([&] { return ClipWide() == row.pasted && !OnClipboard(RTF); }, 5000));
                EXPECT_FALSE(OnClipboard(bytes));
                EXPECT_EQ(row.marked, OnClipboard(mark));
            } else {
                EXPECT_TRUE(WaitFor([&] { return ClipboardNow() == before; }, 5000));
            }
            for (int vk : {VK_CONTROL, VK_MENU, VK_SHIFT, int('V')})
                EXPECT_FALSE(GetAsyncKeyState(vk) & 0x8000) << vk;
            EXPECT_EQ(row.pasted, target.Text());
        }
    }
}
