#include "cloud/account.h"
#include "settings/registry.h"

bool GetCloudAccount(char *name, size_t nameSize, char *key, size_t keySize)
{
    if (nameSize == 0 || keySize == 0 || nameSize > MAXDWORD || keySize > MAXDWORD)
        return false;
    GetSettingsStringA(nullptr, "AccountName", "", name, static_cast<DWORD>(nameSize));
    GetSettingsStringA(nullptr, "AccountKey", "", key, static_cast<DWORD>(keySize));
    return name[0] && key[0];
}
