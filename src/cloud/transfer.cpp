#include "cloud/transfer.h"
#include <cstring>
#include <cwchar>
#include "cloud/account.h"
#include "cloud/syncproto.h"
#include "clipboard/clipboard.h"
#include "clippings/store.h"
#include "settings/registry.h"
#include "util/guards.h"
#include "util/safefns.h"
#include "util/utf.h"

namespace {

// A downloaded part's buffer holds its announced length and this much more;
// the download is offered all but 4 bytes of it.
const size_t PART_SLACK = 64;
const size_t PART_OFFER = 60;

// A stored byte string ("RTF", "HTML") rotated forward, or null when there
// is none. *failed when it exists but no memory could hold it.
HeapPtr<char> ReadScrambled(const char *section, const char *name, const uint8_t *key, uint32_t keyLen,
                            bool *failed)
{
    DWORD size = GetSettingsStringSize(section, name);
    if (size == 0)
        return nullptr;
    // One byte more: a value stored without its terminator ends in one.
    HeapPtr<char> text(static_cast<char *>(xmalloc(size + 1)));
    if (!text) {
        *failed = true;
        return nullptr;
    }
    GetSettingsStringA(section, name, "", text.get(), size + 1);
    RolString(1, text.get(), key, keyLen);
    return text;
}

// The UTF-8 text of a slot, rotated forward; null when there is none.
HeapPtr<char> ReadScrambledText(const char *section, const uint8_t *key, uint32_t keyLen)
{
    DWORD size = GetSettingsStringSize(section, "UTF");
    if (size == 0)
        return nullptr;
    DWORD bytes = size * 2 + 8;
    HeapPtr<wchar_t> wide(static_cast<wchar_t *>(xmalloc(bytes)));
    if (!wide)
        return nullptr;
    GetSettingsStringW(section, "UTF", "", wide.get(), bytes);
    char *utf8 = nullptr;
    EncodeWtoC(wide.get(), &utf8);
    HeapPtr<char> text(utf8);
    if (text)
        RolString(1, text.get(), key, keyLen);
    return text;
}

// A buffer for a part of an announced length; null, and *failed, when its
// size cannot be had (a length near 4 GiB wraps a 32-bit size).
HeapPtr<char> PartBuffer(uint32_t len, bool *failed)
{
    char *buf = static_cast<uint64_t>(len) + PART_SLACK <= SIZE_MAX
                    ? static_cast<char *>(xmalloc(static_cast<size_t>(len) + PART_SLACK))
                    : nullptr;
    *failed = *failed || !buf;
    return HeapPtr<char>(buf);
}

size_t OfferOf(const HeapPtr<char> &buf, uint32_t len)
{
    return buf ? static_cast<size_t>(len) + PART_OFFER : 0;
}

// An announced part that is still empty did not arrive.
bool Arrived(const HeapPtr<char> &buf)
{
    return !buf || buf.get()[0] != '\0';
}

// A new movable block of size bytes starting with data, or null.
HGLOBAL NewBlock(const void *data, size_t len, size_t size)
{
    GlobalBlock block(GlobalAlloc(GHND, size));
    {
        GlobalLockGuard<char> p(block.get());
        if (!p.get())
            return nullptr;
        memcpy(p.get(), data, len);
    }
    return block.Detach();
}

// Every block is made before the clipboard is touched: without memory for
// the text the clipboard stays as it was. A variant without memory is left
// out. The blocks are sized from what arrived, never from the announced
// lengths, which a server may understate.
bool PlaceOnClipboard(HWND hwnd, const wchar_t *text, const char *rtf, const char *html)
{
    size_t chars = wcslen(text);
    GlobalBlock textBlock(NewBlock(text, chars * sizeof(wchar_t), chars * 2 + 4));
    GlobalBlock rtfBlock(rtf ? NewBlock(rtf, strlen(rtf) + 1, strlen(rtf) + 4) : nullptr);
    GlobalBlock htmlBlock(html ? NewBlock(html, strlen(html) + 1, strlen(html) + 4) : nullptr);
    if (!textBlock.get())
        return false;
    ClipboardSession clip(hwnd);
    if (!clip.ok() || !EmptyClipboard())
        return false;
    bool placed = PlaceOnClipboard(CF_UNICODETEXT, textBlock);
    PlaceOnClipboard(RegisterClipboardFormatA("Rich Text Format"), rtfBlock);
    PlaceOnClipboard(RegisterClipboardFormatA("HTML Format"), htmlBlock);
    return placed;
}

} // namespace

uint32_t PrepareROLString(uint8_t *key, uint32_t size)
{
    char accountKey[ACCOUNT_TEXT_SIZE];
    GetSettingsStringA(nullptr, "AccountKey", "", accountKey, sizeof accountKey);
    return DeriveRolKey(accountKey, key, size);
}

int PostClipToCloud(int32_t userId, int32_t clipId, uint32_t slot, const uint8_t *key, uint32_t keyLen,
                    UploadResult *result)
{
    *result = {};
    char section[16], name[32];
    FmtRegApp(section, sizeof section, slot);
    GetSettingsStringA(section, "Name", "", name, sizeof name);
    if (!name[0])
        return 0;
    HeapPtr<char> text = ReadScrambledText(section, key, keyLen);
    if (!text)
        return 0;
    // A variant that cannot be read must not be sent as absent: for a clip
    // in the cloud that would clear it there.
    bool failed = false;
    HeapPtr<char> rtf = ReadScrambled(section, "RTF", key, keyLen, &failed);
    HeapPtr<char> html = ReadScrambled(section, "HTML", key, keyLen, &failed);
    if (failed)
        return 0;
    return SyncUploadClip(userId, clipId, name, text.get(), rtf.get(), html.get(), result);
}

namespace {

// A downloaded clip, unscrambled.
struct ClipParts {
    HeapPtr<wchar_t> text;
    HeapPtr<char> rtf, html;
};

// 1 when every part the clip announced arrived whole; 0 when its sizes
// could not be had (or no memory for it); CLIP_DATA_FAILED otherwise.
int FetchClip(int32_t userId, int32_t clipId, const uint8_t *key, uint32_t keyLen, ClipParts *clip)
{
    uint32_t lenUTF = 0, lenRTF = 0, lenHTML = 0;
    if (SyncGetClipSize(userId, clipId, &lenUTF, &lenRTF, &lenHTML) < 1)
        return 0;
    bool failed = false;
    HeapPtr<char> text = PartBuffer(lenUTF, &failed);
    clip->rtf = lenRTF ? PartBuffer(lenRTF, &failed) : nullptr;
    clip->html = lenHTML ? PartBuffer(lenHTML, &failed) : nullptr;
    if (failed)
        return 0;
    int got = SyncGetClipData(userId, clipId, text.get(), OfferOf(text, lenUTF), clip->rtf.get(),
                              OfferOf(clip->rtf, lenRTF), clip->html.get(), OfferOf(clip->html, lenHTML));
    if (got <= 0 || !Arrived(clip->rtf) || !Arrived(clip->html))
        return CLIP_DATA_FAILED;
    RolString(0, text.get(), key, keyLen);
    if (clip->rtf)
        RolString(0, clip->rtf.get(), key, keyLen);
    if (clip->html)
        RolString(0, clip->html.get(), key, keyLen);
    wchar_t *converted = nullptr;
    DecodeCtoW(text.get(), &converted);
    clip->text.reset(converted);
    return clip->text ? 1 : CLIP_DATA_FAILED;
}

} // namespace

// A clip is stored or placed only when every part it announced arrived
// whole, so that a failed request never replaces a clipping with less.
int GetClipFromCloud(int32_t userId, int32_t clipId, const char *name, const uint8_t *key, uint32_t keyLen,
                     HWND hwnd)
{
    ClipParts clip;
    const int fetched = FetchClip(userId, clipId, key, keyLen, &clip);
    if (fetched != 1)
        return fetched;
    bool landed = hwnd ? PlaceOnClipboard(hwnd, clip.text.get(), clip.rtf.get(), clip.html.get())
                       : StoreClipping(name, TRUE, clip.text.get(), clip.rtf.get(), clip.html.get()) != 0;
    return landed ? 1 : CLIP_DATA_FAILED;
}

int DownloadClip(int32_t userId, int32_t clipId, const char *name, const uint8_t *key, uint32_t keyLen,
                 int slot)
{
    ClipParts clip;
    if (FetchClip(userId, clipId, key, keyLen, &clip) != 1)
        return -1;
    return StoreClippingInSlot(slot, name, clip.text.get(), clip.rtf.get(), clip.html.get());
}

size_t EncodeWtoC(const wchar_t *text, char **out)
{
    *out = UTF16ToUTF8(text);
    return *out ? strlen(*out) : 0;
}

size_t DecodeCtoW(const char *text, wchar_t **out)
{
    *out = UTF8ToUTF16(text);
    return *out ? wcslen(*out) : 0;
}
