#include "store.h"
#include "clipboard/clipboard.h"
#include "settings/registry.h"
#include "util/globals.h"
#include "util/guards.h"
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>

namespace {

const DWORD SECTION_LIST_SIZE = 512;

bool LoadEntry(const char *section, ClippingEntry *entry)
{
    const int slot = ClipSectionSlot(section);
    if (slot < 0)
        return false;
    GetSettingsStringA(section, "Name", "", entry->name, sizeof entry->name);
    if (!entry->name[0])
        return false;
    char date[32];
    GetSettingsStringA(section, "LastUpdate", "", date, sizeof date);
    entry->slot = (uint32_t)slot;
    entry->lastUpdate = cvtDatetime(date);
    entry->state = 'A';
    return true;
}

uint32_t CountClippings()
{
    ClippingEntry table[MAX_CLIPPINGS];
    uint32_t order[MAX_CLIPPINGS];
    return LoadClippingNames(table, MAX_CLIPPINGS, order);
}

// "ClipCount" follows the sections that hold a clipping after every change.
uint32_t WriteClipCount()
{
    const uint32_t count = CountClippings();
    WriteSettingsInt(nullptr, "ClipCount", count);
    return count;
}

void CurrentLocalTime(char *buf, size_t size)
{
    time_t now = time(nullptr);
    const struct tm *local = localtime(&now);
    if (!local || !strftime(buf, size, "%Y-%m-%d %H:%M:%S", local))
        buf[0] = '\0';
}

// A second after `previous`, or false when it is no date.
bool SecondAfter(const char *previous, char *buf, size_t size)
{
    struct tm when = {};
    if (sscanf(previous, "%d-%d-%d %d:%d:%d", &when.tm_year, &when.tm_mon, &when.tm_mday, &when.tm_hour,
               &when.tm_min, &when.tm_sec) != 6)
        return false;
    when.tm_year -= 1900;
    when.tm_mon -= 1;
    when.tm_sec += 1;
    when.tm_isdst = -1;
    return mktime(&when) != (time_t)-1 && strftime(buf, size, "%Y-%m-%d %H:%M:%S", &when) != 0;
}

// Every change dates the clipping later than the one before, also within
// one second: the synchronisation tells a change by its date.
void NextUpdate(const char *section, char *date, size_t size)
{
    char previous[32];
    GetSettingsStringA(section, "LastUpdate", "", previous, sizeof previous);
    CurrentLocalTime(date, size);
    if (strcmp(date, previous) <= 0 && !SecondAfter(previous, date, size))
        CurrentLocalTime(date, size);
}

void WriteClipping(uint32_t slot, const char *name, const wchar_t *text, const char *rtf, const char *html)
{
    char section[16], date[32];
    FmtRegApp(section, sizeof section, slot);
    NextUpdate(section, date, sizeof date);
    WriteSettingsStringA(section, "Name", name);
    WriteSettingsStringW(section, "UTF", text);
    WriteSettingsStringA(section, "RTF", rtf);
    WriteSettingsStringA(section, "HTML", html);
    WriteSettingsStringA(section, "LastUpdate", date);
}

// Reads a value into a new block of `bytes`, zero-filled so that a value
// stored without its terminator ends in one; false when the block could not
// be had. An empty or unreadable value leaves no block.
template <typename Char, typename Read> bool ReadStored(DWORD bytes, GlobalBlock *value, Read read)
{
    value->Reset(GlobalAlloc(GHND, bytes));
    bool empty;
    {
        GlobalLockGuard<Char> text(value->get());
        if (!text.get())
            return false;
        read(text.get());
        empty = text.get()[0] == 0;
    }
    if (empty)
        value->Reset();
    return true;
}

bool ReadStoredA(const char *section, const char *name, GlobalBlock *value)
{
    DWORD size = GetSettingsStringSize(section, name);
    return !size || ReadStored<char>(size + 1, value, [&](char *text) {
        GetSettingsStringA(section, name, "", text, size + 1);
    });
}

// The size asked through the ANSI interface counts at most one byte per
// character of the wide text, so twice that holds it with its terminator.
bool ReadStoredW(const char *section, const char *name, GlobalBlock *value)
{
    DWORD size = GetSettingsStringSize(section, name);
    DWORD bytes = size * 2 + sizeof(wchar_t);
    return !size || ReadStored<wchar_t>(bytes, value, [&](wchar_t *text) {
        GetSettingsStringW(section, name, "", text, bytes);
    });
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
        if (LoadEntry(name, &table[count]))
            count++;
    return SortClippingNames(table, order);
}

ClippingStoreLock::ClippingStoreLock() : m_mutex(CreateMutexA(nullptr, FALSE, "Quillet clipping store"))
{
    // Held for registry work, and by a synchronisation for its whole run:
    // whoever does not get it in a few seconds changes nothing.
    m_owned = m_mutex && WaitForSingleObject(m_mutex, 5000) != WAIT_TIMEOUT;
}

ClippingStoreLock::~ClippingStoreLock()
{
    if (m_owned)
        ReleaseMutex(m_mutex);
    if (m_mutex)
        CloseHandle(m_mutex);
}

bool SlotHoldsClipping(uint32_t slot, const ClippingEntry &expected)
{
    char section[16];
    FmtRegApp(section, sizeof section, slot);
    ClippingEntry now = {};
    return LoadEntry(section, &now) && strcmp(now.name, expected.name) == 0 &&
           now.lastUpdate == expected.lastUpdate;
}

BOOL MayStoreClipping()
{
    return CountClippings() < MAX_CLIPPINGS;
}

// The store is read afresh under the lock, so that two running copies never
// choose the same slot and the count always matches the sections. A new
// clipping starts as never synchronised.
uint32_t StoreClipping(const char *name, BOOL replace, const wchar_t *text, const char *rtf, const char *html)
{
    ClippingStoreLock lock;
    if (!lock.ok())
        return 0;
    ClippingEntry table[MAX_CLIPPINGS];
    uint32_t order[MAX_CLIPPINGS];
    const uint32_t count = LoadClippingNames(table, MAX_CLIPPINGS, order);
    char candidate[CLIPNAME_MAX + 1];
    SanitiseClipName(name, candidate);
    uint32_t slot;
    bool isNew;
    if (count >= MAX_CLIPPINGS || !ChooseClipSlot(table, count, candidate, replace != FALSE, &slot, &isNew))
        return 0;
    WriteClipping(slot, candidate, text, rtf, html);
    if (isNew)
        WriteClipSyncState(slot, {true, 0, "", ""});
    return WriteClipCount();
}

int StoreClippingInSlot(int slot, const char *name, const wchar_t *text, const char *rtf, const char *html)
{
    ClippingStoreLock lock;
    if (!lock.ok())
        return -1;
    char candidate[CLIPNAME_MAX + 1];
    SanitiseClipName(name, candidate);
    if (slot < 0) {
        ClippingEntry table[MAX_CLIPPINGS];
        uint32_t order[MAX_CLIPPINGS], chosen;
        bool isNew;
        const uint32_t count = LoadClippingNames(table, MAX_CLIPPINGS, order);
        if (count >= MAX_CLIPPINGS || !ChooseClipSlot(table, count, candidate, false, &chosen, &isNew))
            return -1;
        slot = int(chosen);
        WriteClipSyncState(chosen, {true, 0, "", ""});
    }
    if (slot >= MAX_CLIPPINGS)
        return -1;
    WriteClipping(uint32_t(slot), candidate, text, rtf, html);
    WriteClipCount();
    return slot;
}

bool ReadClipSyncState(uint32_t slot, ClipSyncState *state)
{
    char section[16];
    FmtRegApp(section, sizeof section, slot);
    *state = {};
    // No cloud id is all bits set: that default means the value is missing.
    const DWORD id = GetSettingsInt(section, "CloudID", DWORD(-1));
    if (id == DWORD(-1))
        return false;
    state->known = true;
    state->cloudId = int32_t(id);
    GetSettingsStringA(section, "CloudDate", "", state->cloudDate, sizeof state->cloudDate);
    GetSettingsStringA(section, "SyncedUpdate", "", state->syncedUpdate, sizeof state->syncedUpdate);
    return true;
}

void WriteClipSyncState(uint32_t slot, const ClipSyncState &state)
{
    char section[16];
    FmtRegApp(section, sizeof section, slot);
    WriteSettingsInt(section, "CloudID", DWORD(state.cloudId));
    WriteSettingsStringA(section, "CloudDate", state.cloudDate);
    WriteSettingsStringA(section, "SyncedUpdate", state.syncedUpdate);
}

bool ReadClipping(uint32_t slot, StoredClipping *clipping)
{
    char section[16];
    FmtRegApp(section, sizeof section, slot);
    return ReadStoredW(section, "UTF", &clipping->text) && ReadStoredA(section, "RTF", &clipping->rtf) &&
           ReadStoredA(section, "HTML", &clipping->html);
}

UINT RecallClipping(StoredClipping &clipping)
{
    if (!clipping.text.get() && !clipping.rtf.get() && !clipping.html.get())
        return 0;
    EmptyClipboard();
    UINT placed = PlaceOnClipboard(CF_UNICODETEXT, clipping.text);
    placed += PlaceOnClipboard(RegisterClipboardFormatA("Rich Text Format"), clipping.rtf);
    placed += PlaceOnClipboard(RegisterClipboardFormatA("HTML Format"), clipping.html);
    return placed;
}

DWORD DeleteLocalClip(uint32_t slot)
{
    ClippingStoreLock lock;
    if (!lock.ok())
        return CountClippings();
    char section[16];
    FmtRegApp(section, sizeof section, slot);
    for (const char *value : {"Name", "UTF", "RTF", "HTML"})
        WriteSettingsStringA(section, value, nullptr);
    return WriteClipCount();
}
