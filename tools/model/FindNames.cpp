#include "tools/model/FindNames.h"

#include "panes/Matcher.h"

namespace tarnel {

namespace {

std::string_view Trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace

FindNamePatterns::FindNamePatterns(std::string_view text)
{
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view part = Trimmed(text.substr(start, end - start));
        start = end + 1;
        if (part.empty())
            continue;
        if (part.front() == '!') {
            part = Trimmed(part.substr(1));
            if (!part.empty())
                leaveOut_.emplace_back(part);
            continue;
        }
        take_.emplace_back(part);
    }
    // "*" among the taking patterns takes everything: the others need not be tried.
    takesAll_ = take_.empty();
    for (const std::string& p : take_)
        takesAll_ = takesAll_ || p.find_first_not_of('*') == std::string::npos;
}

bool FindNamePatterns::LeavesOut(std::string_view name) const
{
    for (const std::string& p : leaveOut_)
        if (Match(p, name))
            return true;
    return false;
}

bool FindNamePatterns::Takes(std::string_view name) const
{
    if (!takesAll_) {
        bool taken = false;
        for (const std::string& p : take_)
            if ((taken = Match(p, name)))
                break;
        if (!taken)
            return false;
    }
    return leaveOut_.empty() || !LeavesOut(name);
}

} // namespace tarnel
