#include <gtest/gtest.h>
#include <windows.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "settings/registry.h"
#include "util/guards.h"
#include "util/utf.h"

namespace {
bool KeyExists(const std::string &path)
{
    RegKey key;
    return RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

void StoreRaw(const char *name, DWORD type, const void *data, DWORD size)
{
    RegKey key;
    RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_ROOT, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                    nullptr);
    RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE *>(data), size);
}
} // namespace

TEST(Registry, TypedValuesDefaultsAndWrongTypes)
{
    char buf[16];
    wchar_t wbuf[8];
    EXPECT_EQ(GetSettingsStringA("Opts", "Missing", "dflt", buf, sizeof buf), 4);
    EXPECT_STREQ(buf, "dflt");
    EXPECT_EQ(GetSettingsStringA("Opts", "Missing", "", buf, sizeof buf), 0);
    EXPECT_EQ(GetSettingsInt("Opts", "Missing", 7), 7u);
    EXPECT_FALSE(KeyExists(SETTINGS_ROOT "\\Opts"));

    ASSERT_EQ(WriteSettingsInt(nullptr, "Num", 0xFFFFFFFEu), 1);
    ASSERT_EQ(WriteSettingsStringA("", "Text", "hello"), 1);
    ASSERT_EQ(WriteSettingsStringA("Opts", "Empty", ""), 1);
    EXPECT_EQ(GetSettingsInt("", "Num", 0), 0xFFFFFFFEu);
    EXPECT_EQ(GetSettingsStringA(nullptr, "Text", "", buf, sizeof buf), 6);
    EXPECT_STREQ(buf, "hello");
    EXPECT_EQ(GetSettingsStringA("Opts", "Empty", "x", buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "");

    RegKey key;
    DWORD classLen = sizeof buf;
    RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_ROOT "\\Opts", 0, KEY_READ, key.put());
    RegQueryInfoKeyA(key.get(), buf, &classLen, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_STREQ(buf, "Quillet");

    StoreRaw("Expand", REG_EXPAND_SZ, "abc", 4);
    StoreRaw("Long", REG_DWORD, "\1\2\3\4\5\6\7\10", 8);
    EXPECT_EQ(GetSettingsStringA(nullptr, "Num", "d", buf, sizeof buf), 1);
    EXPECT_EQ(GetSettingsStringW(nullptr, "Num", "d", wbuf, sizeof wbuf), 1);
    EXPECT_EQ(GetSettingsStringA(nullptr, "Expand", "d", buf, sizeof buf), 1);
    EXPECT_EQ(GetSettingsInt("Opts", "Empty", 9), 9u);
    EXPECT_EQ(GetSettingsInt(nullptr, "Long", 9), 9u);
}

TEST(Registry, ValueLargerThanBufferYieldsDefault)
{
    char buf[16];
    wchar_t wbuf[8];
    WriteSettingsStringA(nullptr, "Name", "abcdefgh");
    WriteSettingsStringW(nullptr, "Wide", L"abcdefgh");
    EXPECT_EQ(GetSettingsStringA(nullptr, "Name", "dflt", buf, 9), 9);
    EXPECT_EQ(GetSettingsStringA(nullptr, "Name", "dflt", buf, 8), 4);
    EXPECT_STREQ(buf, "dflt");
    EXPECT_EQ(GetSettingsStringA(nullptr, "Name", "default-too-long", buf, 8), 7);
    EXPECT_STREQ(buf, "default");
    EXPECT_EQ(GetSettingsStringW(nullptr, "Wide", "dflt", wbuf, sizeof wbuf), 4);
    EXPECT_STREQ(wbuf, L"dflt");

    // Stored without a terminator: terminated when there is room, else too large.
    StoreRaw("Bare", REG_SZ, "abcd", 3);
    EXPECT_EQ(GetSettingsStringA(nullptr, "Bare", "d", buf, 3), 1);
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(GetSettingsStringA(nullptr, "Bare", "d", buf, 4), 3);
    EXPECT_STREQ(buf, "abc");
}

TEST(Registry, NullTextDeletesValue)
{
    WriteSettingsStringA("S", "Name", "v");
    WriteSettingsStringW("S", "Wide", L"v");
    EXPECT_EQ(WriteSettingsStringA("S", "Name", nullptr), 1);
    EXPECT_EQ(WriteSettingsStringW("S", "Wide", nullptr), 1);
    EXPECT_EQ(GetSettingsStringSize("S", "Name") + GetSettingsStringSize("S", "Wide"), 0u);

    SetLastError(0);
    EXPECT_EQ(WriteSettingsStringA("New", "Name", nullptr), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(KeyExists(SETTINGS_ROOT "\\New"));
}

TEST(Registry, SectionNamesListAndStopWhenFull)
{
    char buf[512];
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(GetSettingsSectionNames(buf, sizeof buf), 0u);
    EXPECT_EQ(std::string(buf, 3), std::string("\0\0x", 3));

    WriteSettingsInt("Clip B", "State", 1);
    WriteSettingsInt("Clip A", "State", 1);
    WriteSettingsInt(nullptr, "ClipCount", 2);
    EXPECT_EQ(GetSettingsSectionNames(buf, sizeof buf), 14u);
    EXPECT_EQ(std::string(buf, 16), std::string("Clip A\0Clip B\0\0\0", 16));
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(GetSettingsSectionNames(buf, 9), 7u);
    EXPECT_EQ(std::string(buf, 10), std::string("Clip A\0\0\0x", 10));
    EXPECT_EQ(GetSettingsSectionNames(buf, 8), 0u);
}

TEST(Registry, WideStringsAndSizes)
{
    const wchar_t text[] = L"Gr\u00fc\u00dfe \u20ac \U0001D11E";
    wchar_t wbuf[32];
    ASSERT_EQ(WriteSettingsStringW("S", "N\xC3\xA4me", text), 1);
    EXPECT_EQ(GetSettingsStringW("S", "N\xC3\xA4me", "", wbuf, sizeof wbuf), (int)sizeof text);
    EXPECT_STREQ(wbuf, text);
    EXPECT_EQ(GetSettingsStringW("S", "N\xC3\xA4me", "", nullptr, 0), 0);
    EXPECT_EQ(GetSettingsStringW("S", "Missing", "\xE2\x82\xAC!", wbuf, 8), 2);
    EXPECT_STREQ(wbuf, L"\u20ac!");

    WriteSettingsStringA(nullptr, "EmptyA", "");
    WriteSettingsStringW(nullptr, "EmptyW", L"");
    WriteSettingsStringW(nullptr, "UTF", text);
    EXPECT_EQ(GetSettingsStringSize(nullptr, "Missing"), 0u);
    EXPECT_EQ(GetSettingsStringSize(nullptr, "EmptyA"), 1u);
    EXPECT_NE(GetSettingsStringSize(nullptr, "EmptyW"), 0u);
    // Callers read a wide value into twice the reported size.
    std::vector<wchar_t> big(GetSettingsStringSize(nullptr, "UTF"));
    EXPECT_EQ(GetSettingsStringW(nullptr, "UTF", "", big.data(), big.size() * 2), (int)sizeof text);
}

TEST(Registry, LongSectionPathIsCut)
{
    std::string full = SETTINGS_ROOT "\\" + std::string(150, 's');
    char buf[8];
    ASSERT_EQ(WriteSettingsStringA(std::string(150, 's').c_str(), "Name", "v"), 1);
    EXPECT_TRUE(KeyExists(full.substr(0, 127)));
    EXPECT_FALSE(KeyExists(full.substr(0, 128)));
    EXPECT_EQ(GetSettingsStringA(std::string(130, 's').c_str(), "Name", "", buf, sizeof buf), 2);
}

TEST(Registry, RegFunctionsTakeWholeKeyPath)
{
    const char path[] = SETTINGS_ROOT "\\Scratch\\Deep";
    char buf[16];
    wchar_t wbuf[16];
    ASSERT_EQ(WriteRegStringA(path, "Run", "C:\\q.exe"), 1);
    ASSERT_EQ(WriteRegStringW(path, "W", L"\u00e9"), 1);
    EXPECT_EQ(GetSettingsStringA("Scratch\\Deep", "Run", "", buf, sizeof buf), 9);
    EXPECT_EQ(GetRegStringW(path, "W", "", wbuf, sizeof wbuf), 4);
    EXPECT_STREQ(wbuf, L"\u00e9");
    EXPECT_EQ(WriteRegStringA(path, "Run", nullptr), 1);
    EXPECT_EQ(GetRegStringA(path, "Run", "gone", buf, sizeof buf), 4);
    EXPECT_EQ(GetRegStringW(SETTINGS_ROOT "\\Nowhere", "W", "gone", wbuf, sizeof wbuf), 4);
    EXPECT_FALSE(KeyExists(SETTINGS_ROOT "\\Nowhere"));
}

TEST(Registry, Utf8ConversionsRoundTrip)
{
    const char utf8[] = "a\xC3\xBC\xE2\x82\xAC\xF0\x9D\x84\x9E";
    wchar_t *wide = UTF8ToUTF16(utf8);
    char *back = UTF16ToUTF8(wide);
    EXPECT_STREQ(wide, L"a\u00fc\u20ac\U0001D11E");
    EXPECT_STREQ(back, utf8);
    free(back);
    free(wide);
    EXPECT_EQ(UTF8ToUTF16(""), nullptr);
    EXPECT_EQ(UTF16ToUTF8(nullptr), nullptr);
}
