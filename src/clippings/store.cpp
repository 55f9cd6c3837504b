#include "store.h"
#include "clipboard/formats.h"
#include "resources/resource.h"
#include "settings/registry.h"
#include "util/globals.h"
#include "util/guards.h"
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>

ClippingEntry m_Clippings[MAX_CLIPPINGS];
uint32_t m_ClipSort[MAX_CLIPPINGS];
uint32_t m_NumClippings;

namespace {

const DWORD SECTION_LIST_SIZE = 512;

bool IsClipSection(const char *name)
{
    return strlen(name) == 6 && _strnicmp(name, "Clip ", 5) == 0;
}

// The slot of a section letter; anything but 'A'-'J' lands in the last slot.
uint32_t SlotOfSection(const char *name)
{
    int slot = name[5] - 'A';
    return slot >= 0 && slot < MAX_CLIPPINGS ? (uint32_t)slot : MAX_CLIPPINGS - 1;
}

bool LoadEntry(const char *section, ClippingEntry *entry)
{
    GetSettingsStringA(section, "Name", "", entry->name, sizeof entry->name);
    if (!entry->name[0])
        return false;
    char date[32];
    GetSettingsStringA(section, "LastUpdate", "", date, sizeof date);
    entry->slot = SlotOfSection(section);
    entry->lastUpdate = cvtDatetime(date);
    entry->state = 'A';
    return true;
}

const ClippingEntry *FindByName(const char *name)
{
    for (uint32_t i = 0; i < m_NumClippings; i++)
        if (_stricmp(m_Clippings[i].name, name) == 0)
            return &m_Clippings[i];
    return nullptr;
}

// The lowest slot no loaded clipping uses, or MAX_CLIPPINGS when all are used.
uint32_t LowestFreeSlot()
{
    bool used[MAX_CLIPPINGS] = {};
    for (uint32_t i = 0; i < m_NumClippings; i++)
        used[m_Clippings[i].slot] = true;
    uint32_t slot = 0;
    while (slot < MAX_CLIPPINGS && used[slot])
        slot++;
    return slot;
}

// Picks the name and slot of a clipping to store; false when there is none.
bool ChooseSlot(char *name, BOOL replace, uint32_t *slot, bool *isNew)
{
    *isNew = true;
    if (m_NumClippings == 0) {
        *slot = 0;
        return true;
    }
    char base[CLIPNAME_MAX + 1];
    memcpy(base, name, sizeof base);
    for (unsigned n = 1;; n++) {
        const ClippingEntry *same = FindByName(name);
        if (!same) {
            *slot = LowestFreeSlot();
            return *slot < MAX_CLIPPINGS;
        }
        if (replace) {
            *slot = same->slot;
            *isNew = false;
            return true;
        }
        NumberedClipName(base, n, name);
    }
}

void CurrentLocalTime(char *buf, size_t size)
{
    time_t now = time(nullptr);
    const struct tm *local = localtime(&now);
    if (!local || !strftime(buf, size, "%Y-%m-%d %H:%M:%S", local))
        buf[0] = '\0';
}

// A block holding a stored string within the size the registry reports,
// zero-filled so that a value stored without its terminator ends in one.
struct StoredValue {
    GlobalBlock block;
    bool failed = false; // the value exists but no memory could hold it
};

// Reads a value into a new block of `bytes`; false when the block could not
// be had. An empty or unreadable value leaves no block.
template <typename Char, typename Read> bool ReadStored(DWORD bytes, StoredValue *value, Read read)
{
    value->block.Reset(GlobalAlloc(GHND, bytes));
    bool empty;
    {
        GlobalLockGuard<Char> text(value->block.get());
        if (!text.get())
            return false;
        read(text.get());
        empty = text.get()[0] == 0;
    }
    if (empty)
        value->block.Reset();
    return true;
}

void ReadStoredA(const char *section, const char *name, StoredValue *value)
{
    DWORD size = GetSettingsStringSize(section, name);
    if (size)
        value->failed = !ReadStored<char>(size + 1, value, [&](char *text) {
            GetSettingsStringA(section, name, "", text, size + 1);
        });
}

// The size asked through the ANSI interface counts at most one byte per
// character of the wide text, so twice that holds it with its terminator.
void ReadStoredW(const char *section, const char *name, StoredValue *value)
{
    DWORD size = GetSettingsStringSize(section, name);
    DWORD bytes = size * 2 + sizeof(wchar_t);
    if (size)
        value->failed = !ReadStored<wchar_t>(bytes, value, [&](wchar_t *text) {
            GetSettingsStringW(section, name, "", text, bytes);
        });
}

UINT Place(UINT format, StoredValue &value)
{
    if (!value.block.get() || !SetClipboardData(format, value.block.get()))
        return 0;
    value.block.Detach();
    return 1;
}

} // namespace

void FmtRegApp(char *buf, size_t size, uint32_t slot)
{
    snprintf(buf, size, "Clip %c", (char)('A' + slot));
}

uint32_t LoadClippingNames(ClippingEntry *table, uint32_t capacity, uint32_t *order)
{
    memset(table, 0, capacity * sizeof *table);
    char sections[SECTION_LIST_SIZE];
    if (!GetSettingsSectionNames(sections, sizeof sections))
        return 0;
    uint32_t count = 0;
    for (const char *name = sections; *name && count < capacity; name += strlen(name) + 1)
        if (IsClipSection(name) && LoadEntry(name, &table[count]))
            count++;
    return SortClippingNames(table, order);
}

BOOL MayStoreClipping()
{
    return GetSettingsInt(nullptr, "ClipCount", 0) < MAX_CLIPPINGS;
}

uint32_t StoreClipping(const char *name, BOOL replace, const wchar_t *text, const char *rtf, const char *html)
{
    if (!MayStoreClipping())
        return 0;
    m_NumClippings = LoadClippingNames(m_Clippings, MAX_CLIPPINGS, m_ClipSort);
    char candidate[CLIPNAME_MAX + 1];
    SanitiseClipName(name, candidate);
    uint32_t slot;
    bool isNew;
    if (!ChooseSlot(candidate, replace, &slot, &isNew))
        return 0;
    if (isNew) {
        ClippingEntry &entry = m_Clippings[m_NumClippings];
        entry.slot = slot;
        entry.state = 'A';
        memcpy(entry.name, candidate, sizeof entry.name);
        m_NumClippings = SortClippingNames(m_Clippings, m_ClipSort);
    }
    char section[16], date[32];
    FmtRegApp(section, sizeof section, slot);
    CurrentLocalTime(date, sizeof date);
    WriteSettingsStringA(section, "Name", candidate);
    WriteSettingsStringW(section, "UTF", text);
    WriteSettingsStringA(section, "RTF", rtf);
    WriteSettingsStringA(section, "HTML", html);
    WriteSettingsStringA(section, "LastUpdate", date);
    WriteSettingsInt(nullptr, "ClipCount", m_NumClippings);
    return m_NumClippings;
}

// Everything is read before the clipboard is emptied: a clipping that cannot
// be read, or memory that runs out, leaves the user's clipboard as it was.
UINT RecallClipping(HWND hwnd, uint32_t slot)
{
    char section[16];
    FmtRegApp(section, sizeof section, slot);
    StoredValue text, rtf, html;
    ReadStoredW(section, "UTF", &text);
    ReadStoredA(section, "RTF", &rtf);
    ReadStoredA(section, "HTML", &html);
    if (text.failed || rtf.failed || html.failed) {
        ShowStringMessage(hwnd, IDS_ALLOCFAILED, MB_ICONEXCLAMATION);
        return 0;
    }
    if (!text.block.get() && !rtf.block.get() && !html.block.get())
        return 0;
    EmptyClipboard();
    UINT placed = Place(CF_UNICODETEXT, text);
    placed += Place(RegisterClipboardFormatA("Rich Text Format"), rtf);
    placed += Place(RegisterClipboardFormatA("HTML Format"), html);
    return placed;
}

DWORD DeleteLocalClip(uint32_t slot)
{
    char section[16];
    FmtRegApp(section, sizeof section, slot);
    for (const char *value : {"Name", "UTF", "RTF", "HTML"})
        WriteSettingsStringA(section, value, nullptr);
    DWORD count = GetSettingsInt(nullptr, "ClipCount", 0);
    count = count ? count - 1 : 0;
    WriteSettingsInt(nullptr, "ClipCount", count);
    return count;
}
