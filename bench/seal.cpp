// Sealing a clipping part of 1 MB (AES-256-GCM through CNG, then its text
// form) and deriving the sealing key; scripts/bench.sh measures OpenSSL's
// AES-256-GCM and Python's PBKDF2 beside them.
#include "bench.h"
#include <bcrypt.h>
#include <cstdio>
#include <string>
#include <vector>
#include "cloud/clipcrypt.h"
#include "settings/registry.h"

namespace {

// CNG's AES-256-GCM alone on the same bytes, without the text form: what
// bounds the sealing.
double PlainGcm(const std::string &plain)
{
    BCRYPT_ALG_HANDLE aes = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    UCHAR secret[32] = {1}, nonce[12] = {}, tag[16];
    BCryptOpenAlgorithmProvider(&aes, BCRYPT_AES_ALGORITHM, nullptr, 0);
    BCryptSetProperty(aes, BCRYPT_CHAINING_MODE,
                      reinterpret_cast<PUCHAR>(const_cast<wchar_t *>(BCRYPT_CHAIN_MODE_GCM)),
                      sizeof BCRYPT_CHAIN_MODE_GCM, 0);
    if (!aes || BCryptGenerateSymmetricKey(aes, &key, nullptr, 0, secret, sizeof secret, 0) != 0)
        return -1;
    std::vector<UCHAR> out(plain.size());
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    BCRYPT_INIT_AUTH_MODE_INFO(info);
    info.pbNonce = nonce;
    info.cbNonce = sizeof nonce;
    info.pbTag = tag;
    info.cbTag = sizeof tag;
    ULONG done = 0;
    const double seconds = Best(4 * RUNS, [&] {
        BCryptEncrypt(key, reinterpret_cast<PUCHAR>(const_cast<char *>(plain.data())), ULONG(plain.size()),
                      &info, nullptr, 0, out.data(), ULONG(out.size()), &done, 0);
    });
    BCryptDestroyKey(key);
    BCryptCloseAlgorithmProvider(aes, 0);
    return done == plain.size() ? seconds : -1;
}

} // namespace

int BenchSeal(int, char **)
{
    WriteSettingsStringA(nullptr, "AccountName", "bench");
    WriteSettingsStringA(nullptr, "AccountKey", "Bench4Seal2026xyz");
    CloudKeys keys;
    Figure("seal.derive", Best(
                              3, [&] { PrepareCloudKeys(&keys); }, ForgetCloudKey));
    PrepareCloudKeys(&keys);
    std::string plain(MB, '\0');
    for (size_t i = 0; i < plain.size(); i++)
        plain[i] = char('a' + i * 7919 % 26);
    size_t sealed = 0;
    Figure("seal",
           Best(4 * RUNS, [&] { sealed = strlen(SealPart(keys, 1234567, "ClipUTF", plain.c_str()).get()); }));
    if (sealed < plain.size())
        fprintf(stderr, "seal: %zu characters\n", sealed);
    Figure("seal.cng", PlainGcm(plain));
    return 0;
}
