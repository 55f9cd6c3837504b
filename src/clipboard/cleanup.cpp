#include "clipboard/cleanup.h"
#include <algorithm>
#include <iterator>

namespace {

// The typographic marks that have one ASCII form.
struct Straight {
    std::u16string_view marks, ascii;
};
constexpr Straight STRAIGHT[] = {
    {u"\u2018\u2019\u201A\u201B\u2032\u2039\u203A", u"'"},  // single quotes, prime
    {u"\u201C\u201D\u201E\u201F\u2033\u00AB\u00BB", u"\""}, // double quotes, guillemets
    {u"\u2010\u2011\u2012\u2013\u2212", u"-"},              // hyphens, en dash, minus
    {u"\u2014\u2015", u"--"},                               // em dash, horizontal bar
};

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

bool IsLineEnd(char16_t c)
{
    return c == u'\r' || c == u'\n';
}

// Length of the line end at `at` (CR LF, LF or CR); 0 when there is none.
size_t LineEndLength(std::u16string_view text, size_t at)
{
    if (at >= text.size() || !IsLineEnd(text[at]))
        return 0;
    return text[at] == u'\r' && at + 1 < text.size() && text[at + 1] == u'\n' ? 2 : 1;
}

// One line of the text: where it starts, its length without the line end and
// the length of its line end.
struct Line {
    size_t start, length, end;
};

Line LineAt(std::u16string_view text, size_t start)
{
    size_t stop = start;
    while (stop < text.size() && !IsLineEnd(text[stop]))
        stop++;
    return {start, stop - start, LineEndLength(text, stop)};
}

std::u16string_view WithoutTrailingBlanks(std::u16string_view line)
{
    size_t n = line.size();
    while (n > 0 && IsBlank(line[n - 1]))
        n--;
    return line.substr(0, n);
}

bool IsBlankLine(std::u16string_view line)
{
    return WithoutTrailingBlanks(line).empty();
}

// A line that must not be joined to the one before it.
bool StartsOwnLine(std::u16string_view line)
{
    if (IsBlankLine(line) || IsBlank(line[0]))
        return true;
    if (line.size() >= 2 && (line[0] == u'-' || line[0] == u'*' || line[0] == u'\u2022') && line[1] == u' ')
        return true;
    size_t digits = 0;
    while (digits < line.size() && line[digits] >= u'0' && line[digits] <= u'9')
        digits++;
    return digits > 0 && digits + 1 < line.size() && (line[digits] == u'.' || line[digits] == u')') &&
           line[digits + 1] == u' ';
}

} // namespace

std::u16string TrimLineEnds(std::u16string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const Line line = LineAt(text, at);
        out += WithoutTrailingBlanks(text.substr(line.start, line.length));
        out += text.substr(line.start + line.length, line.end);
        at = line.start + line.length + line.end;
    }
    return out;
}

std::u16string JoinWrappedLines(std::u16string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const Line line = LineAt(text, at);
        const std::u16string_view body = text.substr(line.start, line.length);
        const size_t next = line.start + line.length + line.end;
        const bool join = line.end > 0 && !IsBlankLine(body) && next < text.size() &&
                          !StartsOwnLine(text.substr(next, LineAt(text, next).length));
        if (join) {
            out += WithoutTrailingBlanks(body);
            out += u' ';
        } else {
            out += text.substr(line.start, line.length + line.end);
        }
        at = next;
    }
    return out;
}

std::u16string StraightenPunctuation(std::u16string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        const auto *straight = std::find_if(std::begin(STRAIGHT), std::end(STRAIGHT), [c](const Straight &s) {
            return s.marks.find(c) != s.marks.npos;
        });
        if (straight != std::end(STRAIGHT))
            out += straight->ascii;
        else
            out += c;
    }
    return out;
}
