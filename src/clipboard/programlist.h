#pragma once
// The programs whose copies automatic conversion leaves as they are.
// Portable: no <windows.h>.
#include <string_view>

// Whether `program` (a file name such as "EXCEL.EXE") is an entry of `list`:
// names separated by ';', ',' or line ends, blanks around them ignored, ASCII
// letters compared without case. An entry given with its folder counts by
// its file name.
bool ListsProgram(std::u16string_view list, std::u16string_view program);
