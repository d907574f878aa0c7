#include "panes/PathUtil.h"

namespace tarnel {

std::string AddPathDelimiter(std::string path)
{
    if (path.empty() || path.back() != '/')
        path.push_back('/');
    return path;
}

std::string ReplaceChar(std::string text, char from, char to)
{
    for (char& c : text)
        if (c == from)
            c = to;
    return text;
}

std::string UpperAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = UpperAsciiChar(c);
    return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperAsciiChar(a[i]) != UpperAsciiChar(b[i]))
            return false;
    return true;
}

} // namespace tarnel
