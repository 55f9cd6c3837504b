#pragma once
// The sync account: root settings "AccountName" and "AccountKey", edited
// with "ServerHost" in the "Cloud Account" dialog.
#include <windows.h>

// Room for the account's name or key: a longer value reads as not set.
#define ACCOUNT_TEXT_SIZE 256
// The longest account name the service takes.
#define ACCOUNT_NAME_MAX 128

// The account's name and key; false when either is not set.
bool GetCloudAccount(char *name, size_t nameSize, char *key, size_t keySize);
// Runs the dialog; TRUE when the user saved an account.
BOOL CloudAccountDialog(HWND owner);
// TRUE when an account is set, asking for one first when there is none, and
// the service's certificate is trusted (a certificate the system does not
// vouch for is offered for trust by its fingerprint; one that differs from
// the fingerprint trusted before is refused unless the user trusts it now).
BOOL EnsureCloudAccount(HWND owner);
