// libFuzzer target: the encodings of the sync service as round trips. The
// first byte is a key length, then the key's bytes, then the text.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "cloud/wire.h"
#include "../tests/formdecode.h"

namespace {

void Check(bool ok)
{
    if (!ok)
        abort();
}

std::string Owned(char *text)
{
    HeapPtr<char> owner(text);
    Check(owner != nullptr);
    return owner.get();
}

// Left to right, going on after each match.
std::string Replaced(const std::string &src, const std::string &find, const std::string &repl)
{
    std::string out;
    for (size_t at = 0; at < src.size();)
        out +=
            src.compare(at, find.size(), find) == 0 ? (at += find.size(), repl) : std::string(1, src[at++]);
    return out;
}

void CheckReplace(const std::string &text, const char *find, const char *repl)
{
    std::string expected = Replaced(text, find, repl);
    size_t size = str_replace(text.c_str(), find, repl, 0, nullptr);
    Check(size == expected.size() + 2);
    std::vector<char> exact(expected.size() + 1);
    Check(str_replace(text.c_str(), find, repl, exact.size(), exact.data()) == expected.size());
    Check(expected == exact.data());
    // One byte short: nothing (size 0 would be a size query).
    Check(expected.empty() || str_replace(text.c_str(), find, repl, expected.size(), exact.data()) == 0);
}

void CheckForm(const std::string &text)
{
    std::string form = Owned(NewForm(std::vector<FormPair>({{"data", text.c_str()}}).data(), 1));
    Check(form.size() == 5 + url_encoded_length(text.c_str()) && form.find('&') == std::string::npos);
    Check(FormDecoded(form.substr(5)) == text);
    for (size_t room = 0; room < 8; room++) {
        std::vector<char> cut(room + 1, '#');
        url_encode(html5, text.c_str(), room, cut.data());
        Check(cut[room] == '#' && (room == 0 || strlen(cut.data()) < room));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    uint32_t keyLen = std::min<uint32_t>(data[0] % (ROL_KEY_MAX + 1), static_cast<uint32_t>(size - 1));
    std::vector<uint8_t> key(data + 1, data + 1 + keyLen);
    for (uint8_t &k : key)
        k %= 26;
    const std::string text =
        std::string(reinterpret_cast<const char *>(data) + 1 + keyLen, size - 1 - keyLen).c_str();

    // "$RN" before "$" or CR LF reads back as a line break: the encoding's
    // own ambiguity.
    if (text.find("$RN") == std::string::npos)
        Check(Owned(DecodeCRLF(Owned(EncodeCRLF(text.c_str())).c_str())) == text);
    CheckReplace(text, "$", "$$");
    CheckReplace(text, "$RN$", "\r\n");
    CheckReplace(text, "$$", "$");
    CheckForm(text);
    std::string rotated = text;
    Check(RolString(1, &rotated[0], key.data(), keyLen) == text.size() &&
          strlen(rotated.c_str()) == text.size());
    RolString(0, &rotated[0], key.data(), keyLen);
    Check(rotated == text);
    // The text as an account key.
    uint8_t derived[ROL_KEY_MAX];
    uint32_t derivedLen = DeriveRolKey(text.c_str(), derived, sizeof derived);
    Check(derivedLen <= ROL_KEY_MAX &&
          std::all_of(derived, derived + derivedLen, [](uint8_t k) { return k < 26; }));
    return 0;
}
