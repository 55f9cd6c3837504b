#pragma once
// Sealing clip parts with AES-256-GCM (Windows' CNG) under a key derived
// from the account: PBKDF2-HMAC-SHA256 of the account key, salted with the
// account name. The key is derived once per run of the program, kept in
// memory only, and wiped when the account changes. The account signs in
// with a value made from that key, never with the account key itself.
#include <windows.h>
#include "wire.h"

#define CLIP_KEY_BYTES 32
// "s1-" and the 64 hex digits of HMAC-SHA256(sealing key,
// "quillet-sign-in-v1"), with its NUL: one-way, so that the service, which
// sees it at every sign-in, learns nothing of the sealing key.
#define SIGN_IN_TEXT_SIZE 68

// The keys of one task: the rotation that scrambled the clips uploaded
// before sealing, to read them, and the sealing key. Wiped when dropped.
struct CloudKeys {
    CloudKeys() = default;
    ~CloudKeys() { SecureZeroMemory(this, sizeof *this); }
    CloudKeys(const CloudKeys &) = delete;
    CloudKeys &operator=(const CloudKeys &) = delete;

    uint8_t rol[ROL_KEY_MAX] = {};
    uint32_t rolLen = 0;
    uint8_t clip[CLIP_KEY_BYTES] = {};
    char signIn[SIGN_IN_TEXT_SIZE] = {};
    bool ready = false; // the sealing key and the sign-in value are there
};

// The keys of the account in the settings. The sealing key is derived
// (about half a second) only for an account other than the last one.
void PrepareCloudKeys(CloudKeys *keys);
// Wipes the kept sealing key.
void ForgetCloudKey();

// A part's sealed text for its clip and field: a fresh nonce every time.
// Null when it could not be made.
HeapPtr<char> SealPart(const CloudKeys &keys, int32_t clipId, const char *field, const char *plain);
// The text of a sealed part; null when it does not open: another key, a
// part changed on the service or moved there from another clip or field.
HeapPtr<char> OpenPart(const CloudKeys &keys, int32_t clipId, const char *field, const char *sealed);
