#include "cloud/transfer.h"
#include <cstring>
#include <cwchar>
#include "cloud/sealtext.h"
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

// The parts of a clip, each with its field and its name for the user.
struct PartName {
    const char *field, *title;
};
const PartName PARTS[] = {{"ClipUTF", "text"}, {"ClipRTF", "rich text"}, {"ClipHTML", "HTML"}};

// A stored byte string ("RTF", "HTML"), or null when there is none. *failed
// when it exists but no memory could hold it.
HeapPtr<char> ReadVariant(const char *section, const char *name, bool *failed)
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
    return text;
}

// The UTF-8 text of a slot; null when there is none.
HeapPtr<char> ReadText(const char *section)
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
    return HeapPtr<char>(utf8);
}

// A slot's parts as stored: its text in UTF-8, its rich text and HTML.
struct StoredParts {
    HeapPtr<char> text, rtf, html;
};

// False without a text, or when a variant exists but cannot be read: sent
// as absent, it would clear the variant of a clip in the cloud.
bool ReadParts(const char *section, StoredParts *parts)
{
    bool failed = false;
    parts->text = ReadText(section);
    parts->rtf = ReadVariant(section, "RTF", &failed);
    parts->html = ReadVariant(section, "HTML", &failed);
    return parts->text && !failed;
}

// A variant sealed; an absent or empty one travels as nothing, as before.
HeapPtr<char> SealVariant(const CloudKeys &keys, int32_t clipId, const char *field,
                          const HeapPtr<char> &plain, bool *failed)
{
    if (!plain || !*plain)
        return nullptr;
    HeapPtr<char> sealed = SealPart(keys, clipId, field, plain.get());
    *failed = *failed || !sealed;
    return sealed;
}

// A downloaded part made readable in place: opened when sealed, otherwise
// rotated back. False when a sealed part does not open.
bool MakeReadable(const CloudKeys &keys, int32_t clipId, const char *field, HeapPtr<char> *part)
{
    if (!IsSealedText(part->get())) {
        RolString(0, part->get(), keys.rol, keys.rolLen);
        return true;
    }
    *part = OpenPart(keys, clipId, field, part->get());
    return *part != nullptr;
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

int PostClipToCloud(int32_t userId, int32_t clipId, uint32_t slot, const CloudKeys &keys,
                    UploadResult *result)
{
    *result = {};
    char section[16], name[32];
    FmtRegApp(section, sizeof section, slot);
    GetSettingsStringA(section, "Name", "", name, sizeof name);
    StoredParts parts;
    if (!name[0] || !keys.ready || !ReadParts(section, &parts))
        return 0;
    const bool fresh = clipId == -1;
    if (fresh)
        clipId = SyncCreateClip(userId, name, result);
    if (clipId == -1)
        return 0;
    bool failed = false;
    HeapPtr<char> text = SealPart(keys, clipId, PARTS[0].field, parts.text.get());
    HeapPtr<char> rtf = SealVariant(keys, clipId, PARTS[1].field, parts.rtf, &failed);
    HeapPtr<char> html = SealVariant(keys, clipId, PARTS[2].field, parts.html, &failed);
    if (!text || failed)
        return 0;
    return SyncUploadParts(userId, clipId, fresh, text.get(), rtf.get(), html.get(), result);
}

namespace {

// A downloaded clip, readable.
struct ClipParts {
    HeapPtr<wchar_t> text;
    HeapPtr<char> rtf, html;
};

// 1 when every part the clip announced arrived whole and readable; 0 when
// its sizes could not be had (or no memory for it); CLIP_DATA_FAILED or
// CLIP_NOT_OPENED otherwise.
int FetchClip(int32_t userId, int32_t clipId, const CloudKeys &keys, ClipParts *clip, const char **unopened)
{
    *unopened = nullptr;
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
    HeapPtr<char> *parts[] = {&text, &clip->rtf, &clip->html};
    for (size_t i = 0; i < 3; i++) {
        if (*parts[i] && !MakeReadable(keys, clipId, PARTS[i].field, parts[i])) {
            *unopened = PARTS[i].title;
            return CLIP_NOT_OPENED;
        }
    }
    wchar_t *converted = nullptr;
    DecodeCtoW(text.get(), &converted);
    clip->text.reset(converted);
    return clip->text ? 1 : CLIP_DATA_FAILED;
}

} // namespace

// A clip is stored or placed only when every part it announced arrived
// whole, so that a failed request never replaces a clipping with less.
int GetClipFromCloud(int32_t userId, int32_t clipId, const char *name, const CloudKeys &keys, HWND hwnd,
                     const char **unopened)
{
    ClipParts clip;
    const int fetched = FetchClip(userId, clipId, keys, &clip, unopened);
    if (fetched != 1)
        return fetched;
    bool landed = hwnd ? PlaceOnClipboard(hwnd, clip.text.get(), clip.rtf.get(), clip.html.get())
                       : StoreClipping(name, TRUE, clip.text.get(), clip.rtf.get(), clip.html.get()) != 0;
    return landed ? 1 : CLIP_DATA_FAILED;
}

int DownloadClip(int32_t userId, int32_t clipId, const char *name, const CloudKeys &keys, int slot,
                 const char **unopened)
{
    ClipParts clip;
    if (FetchClip(userId, clipId, keys, &clip, unopened) != 1)
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
