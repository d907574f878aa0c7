#include "tools/model/RenamePlan.h"

#include "panes/Matcher.h"
#include "panes/PathUtil.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace tarnel {

namespace {

bool OnlyStars(std::string_view text) { return text.find_first_not_of('*') == std::string_view::npos; }

std::string LowerAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = LowerAsciiChar(c);
    return out;
}

// A template after its tokens are replaced: the counter field, if any, lies
// between prefix and suffix.
struct BuiltName {
    std::string prefix;
    std::string suffix;
    int width = 0; // 0: no counter field
};

BuiltName ExpandTemplate(std::string_view templ, std::string_view pattern, std::string_view oldName)
{
    BuiltName out;
    std::string text;
    size_t field = std::string::npos;
    for (size_t i = 0; i < templ.size(); ++i) {
        const char c = templ[i];
        const bool one = c == '[' && i + 2 < templ.size() && templ[i + 2] == ']';
        const bool two = !one && c == '[' && i + 3 < templ.size() && templ[i + 3] == ']';
        if (!one && !two) {
            text += c;
            continue;
        }
        const char x = templ[i + 1];
        const char y = two ? templ[i + 2] : '\0';
        if (x >= '1' && x <= '9') {
            text += StarText(pattern, oldName, x - '0');
        } else if (x == 'C' || x == 'c') {
            out.width = (y >= '1' && y <= '9') ? y - '0' : 4;
            field = text.size();
            text += std::string(size_t(out.width), '0');
        } else if (one) {
            text += x; // [[] gives "[", []] gives "]"
        } else {
            // [XY] with another X is no token: the "[" is plain text.
            text += c;
            continue;
        }
        i += one ? 2 : 3;
    }
    if (field == std::string::npos) {
        out.prefix = std::move(text);
        out.width = 0;
    } else {
        out.prefix = text.substr(0, field);
        out.suffix = text.substr(field + size_t(out.width));
    }
    return out;
}

std::string CounterText(long long value, int width)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.*lld", width, value);
    return buffer;
}

} // namespace

std::string EffectivePattern(std::string_view pattern)
{
    std::string p(pattern);
    if (p.empty() || p.back() != '*')
        p += '*';
    return p;
}

std::string StarText(std::string_view pattern, std::string_view name, int n)
{
    for (int k = 1; k <= n; ++k) {
        const size_t star = pattern.find('*');
        if (star == std::string_view::npos)
            return {};
        name.remove_prefix(std::min(star, name.size()));
        pattern.remove_prefix(star + 1);
        size_t end = name.size();
        if (!OnlyStars(pattern)) {
            // The star ends at the first anchor from which the rest matches.
            end = std::string_view::npos;
            for (size_t i = 0; i < name.size() && end == std::string_view::npos; ++i)
                if (UpperAsciiChar(name[i]) == UpperAsciiChar(pattern[0]) && Match(pattern, name.substr(i)))
                    end = i;
            if (end == std::string_view::npos)
                end = name.size();
        }
        if (k == n)
            return std::string(name.substr(0, end));
        name.remove_prefix(end);
    }
    return {};
}

std::vector<std::string> MatchingNames(const std::vector<std::string>& candidates, std::string_view pattern)
{
    const std::string effective = EffectivePattern(pattern);
    std::vector<std::string> out;
    for (const std::string& name : candidates)
        if (Match(effective, name))
            out.push_back(name);
    return out;
}

std::vector<RenameLine> BuildRenameLines(const std::vector<std::string>& matching, const RenameTemplate& t,
                                         const std::function<bool(const std::string&)>& exists)
{
    const std::string pattern = EffectivePattern(t.pattern);
    std::vector<RenameLine> lines;
    lines.reserve(matching.size());
    std::unordered_set<std::string> given; // upper-cased new names so far
    // The names taken only grow, so for one prefix and suffix the lowest free
    // number never goes down: remembering it keeps 10,000 files from trying
    // 50 million numbers.
    std::unordered_map<std::string, long long> lowestFree;
    for (const std::string& oldName : matching) {
        const std::string source = !t.lowerCase ? oldName : t.lower ? t.lower(oldName) : LowerAscii(oldName);
        const BuiltName built = ExpandTemplate(t.text, pattern, source);
        std::string newName = built.prefix;
        if (built.width > 0) {
            const std::string key = std::to_string(built.prefix.size()) + ':' + built.prefix + built.suffix + '/'
                + std::to_string(built.width);
            auto [memo, fresh] = lowestFree.try_emplace(key, std::max(t.counterStart, 0));
            long long counter = memo->second;
            for (;; ++counter) {
                newName = built.prefix + CounterText(counter, built.width) + built.suffix;
                if (!exists(newName) && !given.count(UpperAscii(newName)))
                    break;
            }
            memo->second = counter;
        }
        given.insert(UpperAscii(newName));
        lines.push_back({oldName, std::move(newName)});
    }
    return lines;
}

bool IsPlainFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos
        && name.find('\0') == std::string_view::npos;
}

CheckResult CheckRenameLines(const std::vector<RenameLine>& lines,
                             const std::function<bool(const std::string&)>& exists,
                             const std::function<void(size_t)>& progress)
{
    // Where each new name occurs last, to find a later duplicate in one pass.
    std::unordered_map<std::string, size_t> lastLine;
    std::unordered_set<std::string> oldNames;
    for (size_t i = 0; i < lines.size(); ++i) {
        lastLine[UpperAscii(lines[i].newName)] = i;
        oldNames.insert(lines[i].oldName);
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (progress)
            progress(i);
        const std::string& name = lines[i].newName;
        if (!IsPlainFileName(name))
            return {CheckResult::Kind::Invalid, name};
        if (lastLine[UpperAscii(name)] > i)
            return {CheckResult::Kind::Duplicate, name};
        if (!oldNames.count(name) && exists(name))
            return {CheckResult::Kind::Exists, name};
    }
    return {};
}

size_t RunRenamePasses(std::vector<RenameLine>& lines,
                       const std::function<bool(const std::string&, const std::string&)>& rename,
                       const std::function<void(size_t)>& progress)
{
    size_t remaining = size_t(std::count_if(lines.begin(), lines.end(), [](const RenameLine& l) { return !l.newName.empty(); }));
    for (bool renamedSome = true; remaining > 0 && renamedSome;) {
        renamedSome = false;
        for (size_t i = 0; i < lines.size(); ++i) {
            RenameLine& line = lines[i];
            if (line.newName.empty())
                continue;
            // A name that would leave the directory is never passed on.
            if (IsPlainFileName(line.newName) && rename(line.oldName, line.newName)) {
                line.newName.clear();
                --remaining;
                renamedSome = true;
            }
            if (progress)
                progress(i);
        }
    }
    return remaining;
}

} // namespace tarnel
