#include "registry.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include "util/guards.h"
#include "util/safefns.h"
#include "util/utf.h"

namespace {

// The key path of a section; a path too long for the buffer is cut to 127
// characters.
struct SectionPath {
    explicit SectionPath(const char *section)
    {
        if (section && *section)
            snprintf(text, sizeof text, "%s\\%s", SETTINGS_ROOT, section);
        else
            snprintf(text, sizeof text, "%s", SETTINGS_ROOT);
    }
    char text[128];
};

// Writers answer 1, or 0 with the registry's code as the last error. Called
// once every handle is closed and every copy freed, so nothing overwrites it.
int Report(LONG rc)
{
    if (rc == ERROR_SUCCESS)
        return 1;
    SetLastError(static_cast<DWORD>(rc));
    return 0;
}

LONG CreateKey(const char *path)
{
    RegKey key;
    char keyClass[] = "Quillet";
    return RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, keyClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                           nullptr, key.put(), nullptr);
}

// Creates the key (with any missing parents), then reopens it for one change.
template <typename Change> LONG WriteKey(const char *path, Change change)
{
    LONG rc = CreateKey(path);
    if (rc != ERROR_SUCCESS)
        return rc;
    RegKey key;
    rc = RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, key.put());
    return rc == ERROR_SUCCESS ? change(key.get()) : rc;
}

// Opens the key for one query; reads never create keys.
template <typename Query> LONG ReadKey(const char *path, Query query)
{
    RegKey key;
    LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, key.put());
    return rc == ERROR_SUCCESS ? query(key.get()) : rc;
}

// A null wide name addresses the key's unnamed value, so a name whose
// conversion failed must not be used as one.
bool NameLost(const char *name, const wchar_t *wideName)
{
    return name && *name && !wideName;
}

// A string stored without its terminator comes back unterminated; it is
// terminated here, or counts as too large when the buffer has no room left.
// Without a buffer the query succeeds with the size alone, which is too large.
template <typename Char> bool Terminated(Char *buf, DWORD gotBytes, DWORD sizeBytes)
{
    DWORD got = gotBytes / sizeof(Char);
    if (gotBytes > sizeBytes)
        return false;
    if (got > 0 && buf[got - 1] == 0)
        return true;
    if (got >= sizeBytes / sizeof(Char))
        return false;
    buf[got] = 0;
    return true;
}

// Bounded copies of a default that always terminate (given any room);
// the result is the number of characters copied.
int CopyDefaultA(const char *def, char *buf, DWORD size)
{
    if (safe_strncpy(buf, size, def ? def : "", size ? size - 1 : 0) != SAFE_OK)
        return 0;
    return static_cast<int>(strlen(buf));
}

int CopyDefaultW(const wchar_t *def, wchar_t *buf, DWORD count)
{
    if (count == 0)
        return 0;
    if (!def)
        def = L"";
    size_t len = wcsnlen(def, count - 1);
    wmemcpy(buf, def, len);
    buf[len] = L'\0';
    return static_cast<int>(len);
}

// Appends subkey names while each still leaves room for the list's two
// closing zero bytes; returns the bytes taken by the names.
DWORD AppendSubkeyNames(HKEY key, char *buf, DWORD size)
{
    DWORD used = 0;
    char name[128];
    for (DWORD index = 0;; index++) {
        DWORD len = sizeof name;
        if (RegEnumKeyExA(key, index, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (len + 1 + 2 > size - used)
            break;
        memcpy(buf + used, name, len + 1);
        used += len + 1;
    }
    return used;
}

} // namespace

int WriteRegStringA(const char *keyPath, const char *name, const char *text)
{
    return Report(WriteKey(keyPath, [&](HKEY key) {
        if (!text)
            return RegDeleteValueA(key, name);
        return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                              static_cast<DWORD>(strlen(text) + 1));
    }));
}

int WriteRegStringW(const char *keyPath, const char *name, const wchar_t *text)
{
    wchar_t *wideName = UTF8ToUTF16(name);
    LONG rc = WriteKey(keyPath, [&](HKEY key) -> LONG {
        if (!text)
            return RegDeleteValueA(key, name);
        if (NameLost(name, wideName))
            return ERROR_NOT_ENOUGH_MEMORY;
        return RegSetValueExW(key, wideName, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                              static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    });
    free(wideName);
    return Report(rc);
}

int GetRegStringA(const char *keyPath, const char *name, const char *def, char *buf, DWORD size)
{
    DWORD type = REG_NONE;
    DWORD got = size;
    LONG rc = ReadKey(keyPath, [&](HKEY key) {
        return RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buf), &got);
    });
    if (rc == ERROR_SUCCESS && type == REG_SZ && Terminated(buf, got, size))
        return static_cast<int>(got);
    return CopyDefaultA(def, buf, size);
}

int GetRegStringW(const char *keyPath, const char *name, const char *def, wchar_t *buf, DWORD size)
{
    wchar_t *wideDef = UTF8ToUTF16(def);
    wchar_t *wideName = UTF8ToUTF16(name);
    DWORD type = REG_NONE;
    DWORD got = size;
    LONG rc = NameLost(name, wideName) ? ERROR_NOT_ENOUGH_MEMORY : ReadKey(keyPath, [&](HKEY key) {
        return RegQueryValueExW(key, wideName, nullptr, &type, reinterpret_cast<BYTE *>(buf), &got);
    });
    int result = rc == ERROR_SUCCESS && type == REG_SZ && Terminated(buf, got, size)
                     ? static_cast<int>(got)
                     : CopyDefaultW(wideDef, buf, size / sizeof(wchar_t));
    free(wideName);
    free(wideDef);
    return result;
}

int WriteSettingsStringA(const char *section, const char *name, const char *text)
{
    return WriteRegStringA(SectionPath(section).text, name, text);
}

int WriteSettingsStringW(const char *section, const char *name, const wchar_t *text)
{
    return WriteRegStringW(SectionPath(section).text, name, text);
}

int GetSettingsStringA(const char *section, const char *name, const char *def, char *buf, DWORD size)
{
    return GetRegStringA(SectionPath(section).text, name, def, buf, size);
}

int GetSettingsStringW(const char *section, const char *name, const char *def, wchar_t *buf, DWORD size)
{
    return GetRegStringW(SectionPath(section).text, name, def, buf, size);
}

int WriteSettingsInt(const char *section, const char *name, DWORD value)
{
    return Report(WriteKey(SectionPath(section).text, [&](HKEY key) {
        return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
    }));
}

DWORD GetSettingsInt(const char *section, const char *name, DWORD def)
{
    DWORD value = 0;
    DWORD type = REG_NONE;
    DWORD got = sizeof value;
    LONG rc = ReadKey(SectionPath(section).text, [&](HKEY key) {
        return RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&value), &got);
    });
    return rc == ERROR_SUCCESS && type == REG_DWORD ? value : def;
}

DWORD GetSettingsStringSize(const char *section, const char *name)
{
    DWORD got = 0;
    LONG rc = ReadKey(SectionPath(section).text,
                      [&](HKEY key) { return RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &got); });
    return rc == ERROR_SUCCESS ? got : 0;
}

// The buffer receives zero-terminated names followed by two zero bytes; a
// buffer without room for those two bytes is left untouched.
DWORD GetSettingsSectionNames(char *buf, DWORD size)
{
    if (size < 2)
        return 0;
    DWORD used = 0;
    {
        RegKey key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_ROOT, 0, KEY_ALL_ACCESS, key.put()) == ERROR_SUCCESS)
            used = AppendSubkeyNames(key.get(), buf, size);
    }
    buf[used] = '\0';
    buf[used + 1] = '\0';
    return used;
}
