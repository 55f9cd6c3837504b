#include "clippings/clipentry.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Sorted(const std::vector<const char *> &names)
{
    ClippingEntry table[MAX_CLIPPINGS] = {};
    for (size_t i = 0; i < names.size(); i++) {
        table[i].state = 'A';
        table[i].slot = (uint32_t)i;
        strcpy(table[i].name, names[i]);
    }
    uint32_t order[MAX_CLIPPINGS];
    std::vector<std::string> out;
    for (uint32_t k = 0, n = SortClippingNames(table, order); k < n; k++)
        out.push_back(std::string(table[order[k]].name) + "/" + std::to_string(table[order[k]].slot));
    return out;
}

// The local time zone for one scope.
struct LocalZone {
    const bool had = getenv("TZ") != nullptr;
    const std::string old = had ? getenv("TZ") : "";
    explicit LocalZone(const char *tz) { setenv("TZ", tz, 1), tzset(); }
    ~LocalZone() { had ? setenv("TZ", old.c_str(), 1) : unsetenv("TZ"), tzset(); }
};

} // namespace

TEST(ClipEntry, SortIsCaseInsensitiveAndKeepsEqualNamesInOrder)
{
    // Letters compare in lower case, so '_' comes before them.
    EXPECT_EQ((std::vector<std::string>{"_x/3", "Alpha/1", "alpha/2", "beta/0"}),
              Sorted({"beta", "Alpha", "alpha", "_x"}));
}

TEST(ClipEntry, DatesConvertAsLocalStandardTime)
{
    LocalZone utc("UTC0");
    EXPECT_EQ(0, cvtDatetime(nullptr));
    EXPECT_EQ(0, cvtDatetime(""));
    EXPECT_EQ(1518426300, cvtDatetime("2018-02-12 09:05:00"));
    EXPECT_EQ(-1637333700, cvtDatetime("18-02-12 09:05:00")); // the year 1918
    // Unscanned fields stay 0 (day 0 is the last day of the month before).
    EXPECT_EQ(1514678400, cvtDatetime("2018-01"));
    // Beyond what 32 bits hold, and fields that would overflow an int.
    EXPECT_EQ(-1, cvtDatetime("2100-01-01 00:00:00"));
    EXPECT_EQ(-1, cvtDatetime("2147483647-2147483647-2147483647 2147483647:2147483647:2147483647"));
    EXPECT_EQ(-1, cvtDatetime("-2147483648--2147483648--2147483648 -2147483648:-2147483648:-2147483648"));
    {
        LocalZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
        EXPECT_EQ(1518426300 - 3600, cvtDatetime("2018-02-12 09:05:00"));
        // Daylight saving is never applied: a summer date is standard time too.
        EXPECT_EQ(1528794300 - 3600, cvtDatetime("2018-06-12 09:05:00"));
    }
}

TEST(ClipEntry, NamesAreSanitisedAndNumberedWithin31Characters)
{
    char out[CLIPNAME_MAX + 1];
    SanitiseClipName("Tab\there\r\n\x7f\xe9;</Clips>", out);
    EXPECT_STREQ("Tab-here------/Clips-", out);
    SanitiseClipName(std::string(40, 'x').c_str(), out);
    NumberedClipName(out, 1, out);
    EXPECT_EQ(std::string(27, 'x') + " (1)", out);
    NumberedClipName(std::string(31, 'y').c_str(), 4000000000u, out);
    EXPECT_EQ(std::string(27, 'y') + " (40", out);
}

// Sections are "Clip A".."Clip J" with the letter in either case. A clipping
// goes into the lowest free slot, or replaces or numbers one of its name,
// and never past the table, even when loaded entries repeat a slot.
TEST(ClipEntry, SectionsAndTheSlotOfANewClipping)
{
    const std::pair<const char *, int> sections[] = {
        {"Clip A", 0},  {"clip j", 9},   {"CLIP c", 2}, {"Clip a", 0},  {"Clip K", -1},
        {"Clip @", -1}, {"Clip AB", -1}, {"Clips", -1}, {"Slip A", -1}, {"", -1}};
    for (const auto &s : sections)
        EXPECT_EQ(s.second, ClipSectionSlot(s.first)) << s.first;

    ClippingEntry table[MAX_CLIPPINGS] = {};
    const uint32_t slots[MAX_CLIPPINGS] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 9};
    for (uint32_t i = 0; i < MAX_CLIPPINGS; i++) {
        table[i] = {slots[i], 'A', {}, 0};
        snprintf(table[i].name, sizeof table[i].name, "n%u", i);
    }
    const struct {
        uint32_t count;
        const char *name;
        bool replace, chosen;
        uint32_t slot;
        bool isNew;
        const char *named;
    } cases[] = {
        {10, "new", false, true, 8, true, "new"},   // slot 8 is free although ten are loaded
        {10, "N3", true, true, 3, false, "N3"},     // replaced by name in any case
        {10, "n3", false, true, 8, true, "n3 (1)"}, // numbered until unique
        {8, "new", false, true, 8, true, "new"},    {0, "first", false, true, 0, true, "first"},
    };
    for (const auto &c : cases) {
        char name[CLIPNAME_MAX + 1] = {};
        strcpy(name, c.name);
        uint32_t slot = 99;
        bool isNew = false;
        EXPECT_EQ(c.chosen, ChooseClipSlot(table, c.count, name, c.replace, &slot, &isNew)) << c.name;
        EXPECT_EQ(c.slot, slot) << c.name;
        EXPECT_EQ(c.isNew, isNew) << c.name;
        EXPECT_STREQ(c.named, name);
    }
    table[9].slot = 8; // all ten slots used
    char name[CLIPNAME_MAX + 1] = "new";
    uint32_t slot;
    bool isNew;
    EXPECT_FALSE(ChooseClipSlot(table, MAX_CLIPPINGS, name, false, &slot, &isNew));
}
