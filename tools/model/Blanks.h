#pragma once
// Trimming as the tools read their 8-bit texts: every byte up to the blank
// (control characters and zero bytes too) counts as blank.
#include <string_view>

namespace tarnel {

inline bool IsBlankByte(char c) { return static_cast<unsigned char>(c) <= ' '; }

inline std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && IsBlankByte(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlankByte(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace tarnel
