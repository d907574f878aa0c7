#include "panes/Matcher.h"

#include <gtest/gtest.h>

#include <random>

using tarnel::ExtensionList;
using tarnel::Match;

namespace {

// The matcher as first described: recursive, retrying every "*". The real one
// retries only the latest; both must agree everywhere.
bool Upper(char a, char b) { return (a >= 'a' && a <= 'z' ? a - 32 : a) == (b >= 'a' && b <= 'z' ? b - 32 : b); }
bool ReferenceMatch(std::string_view p, std::string_view n)
{
    if (p.empty())
        return n.empty();
    if (n.empty())
        return p.find_first_not_of('*') == std::string_view::npos;
    if (p[0] == '?')
        return ReferenceMatch(p.substr(1), n.substr(1));
    if (p[0] == '*') {
        if (p.size() == 1)
            return true;
        const char anchor = p[1];
        for (size_t i = 0; i < n.size(); ++i)
            if (Upper(n[i], anchor) && ReferenceMatch(p.substr(2), n.substr(i + 1)))
                return true;
        return false;
    }
    return Upper(p[0], n[0]) && ReferenceMatch(p.substr(1), n.substr(1));
}

} // namespace

TEST(Match, WildcardsAndCase)
{
    EXPECT_TRUE(Match("*", ""));
    EXPECT_TRUE(Match("*", "anything at all"));
    EXPECT_TRUE(Match("*.*", "a.b"));
    EXPECT_FALSE(Match("*.*", "README"));
    EXPECT_TRUE(Match("*.txt", "a.b.txt")); // the anchor scan retries
    EXPECT_TRUE(Match("*.txt", "A.TXT"));
    EXPECT_TRUE(Match("??", "ab"));
    EXPECT_FALSE(Match("??", "a"));
    EXPECT_FALSE(Match("?", ""));
    EXPECT_TRUE(Match("name", "Name"));
    EXPECT_TRUE(Match("name", "NAME"));
    EXPECT_FALSE(Match("name", "Names"));
    EXPECT_FALSE(Match("", "a"));
    EXPECT_TRUE(Match("", ""));
    // Only ASCII letters fold: accented bytes compare exactly.
    EXPECT_FALSE(Match("\xe9", "\xc9"));
}

TEST(Match, AnchorRuleQuirks)
{
    // "?" after "*" is a literal anchor, never a wildcard.
    EXPECT_FALSE(Match("*?", "abc"));
    EXPECT_TRUE(Match("*?", "what?"));
    // Trailing stars match a name used up where they begin, nothing more.
    EXPECT_TRUE(Match("ab**", "ab"));
    EXPECT_FALSE(Match("ab**", "abc"));
    EXPECT_TRUE(Match("a**b", "x*b") == false);
    EXPECT_TRUE(Match("a**b", "a*b"));
    // Separators are ordinary characters: one pattern per filter.
    EXPECT_FALSE(Match("*.txt;*.doc", "a.txt"));
    EXPECT_TRUE(Match("*.txt;*.doc", "a.txt;x.doc"));
}

TEST(Match, AgreesWithTheRecursiveRule)
{
    std::mt19937 rng(1234);
    const std::string patternChars = "ab*?.";
    const std::string nameChars = "abAB.*?";
    for (int round = 0; round < 200000; ++round) {
        std::string p, n;
        for (int i = int(rng() % 7); i > 0; --i)
            p += patternChars[rng() % patternChars.size()];
        for (int i = int(rng() % 9); i > 0; --i)
            n += nameChars[rng() % nameChars.size()];
        ASSERT_EQ(Match(p, n), ReferenceMatch(p, n)) << "pattern '" << p << "' name '" << n << "'";
    }
}

TEST(Match, HostilePatternStaysFast)
{
    const std::string name(5000, 'a');
    std::string pattern;
    for (int i = 0; i < 200; ++i)
        pattern += "*a";
    pattern += "*b";
    EXPECT_FALSE(Match(pattern, name)); // exponential for a naive matcher
}

TEST(ExtensionList, SortedUniqueLowerCasedAndCut)
{
    ExtensionList list;
    list.AddPattern("*");
    list.AddPattern("*.TXT");
    list.AddPattern("*.txt");
    list.AddPattern("*.Doc");
    list.AddPattern("*.averylongextension");
    list.AddPattern("*.AVERYLONGEXTENSION");
    const std::vector<std::string> expected = {"*", "*.averylo", "*.doc", "*.txt"};
    EXPECT_EQ(list.Items(), expected);
}

TEST(ExtensionList, GrowsPastItsFirstRoom)
{
    ExtensionList list;
    for (int i = 0; i < 2600; ++i)
        list.AddPattern("*." + std::to_string(i));
    EXPECT_EQ(list.Items().size(), 2600u);
    EXPECT_TRUE(std::is_sorted(list.Items().begin(), list.Items().end()));
}

TEST(ExtensionPattern, FromTheLastDot)
{
    EXPECT_EQ(tarnel::ExtensionPatternOf("a.b.TXT"), "*.TXT");
    EXPECT_EQ(tarnel::ExtensionPatternOf("README"), "*");
    EXPECT_EQ(tarnel::ExtensionPatternOf(".bashrc"), "*.bashrc");
}
