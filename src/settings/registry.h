#pragma once
// The settings store: typed values in sections under the program's key in
// HKEY_CURRENT_USER. Each call opens, uses and closes its own key; none shows
// a message. Writers return 1 or 0 (last error = the registry's code);
// readers fall back to the caller's default.
#include <windows.h>

#define SETTINGS_ROOT "Software\\Marrowfield\\Quillet"

int WriteSettingsStringA(const char *section, const char *name, const char *text);
int WriteSettingsStringW(const char *section, const char *name, const wchar_t *text);
int WriteSettingsInt(const char *section, const char *name, DWORD value);
int GetSettingsStringA(const char *section, const char *name, const char *def, char *buf, DWORD size);
int GetSettingsStringW(const char *section, const char *name, const char *def, wchar_t *buf, DWORD size);
DWORD GetSettingsInt(const char *section, const char *name, DWORD def);
DWORD GetSettingsStringSize(const char *section, const char *name);
DWORD GetSettingsSectionNames(char *buf, DWORD size);

int WriteRegStringA(const char *keyPath, const char *name, const char *text);
int WriteRegStringW(const char *keyPath, const char *name, const wchar_t *text);
int GetRegStringA(const char *keyPath, const char *name, const char *def, char *buf, DWORD size);
int GetRegStringW(const char *keyPath, const char *name, const char *def, wchar_t *buf, DWORD size);
