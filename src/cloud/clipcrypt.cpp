#include "cloud/clipcrypt.h"
#include <bcrypt.h>
#include <climits>
#include <cstring>
#include <string>
#include "cloud/account.h"
#include "cloud/sealtext.h"
#include "util/safefns.h"

namespace {

// OWASP's current figure for PBKDF2-HMAC-SHA256.
const ULONGLONG KEY_ROUNDS = 600000;
// Goes before the account name in the salt, so that the key of one account
// is no key for anything else.
const char SALT_PREFIX[] = "quillet-clippings-v1:";
const size_t SEAL_EXTRA = SEAL_NONCE_BYTES + SEAL_TAG_BYTES;
// The sign-in value's version, ahead of the MAC, leaves room for another
// kind of value later; the label keeps the MAC from being one of anything else.
const char SIGN_IN_PREFIX[] = "s1-";
const char SIGN_IN_LABEL[] = "quillet-sign-in-v1";
const ULONG MAC_BYTES = 32;

// The kept sealing key and the account it belongs to: its name, a NUL, its key.
uint8_t m_ClipKey[CLIP_KEY_BYTES];
char m_KeyAccount[2 * ACCOUNT_TEXT_SIZE];
bool m_HaveKey;
SRWLOCK m_KeyLock = SRWLOCK_INIT;

class KeyLock {
public:
    KeyLock() { AcquireSRWLockExclusive(&m_KeyLock); }
    ~KeyLock() { ReleaseSRWLockExclusive(&m_KeyLock); }
    KeyLock(const KeyLock &) = delete;
    KeyLock &operator=(const KeyLock &) = delete;
};

// CNG takes its inputs through non-const pointers without writing them.
PUCHAR Bytes(const void *data)
{
    return static_cast<PUCHAR>(const_cast<void *>(data));
}

class Algorithm {
public:
    Algorithm(LPCWSTR id, ULONG flags)
    {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&m_alg, id, nullptr, flags)))
            m_alg = nullptr;
    }
    ~Algorithm()
    {
        if (m_alg)
            BCryptCloseAlgorithmProvider(m_alg, 0);
    }
    Algorithm(const Algorithm &) = delete;
    Algorithm &operator=(const Algorithm &) = delete;
    BCRYPT_ALG_HANDLE get() const { return m_alg; }

private:
    BCRYPT_ALG_HANDLE m_alg = nullptr;
};

// The sealing key as an AES-256-GCM key object; no handle when there is no
// key or CNG refuses.
class GcmKey {
public:
    explicit GcmKey(const CloudKeys &keys) : m_aes(BCRYPT_AES_ALGORITHM, 0)
    {
        if (keys.ready && m_aes.get() &&
            BCRYPT_SUCCESS(BCryptSetProperty(m_aes.get(), BCRYPT_CHAINING_MODE, Bytes(BCRYPT_CHAIN_MODE_GCM),
                                             sizeof BCRYPT_CHAIN_MODE_GCM, 0)) &&
            !BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(m_aes.get(), &m_key, nullptr, 0, Bytes(keys.clip),
                                                       CLIP_KEY_BYTES, 0)))
            m_key = nullptr;
    }
    ~GcmKey()
    {
        if (m_key)
            BCryptDestroyKey(m_key);
    }
    GcmKey(const GcmKey &) = delete;
    GcmKey &operator=(const GcmKey &) = delete;
    BCRYPT_KEY_HANDLE get() const { return m_key; }

private:
    Algorithm m_aes;
    BCRYPT_KEY_HANDLE m_key = nullptr;
};

BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO ModeInfo(uint8_t *nonce, const std::string &context, uint8_t *tag)
{
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    BCRYPT_INIT_AUTH_MODE_INFO(info);
    info.pbNonce = nonce;
    info.cbNonce = SEAL_NONCE_BYTES;
    info.pbAuthData = Bytes(context.data());
    info.cbAuthData = ULONG(context.size());
    info.pbTag = tag;
    info.cbTag = SEAL_TAG_BYTES;
    return info;
}

bool DeriveClipKey(const char *name, const char *key, uint8_t *out)
{
    Algorithm hmac(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
    const std::string salt = SALT_PREFIX + std::string(name);
    return hmac.get() && BCRYPT_SUCCESS(BCryptDeriveKeyPBKDF2(hmac.get(), Bytes(key), ULONG(strlen(key)),
                                                              Bytes(salt.data()), ULONG(salt.size()),
                                                              KEY_ROUNDS, out, CLIP_KEY_BYTES, 0));
}

bool MacOfLabel(const uint8_t *clipKey, uint8_t (&mac)[MAC_BYTES])
{
    Algorithm hmac(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
    BCRYPT_HASH_HANDLE hash = nullptr;
    const bool made =
        hmac.get() &&
        BCRYPT_SUCCESS(BCryptCreateHash(hmac.get(), &hash, nullptr, 0, Bytes(clipKey), CLIP_KEY_BYTES, 0)) &&
        BCRYPT_SUCCESS(BCryptHashData(hash, Bytes(SIGN_IN_LABEL), sizeof SIGN_IN_LABEL - 1, 0)) &&
        BCRYPT_SUCCESS(BCryptFinishHash(hash, mac, MAC_BYTES, 0));
    if (hash)
        BCryptDestroyHash(hash);
    return made;
}

bool MakeSignIn(const uint8_t *clipKey, char (&out)[SIGN_IN_TEXT_SIZE])
{
    static_assert(sizeof SIGN_IN_PREFIX - 1 + 2 * MAC_BYTES + 1 == SIGN_IN_TEXT_SIZE, "sign-in value size");
    uint8_t mac[MAC_BYTES];
    if (!MacOfLabel(clipKey, mac))
        return false;
    char *at = out + sizeof SIGN_IN_PREFIX - 1;
    memcpy(out, SIGN_IN_PREFIX, sizeof SIGN_IN_PREFIX - 1);
    for (uint8_t byte : mac) {
        *at++ = "0123456789abcdef"[byte >> 4];
        *at++ = "0123456789abcdef"[byte & 15];
    }
    *at = '\0';
    SecureZeroMemory(mac, sizeof mac);
    return true;
}

void WipeKeptKey()
{
    SecureZeroMemory(m_ClipKey, sizeof m_ClipKey);
    SecureZeroMemory(m_KeyAccount, sizeof m_KeyAccount);
    m_HaveKey = false;
}

// The sealing key of an account into out, derived only when the kept one
// belongs to another account.
bool KeptKey(const char *name, const char *key, uint8_t *out)
{
    char account[sizeof m_KeyAccount] = {};
    const size_t nameLen = strlen(name);
    memcpy(account, name, nameLen);
    memcpy(account + nameLen + 1, key, strlen(key));
    KeyLock lock;
    if (!m_HaveKey || memcmp(account, m_KeyAccount, sizeof account) != 0) {
        WipeKeptKey();
        m_HaveKey = DeriveClipKey(name, key, m_ClipKey);
        if (m_HaveKey)
            memcpy(m_KeyAccount, account, sizeof account);
    }
    SecureZeroMemory(account, sizeof account);
    if (m_HaveKey)
        memcpy(out, m_ClipKey, CLIP_KEY_BYTES);
    return m_HaveKey;
}

} // namespace

void PrepareCloudKeys(CloudKeys *keys)
{
    char name[ACCOUNT_TEXT_SIZE], key[ACCOUNT_TEXT_SIZE];
    const bool set = GetCloudAccount(name, sizeof name, key, sizeof key);
    keys->rolLen = DeriveRolKey(key, keys->rol, sizeof keys->rol);
    keys->ready = set && KeptKey(name, key, keys->clip) && MakeSignIn(keys->clip, keys->signIn);
    SecureZeroMemory(key, sizeof key);
}

void ForgetCloudKey()
{
    KeyLock lock;
    WipeKeptKey();
}

HeapPtr<char> SealPart(const CloudKeys &keys, int32_t clipId, const char *field, const char *plain)
{
    const size_t len = strlen(plain);
    GcmKey key(keys);
    if (!key.get() || len > ULONG_MAX - SEAL_EXTRA)
        return nullptr;
    HeapPtr<uint8_t> sealed(static_cast<uint8_t *>(xmalloc(len + SEAL_EXTRA)));
    if (!sealed)
        return nullptr;
    uint8_t *nonce = sealed.get(), *cipher = nonce + SEAL_NONCE_BYTES, *tag = cipher + len;
    const std::string context = SealContext(clipId, field);
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = ModeInfo(nonce, context, tag);
    ULONG done = 0;
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, nonce, SEAL_NONCE_BYTES, BCRYPT_USE_SYSTEM_PREFERRED_RNG)) ||
        !BCRYPT_SUCCESS(BCryptEncrypt(key.get(), Bytes(plain), ULONG(len), &info, nullptr, 0, cipher,
                                      ULONG(len), &done, 0)))
        return nullptr;
    return FrameSealed(sealed.get(), len + SEAL_EXTRA);
}

HeapPtr<char> OpenPart(const CloudKeys &keys, int32_t clipId, const char *field, const char *text)
{
    size_t len = 0;
    HeapPtr<uint8_t> sealed = UnframeSealed(text, &len);
    GcmKey key(keys);
    if (!sealed || !key.get() || uint64_t(len - SEAL_EXTRA) > ULONG_MAX)
        return nullptr;
    const size_t plainLen = len - SEAL_EXTRA;
    // Zero-filled: the text ends with its NUL.
    HeapPtr<char> plain(static_cast<char *>(xmalloc(plainLen + 1)));
    uint8_t *nonce = sealed.get(), *cipher = nonce + SEAL_NONCE_BYTES, *tag = cipher + plainLen;
    const std::string context = SealContext(clipId, field);
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = ModeInfo(nonce, context, tag);
    ULONG done = 0;
    if (!plain || !BCRYPT_SUCCESS(BCryptDecrypt(key.get(), cipher, ULONG(plainLen), &info, nullptr, 0,
                                                Bytes(plain.get()), ULONG(plainLen), &done, 0)))
        return nullptr;
    return plain;
}
