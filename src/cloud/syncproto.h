#pragma once
// The requests of the sync service: each builds its form, sends it with the
// HTTP client to SYNC_PATH and reads the one value it needs from the reply.
#include <cstddef>
#include <cstdint>

struct CloudKeys;

// The account ("AccountName", "AccountKey") signs in with the sign-in value
// of its keys (PrepareCloudKeys), never with its key: only an account that
// an earlier version opened with its key still sends it, once this PC has
// found that the service knows it so ("AccountSignIn" holds its name).

// knock: the user id of the account, or -1. A sign-in value the service
// refuses is followed by the key, once, to find an account opened so.
int32_t SyncGetUserID(const CloudKeys &keys);
// open, always with the sign-in value: the user id of the new account, or -1.
int32_t SyncRegisterUser(const CloudKeys &keys);

// Why a sign-in gave no user id.
enum SignInFailure {
    SIGNIN_BUSY,       // no answer, or the service asked to try again later
    SIGNIN_NAME_TAKEN, // the name is the service's with another key
    SIGNIN_REFUSED,    // any other refusal
};
// knock, and open when the service knows no account of that name and
// sign-in value: the user id, or -1 and why. A busy service is never asked
// to open an account: it would refuse the name as taken. A name taken is
// tried once with the key, for an account opened by an earlier version.
int32_t SyncSignIn(const CloudKeys &keys, SignInFailure *failure);
// The length of the list reply in body, or -1.
int SyncGetClipList(int32_t userId, char *body, size_t size);
// What an upload left: the id of a clip it created (0 for none) and, when
// it failed, the service's reason.
struct UploadResult {
    int32_t created;
    char why[128];
};
// An upload is a create, for a new clip, then one request per part: the id
// comes before the parts, which are sealed with it. Failures are not shown:
// the synchronisation's summary tells them.
// Creates a cloud clip; its id (also in result->created), or -1.
int32_t SyncCreateClip(int32_t userId, const char *name, UploadResult *result);
// Sends the parts of clip dataId; 1 when every part arrived, else 0. A clip
// just created (`fresh`) is sent no absent variant; any other gets each
// absent variant empty, so that the cloud copy keeps none of the text it
// replaces.
int SyncUploadParts(int32_t userId, int32_t dataId, bool fresh, const char *text, const char *rtf,
                    const char *html, UploadResult *result);
// The number of name=number lines of the check block, or -1.
int SyncGetClipSize(int32_t userId, int32_t dataId, uint32_t *lenUTF, uint32_t *lenRTF, uint32_t *lenHTML);
// Fills each given destination with its part, never with a cut part: a part
// that does not arrive whole leaves it empty. The text's length, or -1.
int SyncGetClipData(int32_t userId, int32_t dataId, char *text, size_t textSize, char *rtf, size_t rtfSize,
                    char *html, size_t htmlSize);
// Why a change was refused, for the user: "Synchronization error: The
// server replied '...'" with the first line of the reply; empty when the
// service accepted it.
struct SyncFailure {
    char text[256];
};
// The reply's tag value "Rename" or "Delete", or -1.
int32_t SyncRenameClip(int32_t userId, int32_t dataId, const char *name, SyncFailure *failure);
int32_t SyncDeleteClip(int32_t userId, int32_t dataId, SyncFailure *failure);
