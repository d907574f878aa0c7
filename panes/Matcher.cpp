#include "panes/Matcher.h"

#include "panes/PathUtil.h"

#include <algorithm>
#include <cstdint>

namespace tarnel {

namespace {

bool SameLetter(char a, char b) { return UpperAsciiChar(a) == UpperAsciiChar(b); }

// Positions of the pattern, in two roles: "entry" is about to match pattern[p]
// against the next name character; "scan" is inside a "*" looking for its anchor.
struct MatchStates {
    std::vector<uint32_t> entry, scan, nextEntry, nextScan;
    std::vector<uint32_t> seenEntry, seenScan; // stamp per position, to keep each once
    std::vector<uint8_t> starsFrom;            // 1 when pattern[p..] is only "*"
    uint32_t stamp = 0;

    void Reset(std::string_view pattern)
    {
        const size_t n = pattern.size() + 1;
        if (seenEntry.size() < n) {
            seenEntry.assign(n, 0);
            seenScan.assign(n, 0);
            stamp = 0;
        }
        starsFrom.assign(n, 1);
        for (size_t p = pattern.size(); p-- > 0;)
            starsFrom[p] = pattern[p] == '*' && starsFrom[p + 1];
        entry.clear();
        scan.clear();
    }
    void NextStep()
    {
        if (++stamp == 0) { // wrapped: forget every old stamp
            std::fill(seenEntry.begin(), seenEntry.end(), 0);
            std::fill(seenScan.begin(), seenScan.end(), 0);
            stamp = 1;
        }
        nextEntry.clear();
        nextScan.clear();
    }
    void AddEntry(uint32_t p)
    {
        if (seenEntry[p] != stamp) {
            seenEntry[p] = stamp;
            nextEntry.push_back(p);
        }
    }
    void AddScan(uint32_t p)
    {
        if (seenScan[p] != stamp) {
            seenScan[p] = stamp;
            nextScan.push_back(p);
        }
    }
};

} // namespace

// Runs the matching rule as a set of states over the name, so that a pattern
// with many "*" costs at most pattern length times name length, never the
// exponential time of retrying every "*" recursively.
bool Match(std::string_view pattern, std::string_view name)
{
    if (pattern.find('*') == std::string_view::npos) { // the common plain and "?" patterns
        if (pattern.size() != name.size())
            return false;
        for (size_t i = 0; i < name.size(); ++i)
            if (pattern[i] != '?' && !SameLetter(pattern[i], name[i]))
                return false;
        return true;
    }
    thread_local MatchStates s;
    s.Reset(pattern);
    const auto size = uint32_t(pattern.size());
    s.NextStep();
    s.AddEntry(0);
    for (size_t n = 0;; ++n) {
        std::swap(s.entry, s.nextEntry);
        std::swap(s.scan, s.nextScan);
        if (n == name.size())
            break;
        for (uint32_t p : s.entry) {
            if (p < size && pattern[p] == '*') {
                if (p + 1 == size)
                    return true;
                s.scan.push_back(p);
            }
        }
        if (s.entry.empty() && s.scan.empty())
            return false;
        const char c = name[n];
        s.NextStep();
        for (uint32_t p : s.entry)
            if (p < size && pattern[p] != '*' && (pattern[p] == '?' || SameLetter(pattern[p], c)))
                s.AddEntry(p + 1);
        for (uint32_t p : s.scan) {
            s.AddScan(p);
            if (SameLetter(c, pattern[p + 1]))
                s.AddEntry(p + 2);
        }
    }
    // The name is used up: what remains of the pattern may only be "*".
    for (uint32_t p : s.entry)
        if (s.starsFrom[p])
            return true;
    return false;
}

void ExtensionList::AddPattern(std::string_view text)
{
    std::string lowered(text.substr(0, kMaxLength));
    for (char& c : lowered)
        c = LowerAsciiChar(c);
    // Search with the cut text, so a long filter text is found again next time.
    const auto at = std::lower_bound(items_.begin(), items_.end(), lowered);
    if (at != items_.end() && *at == lowered)
        return;
    const auto index = at - items_.begin();
    if (items_.size() == items_.capacity())
        items_.reserve(items_.capacity() + kGrowth);
    items_.insert(items_.begin() + index, std::move(lowered));
}

std::string ExtensionPatternOf(std::string_view name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return "*";
    std::string pattern = "*";
    pattern.append(name.substr(dot));
    return pattern;
}

} // namespace tarnel
