#pragma once
#include <string>
#include <string_view>

namespace tarnel {

// Appends "/" unless the path already ends with it; "" becomes "/".
std::string AddPathDelimiter(std::string path);
// Every occurrence of from replaced by to.
std::string ReplaceChar(std::string text, char from, char to);
// ASCII-only upper-casing, as every case-blind comparison of the program does.
std::string UpperAscii(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
inline char UpperAsciiChar(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
inline char LowerAsciiChar(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

} // namespace tarnel
