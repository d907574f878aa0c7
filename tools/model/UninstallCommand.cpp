#include "tools/model/UninstallCommand.h"

#include "tools/model/Blanks.h"

namespace tarnel {

UninstallCommand ParseUninstallCommand(std::string_view text)
{
    text = TrimBlanks(text);
    UninstallCommand out;
    if (text.empty())
        return out;
    const char first = text.front();
    if (first != '\'' && first != '"') {
        const size_t blank = text.find(' ');
        if (blank == std::string_view::npos) {
            out.program = text;
        } else {
            out.program = TrimBlanks(text.substr(0, blank));
            out.parameters = TrimBlanks(text.substr(blank + 1));
        }
        return out;
    }
    const size_t close = text.find(first, 1);
    if (close == std::string_view::npos) {
        out.program = text;
        return out;
    }
    out.program = TrimBlanks(text.substr(1, close - 1));
    // Everything after the closing quote: a parameter written right after it
    // keeps its first character.
    out.parameters = TrimBlanks(text.substr(close + 1));
    return out;
}

std::vector<std::string> SplitParameters(std::string_view parameters)
{
    std::vector<std::string> args;
    std::string current;
    bool inArg = false;
    char quote = 0;
    for (const char c : parameters) {
        if (quote) {
            if (c == quote)
                quote = 0;
            else
                current += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
            inArg = true;
        } else if (IsBlankByte(c)) {
            if (inArg)
                args.push_back(std::move(current));
            current.clear();
            inArg = false;
        } else {
            current += c;
            inArg = true;
        }
    }
    if (inArg)
        args.push_back(std::move(current));
    return args;
}

} // namespace tarnel
