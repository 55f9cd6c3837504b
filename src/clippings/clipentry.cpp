#include "clipentry.h"
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

int Lower(char c)
{
    const int u = (unsigned char)c;
    return u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
}

int CompareNoCase(const char *a, const char *b)
{
    for (;; a++, b++) {
        const int ca = Lower(*a), cb = Lower(*b);
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}

int64_t FloorDiv(int64_t a, int64_t b)
{
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

// Days from 1970-01-01 to a proleptic Gregorian date; month may lie outside
// 1-12 and day outside the month, as with mktime's normalisation.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day)
{
    year += FloorDiv(month - 1, 12);
    month -= 12 * FloorDiv(month - 1, 12);
    year -= month <= 2;
    int64_t era = FloorDiv(year, 400);
    int64_t yoe = year - era * 400;
    int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + (day - 1);
}

// Seconds to add to a local standard time to reach UTC. Measured once on a
// date every C library can represent, so dates before 1970 or after 2038
// convert as well as the others.
int64_t StandardOffset()
{
    struct tm ref = {};
    ref.tm_year = 100;
    ref.tm_mday = 1;
    ref.tm_isdst = 0;
    time_t t = mktime(&ref);
    return t == (time_t)-1 ? 0 : (int64_t)t - DaysFromCivil(2000, 1, 1) * 86400;
}

const ClippingEntry *FindByName(const ClippingEntry *table, uint32_t count, const char *name)
{
    for (uint32_t i = 0; i < count; i++)
        if (CompareNoCase(table[i].name, name) == 0)
            return &table[i];
    return nullptr;
}

// The lowest slot no entry uses, or MAX_CLIPPINGS when all are used.
uint32_t LowestFreeSlot(const ClippingEntry *table, uint32_t count)
{
    bool used[MAX_CLIPPINGS] = {};
    for (uint32_t i = 0; i < count; i++)
        if (table[i].slot < MAX_CLIPPINGS)
            used[table[i].slot] = true;
    uint32_t slot = 0;
    while (slot < MAX_CLIPPINGS && used[slot])
        slot++;
    return slot;
}

} // namespace

int ClipSectionSlot(const char *section)
{
    static const char prefix[] = "clip ";
    if (strlen(section) != 6)
        return -1;
    for (int i = 0; i < 5; i++)
        if (Lower(section[i]) != prefix[i])
            return -1;
    const int slot = Lower(section[5]) - 'a';
    return slot >= 0 && slot < MAX_CLIPPINGS ? slot : -1;
}

bool ChooseClipSlot(const ClippingEntry *table, uint32_t count, char *name, bool replace, uint32_t *slot,
                    bool *isNew)
{
    *isNew = true;
    char base[CLIPNAME_MAX + 1];
    memcpy(base, name, sizeof base);
    for (unsigned n = 1;; n++) {
        const ClippingEntry *same = FindByName(table, count, name);
        if (!same) {
            *slot = LowestFreeSlot(table, count);
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

uint32_t SortClippingNames(const ClippingEntry *table, uint32_t *order)
{
    uint32_t count = 0;
    for (uint32_t i = 0; i < MAX_CLIPPINGS; i++)
        if (table[i].state == 'A')
            order[count++] = i;
    if (count < 2)
        return count;
    // A bubble sort swaps only strictly greater neighbours, so equal names
    // keep the order in which their sections were found.
    for (uint32_t pass = 0; pass < count; pass++) {
        bool swapped = false;
        for (uint32_t j = 0; j + 1 < count; j++) {
            const ClippingEntry &a = table[order[j]], &b = table[order[j + 1]];
            if (a.state == b.state && CompareNoCase(a.name, b.name) > 0) {
                uint32_t t = order[j];
                order[j] = order[j + 1];
                order[j + 1] = t;
                swapped = true;
            }
        }
        if (!swapped)
            break;
    }
    return count;
}

int32_t cvtDatetime(const char *text)
{
    if (!text || !*text)
        return 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    sscanf(text, "%d-%d-%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second);
    // Two-digit and other small years count from 1900.
    int64_t fullYear = year > 1899 ? (int64_t)year : (int64_t)year + 1900;
    int64_t local =
        DaysFromCivil(fullYear, month, day) * 86400 + (int64_t)hour * 3600 + (int64_t)minute * 60 + second;
    int64_t t = local + StandardOffset();
    return t < INT32_MIN || t > INT32_MAX ? -1 : (int32_t)t;
}

void SanitiseClipName(const char *name, char *out)
{
    size_t n = 0;
    for (; name && name[n] && n < CLIPNAME_MAX; n++) {
        unsigned char c = (unsigned char)name[n];
        out[n] = c >= 32 && c <= 126 && !strchr(";<>", c) ? (char)c : '-';
    }
    out[n] = '\0';
}

void NumberedClipName(const char *name, unsigned n, char *out)
{
    char text[64];
    int len = snprintf(text, sizeof text, "%.27s (%u)", name, n);
    size_t keep = len < 0 ? 0 : len > CLIPNAME_MAX ? CLIPNAME_MAX : (size_t)len;
    memcpy(out, text, keep);
    out[keep] = '\0';
}
