#pragma once
// What travels to and from the sync service and needs no socket: the form
// and CR LF encodings, the readers of the service's replies, the scrambling
// of clip contents and the decisions of a synchronisation. Portable: no
// <windows.h>.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#define CLOUD_CLIPS_MAX 10

// One entry of the service's clip list.
struct CloudClipEntry {
    int32_t id;
    char state; // 'A' present, 'X' deleted in the cloud, 'U' handled by a sync
    char name[32];
    char date[24]; // "%Y-%m-%d %H:%M:%S" of the service
};

// Form encoding (application/x-www-form-urlencoded, byte by byte).
// html5[b] is the character sent for byte b, or 0 when b travels as "%XX".
extern char html5[256];
void url_encoder_rfc_tables_init();
char *url_encode(const char *table, const char *src, size_t room, char *dst);
// The encoded length of a text, to size a form that must never be cut.
size_t url_encoded_length(const char *src);
// Appends "&key=value" (without "&" when first) to the form in buf; what
// does not fit is cut.
void AppendKVPair(int first, const char *key, const char *value, char *buf, size_t size);
// A whole form of these pairs in a new buffer sized from their encoded
// lengths, so that no pair is ever cut; null without memory.
struct FormPair {
    const char *key;
    const char *value;
};
char *NewForm(const FormPair *pairs, size_t count);
// A user or data id as sent: decimal, cut to its first 7 characters.
void FormatId(int32_t id, char out[8]);

// Replaces every occurrence of find, left to right; with size 0 or no
// destination returns the buffer size needed. 0 when the result does not fit
// with its NUL.
size_t str_replace(const char *src, const char *find, const char *repl, size_t size, char *dst);
// "$" -> "$$", then CR LF -> "$RN$"; back: "$RN$" first, then "$$". A text
// holding "$RN" before "$" or CR LF therefore reads back with a line break
// there. New texts released with free(); null without memory.
char *EncodeCRLF(const char *text);
char *DecodeCRLF(const char *text);

// Owns a block from malloc (the encoders' and the converters' results).
struct FreeDeleter {
    void operator()(void *p) const { free(p); }
};
template <typename T> using HeapPtr = std::unique_ptr<T, FreeDeleter>;

// Readers of the reply bodies.
int32_t GetPXMLInt(const char *body, const char *tag);
int ParseClipSize(const char *body, uint32_t *lenUTF, uint32_t *lenRTF, uint32_t *lenHTML);
int ParseClipData(const char *body, const char *field, char *dst, size_t size);
// ParseClipData for a download: a value longer than the destination leaves
// it empty (result -1) rather than holding the value's front part.
int ParseWholeClipData(const char *body, const char *field, char *dst, size_t size);
uint32_t ParseClipList(const char *reply, CloudClipEntry *table, uint32_t capacity);

// Scrambling: a rotation key of at most 32 values 0-25 from the account key.
#define ROL_KEY_MAX 32
uint32_t DeriveRolKey(const char *accountKey, uint8_t *key, uint32_t size);
// Rotates letters and digits in place (forward for upload); with an empty key
// the text stays as it is. Returns its length.
size_t RolString(int forward, char *text, const uint8_t *key, uint32_t keyLen);

// The progress bar position of a step.
int CalcPct(unsigned step, unsigned total);

// What a synchronisation does with a local clipping that has a cloud entry
// of the same name. t: the cloud date, local: the clipping's last update,
// lastSync: the previous run.
enum SyncAction { SYNC_UPDATE_CLOUD, SYNC_UNCHANGED, SYNC_DOWNLOAD, SYNC_DELETE_LOCAL, SYNC_NOTHING };
SyncAction DecideSync(int32_t t, int32_t local, int32_t lastSync, char state);
