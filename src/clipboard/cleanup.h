#pragma once
// Clean-up conversions of clipboard text, beside upper and lower case.
// Portable: UTF-16 text as the clipboard's Unicode format holds it, no
// <windows.h>. Line ends may be CR LF, LF or a lone CR; each keeps its form.
#include <string>
#include <string_view>

// Spaces and tabs before each line end and at the end of the text go.
std::u16string TrimLineEnds(std::u16string_view text);
// Lines wrapped inside a paragraph become one line: a line end followed by
// more text of the same paragraph turns into one space. Blank lines (empty or
// only spaces and tabs) stay paragraph breaks, and a line that starts as a
// list item ("- ", "* ", "• ", "1. ", "2) ") or indented starts a line of
// its own.
std::u16string JoinWrappedLines(std::u16string_view text);
// Typographic quotes, apostrophes and dashes to their ASCII forms: single
// quotes and primes to ', double ones and guillemets to ", en dashes, minus
// signs and hyphens to -, em dashes and the horizontal bar to --.
std::u16string StraightenPunctuation(std::u16string_view text);
