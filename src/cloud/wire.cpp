#include "cloud/wire.h"
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include "util/safefns.h"

char html5[256];

namespace {

const char DATA_OPEN[] = "<Data>\r\n";
const char DATA_CLOSE[] = "\r\n</Data>";

bool IsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

bool IsUpper(unsigned char c)
{
    return c >= 'A' && c <= 'Z';
}

bool IsLower(unsigned char c)
{
    return c >= 'a' && c <= 'z';
}

bool IsPrintable(unsigned char c)
{
    return c >= 32 && c <= 126;
}

char LowerAscii(char c)
{
    return IsUpper(static_cast<unsigned char>(c)) ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(const std::string &a, const char *b)
{
    return a.size() == strlen(b) &&
           std::equal(a.begin(), a.end(), b, [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

bool StartsNoCase(const std::string &line, const char *prefix)
{
    return EqualNoCase(line.substr(0, strlen(prefix)), prefix);
}

// Decimal with leading white space and a sign; no digits give 0.
int32_t ReadDecimal(const char *text)
{
    return static_cast<int32_t>(std::clamp<long long>(strtoll(text, nullptr, 10), INT32_MIN, INT32_MAX));
}

// The non-negative remainder.
int Mod(int value, int by)
{
    int r = value % by;
    return r < 0 ? r + by : r;
}

bool FillHtml5()
{
    for (int b = 0; b < 256; b++) {
        auto c = static_cast<unsigned char>(b);
        bool kept = IsDigit(c) || IsUpper(c) || IsLower(c) || c == '-' || c == '.' || c == '*' || c == '_';
        html5[b] = kept ? static_cast<char>(c) : '\0';
    }
    html5[static_cast<unsigned char>(' ')] = '+';
    return true;
}

// Appends c to the form when it fits with its NUL.
void AppendSeparator(char *buf, size_t size, char c)
{
    size_t used = strlen(buf);
    if (used + 1 < size) {
        buf[used] = c;
        buf[used + 1] = '\0';
    }
}

// Matches the way the replacement walks the source: left to right, going on
// after each match. Counting overlapping matches would undersize a shrinking
// replacement ("$$$$" holds three "$$" but only two are replaced).
size_t CountReplaced(const char *src, const char *find)
{
    size_t count = 0, findLen = strlen(find);
    for (const char *p = strstr(src, find); p; p = strstr(p + findLen, find))
        count++;
    return count;
}

// One pass of the CR LF encoding into a new text, or null.
char *Replaced(const char *text, const char *find, const char *repl)
{
    size_t size = str_replace(text, find, repl, 0, nullptr);
    char *out = static_cast<char *>(xmalloc(size + 2));
    if (out)
        str_replace(text, find, repl, size, out);
    return out;
}

// A pass that fails leaves no half-encoded text behind: null.
char *TwoPasses(const char *text, const char *find1, const char *repl1, const char *find2, const char *repl2)
{
    HeapPtr<char> first(Replaced(text ? text : "", find1, repl1));
    return first ? Replaced(first.get(), find2, repl2) : nullptr;
}

// The value of `field` in a data block and its length; null with *result set
// (0: no block, -1: no field, "=" or end) when there is none.
const char *FindDataValue(const char *body, const char *field, size_t *len, int *result)
{
    const char *block = body && field ? strstr(body, DATA_OPEN) : nullptr;
    *result = 0;
    if (!block)
        return nullptr;
    *result = -1;
    const char *name = *field ? strstr(block + strlen(DATA_OPEN), field) : nullptr;
    const char *eq = name ? strchr(name + strlen(field), '=') : nullptr;
    const char *end = eq ? strstr(eq + 1, DATA_CLOSE) : nullptr;
    if (!end)
        return nullptr;
    *len = static_cast<size_t>(end - (eq + 1));
    return eq + 1;
}

// One line of a check block: "name=number" sets the length it names.
bool ReadSizeLine(const std::string &line, uint32_t *lenUTF, uint32_t *lenRTF, uint32_t *lenHTML)
{
    size_t eq = line.find('=');
    if (eq == std::string::npos)
        return false;
    std::string name = line.substr(0, eq);
    uint32_t value = static_cast<uint32_t>(ReadDecimal(line.c_str() + eq + 1));
    if (EqualNoCase(name, "lenUTF"))
        *lenUTF = value;
    else if (EqualNoCase(name, "lenRTF"))
        *lenRTF = value;
    else if (EqualNoCase(name, "lenHTML"))
        *lenHTML = value;
    return true;
}

// "id=name;date;state", split as strtok splits; false unless all four fields
// are there. A name or a date too long for its field leaves it empty.
bool ReadClipLine(std::string line, CloudClipEntry *entry)
{
    char *pos = nullptr;
    const char *id = safe_strtok(&line[0], " =", &pos);
    const char *name = safe_strtok(nullptr, ";", &pos);
    const char *date = safe_strtok(nullptr, ";", &pos);
    const char *state = safe_strtok(nullptr, ";", &pos);
    if (!state)
        return false;
    *entry = CloudClipEntry();
    entry->id = ReadDecimal(id);
    entry->state = state[0];
    safe_strcpy(entry->name, sizeof entry->name, name);
    safe_strcpy(entry->date, sizeof entry->date, date);
    return true;
}

} // namespace

void url_encoder_rfc_tables_init()
{
    // A local static is built once, also when two threads encode their first
    // forms at the same time.
    static const bool encodeInit = FillHtml5();
    static_cast<void>(encodeInit);
}

char *url_encode(const char *table, const char *src, size_t room, char *dst)
{
    static const char HEX[] = "0123456789ABCDEF";
    if (room == 0)
        return dst;
    size_t out = 0;
    for (const char *p = src ? src : ""; *p && out + 1 < room; p++) {
        auto c = static_cast<unsigned char>(*p);
        if (table[c]) {
            dst[out++] = table[c];
        } else if (out + 4 < room) {
            dst[out++] = '%';
            dst[out++] = HEX[c >> 4];
            dst[out++] = HEX[c & 15];
        }
    }
    dst[out] = '\0';
    return dst;
}

size_t url_encoded_length(const char *src)
{
    url_encoder_rfc_tables_init();
    size_t len = 0;
    for (const char *p = src ? src : ""; *p; p++)
        len += html5[static_cast<unsigned char>(*p)] ? 1 : 3;
    return len;
}

void AppendKVPair(int first, const char *key, const char *value, char *buf, size_t size)
{
    url_encoder_rfc_tables_init();
    if (!first)
        AppendSeparator(buf, size, '&');
    size_t used = strlen(buf);
    url_encode(html5, key, size - used, buf + used);
    AppendSeparator(buf, size, '=');
    used = strlen(buf);
    url_encode(html5, value, size - used, buf + used);
}

char *NewForm(const FormPair *pairs, size_t count)
{
    size_t len = 0;
    for (size_t i = 0; i < count; i++)
        len += (i > 0) + url_encoded_length(pairs[i].key) + 1 + url_encoded_length(pairs[i].value);
    // url_encode keeps one byte beyond an escape free, besides the NUL.
    size_t size = len + 2;
    char *form = static_cast<char *>(xmalloc(size));
    for (size_t i = 0; form && i < count; i++)
        AppendKVPair(i == 0, pairs[i].key, pairs[i].value, form, size);
    return form;
}

void FormatId(int32_t id, char out[8])
{
    char text[16];
    safe_itoa(id, text, sizeof text, 10);
    safe_strncpy(out, 8, text, 7);
}

size_t str_replace(const char *src, const char *find, const char *repl, size_t size, char *dst)
{
    src = src ? src : "";
    repl = repl ? repl : "";
    size_t findLen = find ? strlen(find) : 0, replLen = strlen(repl);
    size_t count = findLen ? CountReplaced(src, find) : 0;
    size_t needed = strlen(src) - count * findLen + count * replLen;
    if (size == 0 || !dst)
        return needed + 2;
    if (needed >= size)
        return 0;
    size_t out = 0;
    for (const char *p = src; *p;) {
        if (count && strncmp(p, find, findLen) == 0) {
            memcpy(dst + out, repl, replLen);
            out += replLen;
            p += findLen;
        } else {
            dst[out++] = *p++;
        }
    }
    dst[out] = '\0';
    return out;
}

char *EncodeCRLF(const char *text)
{
    return TwoPasses(text, "$", "$$", "\r\n", "$RN$");
}

char *DecodeCRLF(const char *text)
{
    return TwoPasses(text, "$RN$", "\r\n", "$$", "$");
}

int32_t GetPXMLInt(const char *body, const char *tag)
{
    if (!body || !tag || !*tag)
        return -1;
    const char *at = strstr(body, tag);
    if (!at || at == body || at[strlen(tag)] != '>')
        return -1;
    return ReadDecimal(at + strlen(tag) + 1);
}

int ParseClipSize(const char *body, uint32_t *lenUTF, uint32_t *lenRTF, uint32_t *lenHTML)
{
    *lenUTF = *lenRTF = *lenHTML = 0;
    const char *p = body ? strstr(body, "<Check>\r\n") : nullptr;
    if (!p)
        return 0;
    p += strlen("<Check>\r\n");
    int lines = 0;
    for (;;) {
        while (*p && !IsPrintable(static_cast<unsigned char>(*p)))
            p++;
        if (!*p)
            break;
        size_t len = strcspn(p, "\r");
        std::string line(p, len);
        if (StartsNoCase(line, "</Check>"))
            break;
        if (!StartsNoCase(line, "<Check>") && ReadSizeLine(line, lenUTF, lenRTF, lenHTML))
            lines++;
        p += len + (p[len] ? 1 : 0);
    }
    return lines;
}

int ParseClipData(const char *body, const char *field, char *dst, size_t size)
{
    if (size)
        memset(dst, 0, size);
    size_t len = 0;
    int result;
    const char *value = FindDataValue(body, field, &len, &result);
    if (!value)
        return result;
    size_t n = std::min(len, size);
    HeapPtr<char> decoded(DecodeCRLF(std::string(value, n).c_str()));
    if (decoded && strlen(decoded.get()) < size)
        strcpy(dst, decoded.get());
    return static_cast<int>(std::min<size_t>(n, INT_MAX));
}

int ParseWholeClipData(const char *body, const char *field, char *dst, size_t size)
{
    size_t len = 0;
    int result;
    if (FindDataValue(body, field, &len, &result) && len > size) {
        if (size)
            memset(dst, 0, size);
        return -1;
    }
    return ParseClipData(body, field, dst, size);
}

uint32_t ParseClipList(const char *reply, CloudClipEntry *table, uint32_t capacity)
{
    memset(table, 0, capacity * sizeof *table);
    const char *p = reply ? strstr(reply, "<Clips>\r\n") : nullptr;
    if (!p)
        return 0;
    p += strlen("<Clips>\r\n");
    uint32_t count = 0;
    while (*p && count < capacity) {
        const char *end = p;
        while (IsPrintable(static_cast<unsigned char>(*end)))
            end++;
        std::string line(p, end);
        if (line.compare(0, 8, "</Clips>") == 0 || line.compare(0, 9, "<Clips />") == 0)
            break;
        if (line.compare(0, 7, "<Clips>") != 0 && ReadClipLine(line, &table[count]))
            count++;
        p = *end ? end + 1 : end;
    }
    return count;
}

uint32_t DeriveRolKey(const char *accountKey, uint8_t *key, uint32_t size)
{
    if (size)
        memset(key, 0, size);
    uint32_t n = 0;
    for (size_t i = 0; accountKey && i < 31 && accountKey[i] && n < std::min<uint32_t>(size, ROL_KEY_MAX);
         i++) {
        auto c = static_cast<unsigned char>(LowerAscii(accountKey[i]));
        if (IsLower(c))
            key[n++] = static_cast<uint8_t>(c - 'a');
        else if (IsDigit(c))
            key[n++] = static_cast<uint8_t>(c - '0');
    }
    return n;
}

size_t RolString(int forward, char *text, const uint8_t *key, uint32_t keyLen)
{
    size_t len = strlen(text);
    for (size_t p = 0; keyLen && p < len; p++) {
        int shift = forward ? key[p % keyLen] : -key[p % keyLen];
        auto c = static_cast<unsigned char>(text[p]);
        if (IsDigit(c))
            text[p] = static_cast<char>('0' + Mod(c - '0' + shift, 10));
        else if (IsUpper(c))
            text[p] = static_cast<char>('A' + Mod(c - 'A' + shift, 26));
        else if (IsLower(c))
            text[p] = static_cast<char>('a' + Mod(c - 'a' + shift, 26));
    }
    return len;
}

int CalcPct(unsigned step, unsigned total)
{
    if (total == 0)
        return 0;
    if (total == 1)
        return static_cast<int>(step * 100);
    return static_cast<int>(static_cast<float>(step) * 100.0f / static_cast<float>(total));
}

SyncAction DecideSync(int32_t t, int32_t local, int32_t lastSync, char state)
{
    if (t < local)
        return SYNC_UPDATE_CLOUD;
    if (t <= lastSync)
        return SYNC_UNCHANGED;
    if (state == 'A')
        return SYNC_DOWNLOAD;
    if (state == 'X')
        return SYNC_DELETE_LOCAL;
    return SYNC_NOTHING;
}
