#include "programlist.h"
#include <algorithm>

namespace {

bool IsSeparator(char16_t c)
{
    return c == u';' || c == u',' || c == u'\r' || c == u'\n';
}

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

std::u16string_view Trimmed(std::u16string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::u16string_view FileName(std::u16string_view path)
{
    const size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

char16_t Folded(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool SameName(std::u16string_view a, std::u16string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char16_t x, char16_t y) { return Folded(x) == Folded(y); });
}

} // namespace

bool ListsProgram(std::u16string_view list, std::u16string_view program)
{
    program = FileName(Trimmed(program));
    if (program.empty())
        return false;
    while (!list.empty()) {
        const size_t end = std::find_if(list.begin(), list.end(), IsSeparator) - list.begin();
        if (SameName(FileName(Trimmed(list.substr(0, end))), program))
            return true;
        list.remove_prefix(std::min(list.size(), end + 1));
    }
    return false;
}
