// libFuzzer target: any text as a reply body of the sync service. The first
// byte is the data destination's size; nothing may be written past it, and
// what is stored is always terminated. The names and dates of the clip list
// go through the store's readers, the text itself too as a date read from
// the settings.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "clippings/clipentry.h"
#include "cloud/wire.h"

namespace {

void Check(bool ok)
{
    if (!ok)
        abort();
}

bool Terminated(const char *text, size_t size)
{
    return memchr(text, '\0', size) != nullptr;
}

void ReadData(const char *body, const char *field, size_t size)
{
    std::vector<char> cut(size), whole(size);
    int n = ParseClipData(body, field, cut.data(), size);
    int m = ParseWholeClipData(body, field, whole.data(), size);
    Check(n <= static_cast<int>(size) &&
          (size == 0 || (Terminated(cut.data(), size) && Terminated(whole.data(), size))));
    // The whole reader keeps the same text or none.
    Check(size == 0 || whole[0] == '\0' || (m == n && strcmp(whole.data(), cut.data()) == 0));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    std::string body(reinterpret_cast<const char *>(data) + 1, size - 1);
    const char *text = body.c_str();
    GetPXMLInt(text, "UserID");
    uint32_t utf, rtf, html;
    Check(ParseClipSize(text, &utf, &rtf, &html) >= 0);
    ReadData(text, "ClipUTF", data[0]);
    ReadData(text, "ClipHTML", data[0] / 4);

    CloudClipEntry table[CLOUD_CLIPS_MAX];
    uint32_t count = ParseClipList(text, table, CLOUD_CLIPS_MAX);
    Check(count <= CLOUD_CLIPS_MAX);
    for (const CloudClipEntry &entry : table) {
        Check(Terminated(entry.name, sizeof entry.name) && Terminated(entry.date, sizeof entry.date));
        cvtDatetime(entry.date);
        // A downloaded clip's name as the store takes it.
        char name[CLIPNAME_MAX + 1];
        SanitiseClipName(entry.name, name);
        Check(std::all_of(name, name + strlen(name), [](char c) { return c >= 32 && c <= 126; }));
        NumberedClipName(name, static_cast<unsigned>(entry.id), name);
        Check(strlen(name) <= CLIPNAME_MAX);
    }
    cvtDatetime(text);
    return 0;
}
