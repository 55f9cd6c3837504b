#include "account.h"
#include "clipcrypt.h"
#include "wire.h"
#include "net/http.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include <ntsecapi.h>
#include <cstdio>
#include <cstring>

namespace {

const char KEY_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const size_t GENERATED_KEY_LENGTH = 20;
const uint32_t KEY_MIN_VALUES = 8;
// "https://host:port" with a host name of up to 253 characters.
const int SERVER_HOST_MAX = 269;

// Only the letters and digits of a key scramble the clippings.
bool KeyUsable(const char *key)
{
    uint8_t values[ROL_KEY_MAX];
    return DeriveRolKey(key, values, sizeof values) >= KEY_MIN_VALUES;
}

// Letters and digits drawn evenly: bytes past the last whole round of the
// alphabet are thrown away rather than folded onto its start.
bool GenerateKey(char (&key)[GENERATED_KEY_LENGTH + 1])
{
    const unsigned alphabet = sizeof KEY_ALPHABET - 1;
    const unsigned limit = 256 / alphabet * alphabet;
    size_t have = 0;
    while (have < GENERATED_KEY_LENGTH) {
        unsigned char bytes[32];
        if (!RtlGenRandom(bytes, sizeof bytes))
            return false;
        for (size_t i = 0; i < sizeof bytes && have < GENERATED_KEY_LENGTH; i++)
            if (bytes[i] < limit)
                key[have++] = KEY_ALPHABET[bytes[i] % alphabet];
    }
    key[have] = '\0';
    return true;
}

// Asks whether to trust a certificate the system does not vouch for (one
// the service made itself); the user compares the fingerprint with the one
// the service printed.
bool OfferCertificate(HWND owner, TlsProblem problem, const char *fingerprint)
{
    char trusted[FINGERPRINT_SIZE] = "", text[640];
    GetSettingsStringA(nullptr, "ServerFingerprint", "", trusted, sizeof trusted);
    if (problem == TLS_UNKNOWN_CERT)
        snprintf(text, sizeof text,
                 "The sync service shows a certificate that Windows does not trust, such as one the service "
                 "made itself. Its SHA-256 fingerprint is:\n\n%s\n\nTrust it only if this is the fingerprint "
                 "the service printed when it started. Trust this certificate?",
                 fingerprint);
    else
        snprintf(text, sizeof text,
                 "The sync service's certificate is not the one you trusted, so Quillet does not connect: "
                 "another server may be posing as the service.\n\nTrusted: %s\nShown:   %s\n\nOnly if the "
                 "service was given a new certificate and printed this fingerprint, choose Yes to trust it.",
                 trusted, fingerprint);
    const UINT icon = problem == TLS_UNKNOWN_CERT ? MB_ICONQUESTION : MB_ICONWARNING;
    if (MessageBoxA(owner, text, APP_NAME, MB_YESNO | MB_DEFBUTTON2 | icon) != IDYES)
        return false;
    WriteSettingsStringA(nullptr, "ServerFingerprint", fingerprint);
    return true;
}

// False when the service's certificate is not trusted and the user does not
// trust it now; a service that is not reached is left to the request.
bool ConfirmServerCertificate(HWND owner)
{
    char fingerprint[FINGERPRINT_SIZE];
    const TlsProblem problem = CheckServerCertificate(fingerprint);
    if ((problem != TLS_UNKNOWN_CERT && problem != TLS_CHANGED_CERT) || !*fingerprint)
        return true;
    return OfferCertificate(owner, problem, fingerprint);
}

void ShowTrustedCertificate(HWND dlg)
{
    char trusted[FINGERPRINT_SIZE] = "";
    GetSettingsStringA(nullptr, "ServerFingerprint", "", trusted, sizeof trusted);
    SetDlgItemTextA(dlg, IDC_ACC_FINGERPRINT,
                    *trusted ? trusted : "(none: trusted by Windows, or plain HTTP)");
}

void OnGenerate(HWND dlg)
{
    char key[GENERATED_KEY_LENGTH + 1];
    if (GenerateKey(key))
        SetDlgItemTextA(dlg, IDC_ACC_KEY, key);
}

void OnInitDialog(HWND dlg)
{
    char name[ACCOUNT_TEXT_SIZE] = "", key[ACCOUNT_TEXT_SIZE] = "", host[SERVER_HOST_MAX + 1];
    GetSettingsStringA(nullptr, "AccountName", "", name, sizeof name);
    GetSettingsStringA(nullptr, "AccountKey", "", key, sizeof key);
    GetSettingsStringA(nullptr, "ServerHost", "", host, sizeof host);
    DWORD size = sizeof name;
    if (!*name && !GetUserNameA(name, &size))
        *name = '\0';
    SendDlgItemMessageA(dlg, IDC_ACC_NAME, EM_LIMITTEXT, ACCOUNT_NAME_MAX, 0);
    SendDlgItemMessageA(dlg, IDC_ACC_KEY, EM_LIMITTEXT, ACCOUNT_TEXT_SIZE - 1, 0);
    SendDlgItemMessageA(dlg, IDC_ACC_SERVER, EM_LIMITTEXT, SERVER_HOST_MAX, 0);
    SetDlgItemTextA(dlg, IDC_ACC_NAME, name);
    SetDlgItemTextA(dlg, IDC_ACC_KEY, key);
    SetDlgItemTextA(dlg, IDC_ACC_SERVER, host);
    ShowTrustedCertificate(dlg);
}

// Refuses an account that could not be used; an empty server means the
// default one.
bool OnOK(HWND dlg)
{
    char name[ACCOUNT_TEXT_SIZE], key[ACCOUNT_TEXT_SIZE], host[SERVER_HOST_MAX + 1];
    GetDlgItemTextA(dlg, IDC_ACC_NAME, name, sizeof name);
    GetDlgItemTextA(dlg, IDC_ACC_KEY, key, sizeof key);
    GetDlgItemTextA(dlg, IDC_ACC_SERVER, host, sizeof host);
    // A name the service would refuse must not reach it: its refusal reads
    // as an account that cannot be created.
    const char *problem = !*name ? "Please enter an account name."
                          : strlen(name) > ACCOUNT_NAME_MAX
                              ? "The account name can have at most 128 characters."
                          : !KeyUsable(key) ? "The account key needs at least 8 letters or digits."
                                            : nullptr;
    if (problem) {
        MessageBoxA(dlg, problem, APP_NAME, MB_OK | MB_ICONEXCLAMATION);
        SetFocus(GetDlgItem(dlg, *name ? IDC_ACC_KEY : IDC_ACC_NAME));
        return false;
    }
    WriteSettingsStringA(nullptr, "AccountName", name);
    WriteSettingsStringA(nullptr, "AccountKey", key);
    char stored[SERVER_HOST_MAX + 1] = "";
    GetSettingsStringA(nullptr, "ServerHost", "", stored, sizeof stored);
    // A certificate trusted for one server says nothing about another, and
    // an account another server knows by its key must not send that key here.
    if (strcmp(stored, host) != 0) {
        WriteSettingsStringA(nullptr, "ServerHost", *host ? host : nullptr);
        WriteSettingsStringA(nullptr, "ServerFingerprint", nullptr);
        WriteSettingsStringA(nullptr, "AccountSignIn", nullptr);
    }
    // The old account's sealing key stays in memory no longer.
    ForgetCloudKey();
    if (!ConfirmServerCertificate(dlg)) {
        ShowTrustedCertificate(dlg);
        return false;
    }
    return true;
}

INT_PTR CALLBACK AccountDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM)
{
    if (msg == WM_INITDIALOG) {
        OnInitDialog(dlg);
        return TRUE;
    }
    if (msg != WM_COMMAND || HIWORD(wParam) != BN_CLICKED)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        if (OnOK(dlg))
            EndDialog(dlg, IDOK);
        break;
    case IDCANCEL:
        EndDialog(dlg, IDCANCEL);
        break;
    case IDC_ACC_GENERATE:
        OnGenerate(dlg);
        break;
    default:
        break;
    }
    return TRUE;
}

} // namespace

BOOL CloudAccountDialog(HWND owner)
{
    return DialogBoxParamA(gvGlobals.hInstance, MAKEINTRESOURCEA(IDD_ACCOUNT), owner, AccountDlgProc, 0) ==
           IDOK;
}

BOOL EnsureCloudAccount(HWND owner)
{
    char name[ACCOUNT_TEXT_SIZE], key[ACCOUNT_TEXT_SIZE];
    if (GetCloudAccount(name, sizeof name, key, sizeof key) && KeyUsable(key))
        return ConfirmServerCertificate(owner);
    return CloudAccountDialog(owner);
}
