#pragma once
// application/x-www-form-urlencoded text decoded as the service reads it; for
// the Windows tests and the fuzz targets alike.
#include <cstdlib>
#include <string>

inline std::string FormDecoded(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else
            out += text[i] == '+' ? ' ' : text[i];
    }
    return out;
}
