#pragma once
// The in-memory form of the local clippings and the rules that need no
// window or registry: name order, date text, name sanitising.
#include <cstddef>
#include <cstdint>

#define MAX_CLIPPINGS 10
#define CLIPNAME_MAX 31 // characters of a clipping's name

// One loaded clipping; slot 0-9 is the letter of its section "Clip A".."Clip J".
struct ClippingEntry {
    uint32_t slot;
    char state; // 'A' in use, 0 free
    char name[CLIPNAME_MAX + 1];
    int32_t lastUpdate; // calendar time of "LastUpdate", 0 when missing
};

// Lists the entries in use (of MAX_CLIPPINGS examined) in name order, ASCII
// case-insensitive; equal names keep their table order. Returns their count.
uint32_t SortClippingNames(const ClippingEntry *table, uint32_t *order);

// "%Y-%m-%d %H:%M:%S" local time to calendar time; 0 for a null or empty
// text, -1 when the date cannot be represented.
int32_t cvtDatetime(const char *text);

// The first 31 characters with everything outside printable ASCII, and the
// ';', '<' and '>' that the service refuses in names, as '-': a name that
// can travel.
void SanitiseClipName(const char *name, char *out /* CLIPNAME_MAX + 1 */);

// The n-th alternative of a name taken: its first 27 characters, " (n)",
// cut to 31 characters.
void NumberedClipName(const char *name, unsigned n, char *out /* CLIPNAME_MAX + 1 */);

// The slot of a section "Clip A".."Clip J", its letter in either case; -1
// for every other name.
int ClipSectionSlot(const char *section);

// Where a clipping named `name` goes among `count` loaded entries: a name
// in use (ASCII case-insensitive) is replaced when `replace` is set and
// otherwise numbered until unique (`name` receives the result); a new
// clipping takes the lowest slot no entry uses. False when no slot is free.
bool ChooseClipSlot(const ClippingEntry *table, uint32_t count, char *name /* CLIPNAME_MAX + 1 */,
                    bool replace, uint32_t *slot, bool *isNew);
